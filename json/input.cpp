#include "json/input.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

namespace qk {

using namespace simdjson;

namespace {

ReadResult endOfStream(std::FILE* file, const std::string& text) {
    if (std::ferror(file)) return ReadResult::readError;
    return text.size() > maxInputBytes ? ReadResult::tooLarge : ReadResult::ok;
}

ReadResult readWithin(std::FILE* file, std::string& text) {
    // A regular file tells its size, so the buffer is allocated once; pipes grow it as they go.
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        const auto size = static_cast<std::uintmax_t>(status.st_size);
        if (size > maxInputBytes) return ReadResult::tooLarge;
        text.reserve(text.size() + static_cast<std::size_t>(size) + SIMDJSON_PADDING);
    }
    for (;;) {
        if (text.size() > maxInputBytes) return ReadResult::tooLarge;
        if (text.capacity() - text.size() <= SIMDJSON_PADDING) {
            // Full: grow only if there is more to read, and never far past the limit.
            const int next = std::getc(file);
            if (next == EOF) return endOfStream(file, text);
            text.reserve(
                std::min(text.capacity() * 2 + 65536, maxInputBytes + 1 + SIMDJSON_PADDING));
            text += static_cast<char>(next);
        }
        const std::size_t before = text.size();
        const std::size_t room = text.capacity() - before - SIMDJSON_PADDING;
        text.resize(before + room);
        const std::size_t got = std::fread(text.data() + before, 1, room, file);
        text.resize(before + got);
        if (got < room) return endOfStream(file, text);
    }
}

} // namespace

ReadResult readAll(std::FILE* file, std::string& text) {
    try {
        return readWithin(file, text);
    } catch (const std::bad_alloc&) {
        return ReadResult::noMemory;
    } catch (const std::length_error&) {
        return ReadResult::noMemory;
    }
}

padded_string_view padForJson(std::string& text) {
    if (text.capacity() < text.size() + SIMDJSON_PADDING)
        text.reserve(text.size() + SIMDJSON_PADDING);
    return padded_string_view(text.data(), text.size(), text.capacity());
}

std::string describeJsonError(error_code code) {
    switch (code) {
    case EMPTY:
        return "the input is empty";
    case UTF8_ERROR:
        return "the input is not valid UTF-8";
    case DEPTH_ERROR:
        return "nested too deeply";
    case NUMBER_ERROR:
        return "malformed number, or one that does not fit a double";
    case MEMALLOC:
        return "out of memory";
    case NUMBER_OUT_OF_RANGE:
        return "a number out of range";
    case INCORRECT_TYPE:
        return "wrong type";
    case STRING_ERROR:
        return "malformed string";
    case UNCLOSED_STRING:
        return "a string is not closed";
    case T_ATOM_ERROR:
        return "malformed true";
    case F_ATOM_ERROR:
        return "malformed false";
    case N_ATOM_ERROR:
        return "malformed null";
    case TAPE_ERROR:
        return "not valid JSON";
    default:
        return error_message(code);
    }
}

namespace {

// Values deeper than this are refused rather than walked, so the walk's recursion stays bounded.
constexpr int maxDepth = 256;

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number as JSON writes it: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return i > start;
    };
    if (i < text.size() && text[i] == '-') ++i;
    if (i < text.size() && text[i] == '0') {
        ++i;
    } else if (!digits()) {
        return false;
    }
    if (i < text.size() && text[i] == '.' && (++i, !digits())) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == text.size();
}

} // namespace

error_code scalarSyntax(ondemand::value& value) {
    std::string_view token = value.raw_json_token();
    while (!token.empty() && isWhiteSpace(token.back()))
        token.remove_suffix(1);
    if (token.empty()) return TAPE_ERROR;
    switch (token.front()) {
    case '"':
    case '[':
    case '{':
        return SUCCESS;
    case 't':
        return token == "true" ? SUCCESS : T_ATOM_ERROR;
    case 'f':
        return token == "false" ? SUCCESS : F_ATOM_ERROR;
    case 'n':
        return token == "null" ? SUCCESS : N_ATOM_ERROR;
    default:
        if (token.front() != '-' && !isDigit(token.front())) return TAPE_ERROR;
        return isJsonNumber(token) ? SUCCESS : NUMBER_ERROR;
    }
}

