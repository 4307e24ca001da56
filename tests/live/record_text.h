// How the live tests' target window reports what it received: one line, "received " and the
// text, with "\" and line breaks escaped as "\\" and "\n". The target programs of every host
// write it and the drivers read it, so that both sides agree on one form.
#pragma once

#include <string>

namespace qk::live {

// The text as the target writes it on its one line.
inline std::string escapedRecord(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// The text back from that line.
inline std::string unescapedRecord(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// The text in quotes with its line breaks shown, for test messages.
inline std::string shownRecord(const std::string& text) {
    std::string out = "\"";
    for (const char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out + "\"";
}

} // namespace qk::live
