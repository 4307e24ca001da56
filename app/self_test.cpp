#include "app/self_test.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

#include <simdjson.h>

#include "core/matcher.h"
#include "json/input.h"

namespace qk {

namespace {

using namespace simdjson;

// Where in the document a problem was found, counted from 1 for people reading the message.
struct Place {
    std::size_t sequence = 0;
    std::size_t key = 0;
};

std::string describePlace(const Place& place) {
    if (place.sequence == 0) return "";
    std::string text = "sequence " + std::to_string(place.sequence);
    if (place.key != 0) text += ", key " + std::to_string(place.key);
    return text + ": ";
}

class Failure {
public:
    std::string message;
    int status = dataError; // ioError when the reader ran out of memory: not the input's fault
    bool failed() const { return !message.empty(); }
    bool set(const Place& place, std::string_view what) {
        message = describePlace(place) + std::string(what);
        return false;
    }
    bool set(const Place& place, std::string_view what, error_code code) {
        if (code == MEMALLOC) status = ioError;
        return set(place, std::string(what) + " (" + describeJsonError(code) + ")");
    }
    // For the value of `field`, `member`, that could not be read: the reader takes some malformed
    // values (-, tru, NaN) for ones of another type, and then that is what is said.
    bool set(const Place& place, simdjson_result<ondemand::field>& field, std::string_view member,
             std::string_view what, error_code code) {
        ondemand::value value;
        if (code == INCORRECT_TYPE && !field.value().get(value)) {
            if (const error_code syntax = scalarSyntax(value))
                return set(place, std::string(member) + " has a malformed value", syntax);
        }
        return set(place, std::string(member) + std::string(what), code);
    }
};

// Reads one key object into `name` and `at`. Members other than "key" and "at" are checked to be
// well-formed JSON and otherwise ignored.
bool readKey(ondemand::value value, const Place& place, std::string_view& name, double& at,
             Failure& failure) {
    ondemand::object object;
    if (auto code = value.get_object().get(object))
        return failure.set(place, "a key is not an object", code);
    bool haveName = false, haveAt = false;
    for (auto field : object) {
        // The two names looked for are recognised as they are written, which copies nothing; any
        // other name is unescaped first, so that an escaped "key" or "at" still counts.
        ondemand::raw_json_string raw;
        if (auto code = field.key().get(raw))
            return failure.set(place, "malformed member name", code);
        std::string_view member;
        if (raw.unsafe_is_equal("key")) {
            member = "key";
        } else if (raw.unsafe_is_equal("at")) {
            member = "at";
        } else if (auto code = field.unescaped_key().get(member)) {
            return failure.set(place, "malformed member name", code);
        }
        if (member == "key") {
            if (haveName) return failure.set(place, "\"key\" appears twice");
            if (auto code = field.value().get_string().get(name))
                return failure.set(place, field, "\"key\"", " is not a string", code);
            haveName = true;
        } else if (member == "at") {
            if (haveAt) return failure.set(place, "\"at\" appears twice");
            if (auto code = field.value().get_double().get(at))
                return failure.set(place, field, "\"at\"", " is not a usable number", code);
            haveAt = true;
        } else if (auto code = skipCheckedValue(field.value())) {
            return failure.set(place, "malformed value of an ignored member", code);
        }
    }
    if (!haveName) return failure.set(place, "the key object has no \"key\"");
    if (!haveAt) return failure.set(place, "the key object has no \"at\"");
    return true;
}

bool runSequence(ondemand::value value, Place& place, std::string& out, Failure& failure) {
    ondemand::array keys;
    if (auto code = value.get_array().get(keys))
        return failure.set(place, "a sequence is not an array", code);
    Matcher matcher; // every sequence starts idle
    out += '[';
    for (auto element : keys) {
        ++place.key;
        ondemand::value key;
        if (auto code = element.get(key)) return failure.set(place, "malformed key", code);
        std::string_view name;
        double at = 0;
        // The name is a view into the reader's buffer, valid until the next value is read.
        if (!readKey(key, place, name, at, failure)) return false;
        if (place.key > 1) out += ',';
        out += static_cast<char>('0' + matcher.feed(name, at));
    }
    out += ']';
    return true;
}

bool runSequences(ondemand::document& document, padded_string_view json, std::string& out,
                  Failure& failure) {
    Place place;
    ondemand::array sequences;
    if (auto code = document.get_array().get(sequences)) {
        const std::string_view why = whyTopLevelRefused({json.data(), json.size()}, '[');
        if (!why.empty()) return failure.set(place, why);
        return failure.set(place, "the top level is not an array of sequences", code);
    }
    out += '[';
    for (auto element : sequences) {
        ++place.sequence;
        place.key = 0;
        ondemand::value sequence;
        if (auto code = element.get(sequence))
            return failure.set(place, "malformed sequence", code);
        if (place.sequence > 1) out += ',';
        if (!runSequence(sequence, place, out, failure)) return false;
    }
    out += "]\n";
    place = {};
    if (!atEnd(document)) return failure.set(place, "unexpected content after the document");
    return true;
}

bool runDocument(padded_string_view json, std::string& out, Failure& failure) {
    const std::string_view bom = byteOrderMarkRefused({json.data(), json.size()});
    if (!bom.empty()) return failure.set({}, bom);
    ondemand::parser parser;
    ondemand::document document;
    if (auto code = parser.iterate(json).get(document))
        return failure.set({}, "not a JSON document", code);
    if (runSequences(document, json, out, failure)) return true;
    // A document cut short fails at a sequence or key past its end, which does not exist.
    if (failure.status == dataError && topLevelUnclosed({json.data(), json.size()}, '['))
        failure.set({}, unclosedWords);
    return false;
}

} // namespace

int selfTest(std::string& input, std::string& out, std::string& error) {
    out.clear();
    error.clear();
    Failure failure;
    try {
        if (runDocument(padForJson(input), out, failure)) return 0;
        error = "qkscan: self-test input: " + failure.message + "\n";
    } catch (const std::bad_alloc&) {
        failure.status = ioError;
        error = "qkscan: self-test: out of memory\n";
    }
    out.clear();
    return failure.status;
}

namespace {

[[noreturn]] void fail(const std::string& line, int status) {
    std::fputs(line.c_str(), stderr);
    std::exit(status);
}

} // namespace

void runSelfTest() {
    std::string input, out, error;
    switch (readAll(stdin, input)) {
    case ReadResult::ok:
        break;
    case ReadResult::readError:
        fail("qkscan: self-test input: cannot read standard input\n", ioError);
    case ReadResult::tooLarge:
        fail("qkscan: self-test: input larger than " + std::to_string(maxInputBytes) + " bytes\n",
             dataError);
    case ReadResult::noMemory:
        fail("qkscan: self-test: out of memory reading standard input\n", ioError);
    }
    const int status = selfTest(input, out, error);
    if (status != 0) fail(error, status);
    std::fwrite(out.data(), 1, out.size(), stdout);
    // A result that did not reach its reader is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        fail("qkscan: self-test: cannot write the result to standard output\n", ioError);
    std::exit(0);
}

} // namespace qk
