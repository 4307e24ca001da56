#include "app/json_input.h"

#include <sys/stat.h>

namespace qk {

using namespace simdjson;

bool readAll(std::FILE* file, std::string& text) {
    // A regular file tells its size, so the buffer is allocated once; pipes grow it as they go.
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
        text.reserve(text.size() + static_cast<std::size_t>(status.st_size) + SIMDJSON_PADDING);
    for (;;) {
        if (text.capacity() - text.size() <= SIMDJSON_PADDING) {
            // Full: grow only if there is more to read.
            const int next = std::getc(file);
            if (next == EOF) return !std::ferror(file);
            text.reserve(text.capacity() * 2 + 65536);
            text += static_cast<char>(next);
        }
        const std::size_t before = text.size();
        const std::size_t room = text.capacity() - before - SIMDJSON_PADDING;
        text.resize(before + room);
        const std::size_t got = std::fread(text.data() + before, 1, room, file);
        text.resize(before + got);
        if (got < room) return !std::ferror(file);
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
    case ondemand::json_type::number:
        return value.get_number().error();
    case ondemand::json_type::string:
        return value.get_string().error();
    case ondemand::json_type::boolean:
        return value.get_bool().error();
    case ondemand::json_type::null: {
        bool isNull = false;
        if (auto code = value.is_null().get(isNull)) return code;
        return isNull ? SUCCESS : N_ATOM_ERROR;
    }
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

} // namespace qk
