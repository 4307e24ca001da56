#include "sim/timeline_layout.h"

#include <cstdio>
#include <string_view>

namespace qk {

namespace {

constexpr std::size_t timeWidth = 8;
constexpr std::size_t eventWidth = 26;
constexpr std::size_t lineWidth = 80;
// Where the event column starts: the time, two spaces and the bracket.
constexpr std::size_t eventColumn = timeWidth + 2 + 2;

// Columns that `text` takes on a terminal: one per character of its UTF-8 (continuation bytes
// take none).
std::size_t columns(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::string timeField(const std::optional<double>& at) {
    if (!at) return std::string(timeWidth, ' ');
    char text[32];
    std::snprintf(text, sizeof text, "%*.3f", static_cast<int>(timeWidth), *at);
    return text;
}

std::string_view bracketGlyph(TimelineRow::Bracket bracket) {
    switch (bracket) {
    case TimelineRow::Bracket::open:
        return "┌ ";
    case TimelineRow::Bracket::inside:
        return "│ ";
    case TimelineRow::Bracket::close:
        return "└ ";
    case TimelineRow::Bracket::none:
        break;
    }
    return "  ";
}

// The bracket on the lines of a wrapped message: the hold's line goes on past them.
std::string_view continuationGlyph(TimelineRow::Bracket bracket) {
    const bool inHold =
        bracket == TimelineRow::Bracket::open || bracket == TimelineRow::Bracket::inside;
    return inHold ? "│ " : "  ";
}

// Splits `text` at spaces into lines of at most `width` columns (a longer word gets a line of
// its own).
std::vector<std::string> wrap(std::string_view text, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (!line.empty() && columns(line) + 1 + columns(word) > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void appendRow(std::string& out, const TimelineRow& row) {
    std::string line = timeField(row.at) + "  ";
    line += bracketGlyph(row.bracket);
    line += row.event;
    if (!row.verdict.empty()) {
        const std::size_t used = columns(row.event);
        line.append(used < eventWidth ? eventWidth - used : 0, ' ');
        line += "  " + row.verdict;
    }
    out += line + "\n";
    const std::string indent = std::string(timeWidth + 2, ' ');
    for (const std::string& text : wrap(row.message, lineWidth - eventColumn - 2)) {
        out += indent;
        out += continuationGlyph(row.bracket);
        out += "  " + text + "\n";
    }
}

} // namespace

std::string layoutTimeline(const std::vector<TimelineRow>& rows) {
    std::string out = std::string(timeWidth - 4, ' ') + "time    event";
    out += std::string(eventWidth - 5 + 2, ' ') + "what happened\n";
    for (const TimelineRow& row : rows)
        appendRow(out, row);
    return out;
}

} // namespace qk