namespace {

error_code skipChecked(ondemand::value value, int depth) {
    if (depth > maxDepth) return DEPTH_ERROR;
    ondemand::json_type type;
    if (auto code = value.type().get(type)) return code;
    switch (type) {
    case ondemand::json_type::array: {
        ondemand::array array;
        if (auto code = value.get_array().get(array)) return code;
        for (auto element : array) {
            ondemand::value inner;
            if (auto code = element.get(inner)) return code;
            if (auto code = skipChecked(inner, depth + 1)) return code;
        }
        return SUCCESS;
    }
    case ondemand::json_type::object: {
        ondemand::object object;
        if (auto code = value.get_object().get(object)) return code;
        for (auto field : object) {
            std::string_view key;
            if (auto code = field.unescaped_key().get(key)) return code;
            if (auto code = skipChecked(field.value(), depth + 1)) return code;
        }
        return SUCCESS;
    }
    case ondemand::json_type::string:
        return value.get_string().error();
    case ondemand::json_type::number:
        if (auto code = scalarSyntax(value)) return code;
        // As a double, so that every number the reader can take passes, however many digits.
        return value.get_double().error();
    case ondemand::json_type::boolean:
        if (auto code = scalarSyntax(value)) return code;
        return value.get_bool().error();
    case ondemand::json_type::null: {
        if (auto code = scalarSyntax(value)) return code;
        bool isNull = false;
        if (auto code = value.is_null().get(isNull)) return code;
        return isNull ? SUCCESS : N_ATOM_ERROR;
    }
    default: // simdjson 4 adds "unknown", a type no valid JSON value has
        break;
    }
    return TAPE_ERROR;
}

} // namespace

error_code skipCheckedValue(ondemand::value value) {
    return skipChecked(value, 0);
}

bool atEnd(ondemand::document& document) {
    return document.current_location().error() == OUT_OF_BOUNDS;
}

namespace {

// The index just past the array or object that starts at text[start], or npos if it never closes.
// Only brackets outside strings count; the reader has checked the rest.
std::size_t endOfValue(std::string_view text, std::size_t start) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if ((c == ']' || c == '}') && --depth == 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Where the value of `text` starts, after white space, or npos if it does not open with `opener`.
std::size_t startOfValue(std::string_view text, char opener) {
    std::size_t start = 0;
    while (start < text.size() && isWhiteSpace(text[start]))
        ++start;
    return start < text.size() && text[start] == opener ? start : std::string_view::npos;
}

} // namespace

std::string_view byteOrderMarkRefused(std::string_view text) {
    if (!text.starts_with("\xEF\xBB\xBF")) return {};
    return "the document begins with a byte-order mark (EF BB BF), which JSON does not allow: "
           "save it as UTF-8 without one";
}

std::string_view whyTopLevelRefused(std::string_view text, char opener) {
    if (const std::string_view why = byteOrderMarkRefused(text); !why.empty()) return why;
    const std::size_t start = startOfValue(text, opener);
    if (start == std::string_view::npos) return {};
    std::size_t end = endOfValue(text, start);
    if (end == std::string_view::npos) return unclosedWords;
    while (end < text.size() && isWhiteSpace(text[end]))
        ++end;
    return end < text.size() ? "unexpected content after the document" : "";
}

bool topLevelUnclosed(std::string_view text, char opener) {
    const std::size_t start = startOfValue(text, opener);
    return start != std::string_view::npos && endOfValue(text, start) == std::string_view::npos;
}

} // namespace qk
