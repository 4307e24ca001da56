#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/self_test.h"
#include "core/matcher.h"
#include "tests/support/process.h"

namespace qk {
namespace {

const std::string example =
    R"([[{"key":"Q","at":10.0},{"key":"K","at":10.05},{"key":"D","at":10.1},{"key":"A","at":10.15},)"
    R"({"key":"T","at":10.2},{"key":"U","at":10.25},{"key":"M","at":10.3},{"key":"ENTER","at":10.35}],)"
    R"([{"key":"OTHER","at":1},{"key":"Q","at":2},{"key":"K","at":2.5}]])";

struct Good {
    const char* title;
    std::string input;
    std::string output;
};

const std::vector<Good> good = {
    {"the documented example", example, "[[1,1,1,1,1,1,1,3],[0,1,2]]\n"},
    {"no sequences", "[]", "[]\n"},
    {"one empty sequence", "[[]]", "[[]]\n"},
    {"white space around the document", " \n\t[ [ ] , [ ] ]\r\n ", "[[],[]]\n"},
    {"integer and fractional times",
     R"([[{"key":"Q","at":1},{"key":"K","at":1.05},{"key":"D","at":2}]])", "[[1,1,2]]\n"},
    {"exponents and negative times",
     R"([[{"key":"Q","at":-1e-1},{"key":"K","at":-5E-2},{"key":"D","at":0}]])", "[[1,1,1]]\n"},
    {"times compared in doubles", R"([[{"key":"Q","at":1.0},{"key":"K","at":1.1}]])", "[[1,2]]\n"},
    {"a time that goes back is in time",
     R"([[{"key":"Q","at":5},{"key":"K","at":1},{"key":"D","at":1.05}]])", "[[1,1,1]]\n"},
    {"a sequence cut mid-trigger leaves no trace in the next",
     R"([[{"key":"Q","at":0},{"key":"K","at":0.01}],[{"key":"D","at":0.02}]])", "[[1,1],[0]]\n"},
    {"members in any order, others ignored",
     R"([[{"at":0,"note":{"x":[1,null,true,"s"]},"key":"Q"},{"key":"K","at":0.01,"k":"ENTER"}]])",
     "[[1,1]]\n"},
    {"unknown key names match nothing",
     R"([[{"key":"q","at":0},{"key":"Q","at":0},{"key":"",)"
     R"("at":0},{"key":"\u0051","at":0}]])",
     "[[0,1,2,1]]\n"},
    {"escaped member names are read as names", R"([[{"\u006bey":"Q","\u0061t":0}]])", "[[1]]\n"},
    {"non-ASCII key names are allowed", R"([[{"key":"Qé","at":0}]])", "[[0]]\n"},
    {"ignored members take every number a double can hold",
     R"([[{"key":"Q","at":0,"x":18446744073709551616,"y":[-1e308,1234567890123456789012345]}]])",
     "[[1]]\n"},
    {"huge integers are doubles too",
     R"([[{"key":"Q","at":123456789012345678901234567890},{"key":"K","at":1e29}]])", "[[1,1]]\n"},
};

TEST(SelfTest, WritesTheResultCodesOfEachSequence) {
    for (const Good& c : good) {
        SCOPED_TRACE(c.title);
        std::string input = c.input, out, error;
        EXPECT_EQ(selfTest(input, out, error), 0);
        EXPECT_EQ(out, c.output);
        EXPECT_EQ(error, "");
    }
}

struct Bad {
    const char* title;
    std::string input;
    std::string error; // expected to be part of the error line
};

const std::vector<Bad> bad = {
    {"empty input", "", "empty"},
    {"only white space", "  \n", "empty"},
    {"not JSON", "hello", "not"},
    {"cut short", R"([[{"key":"Q","at":1})", "the document ends before its top level is closed"},
    // Cut after a closing bracket, the reader runs off the end at a sequence that is not there.
    {"cut short after a sequence", "[[{\"key\":\"Q\",\"at\":1}],\n[{\"key\":\"K\",\"at\":2}]\n",
     "input: the document ends before its top level is closed"},
    {"cut short after an empty sequence", "[[]", "input: the document ends before its top level"},
    {"cut short in an ignored member", R"([[{"key":"Q","at":1,"x":[1]})",
     "input: the document ends before its top level"},
    {"content after the document", "[] []", "unexpected content after the document"},
    {"a word after the document", "[[]]x", "unexpected content after the document"},
    {"a closing bracket too many", "[[]]]", "unexpected content after the document"},
    {"top level is an object", R"({"key":"Q","at":1})", "top level"},
    {"top level is a number", "5", "top level"},
    {"a sequence is not an array", R"([[], {"key":"Q","at":1}])", "sequence 2: "},
    {"a key is not an object", R"([[{"key":"Q","at":1}, 7]])", "sequence 1, key 2: "},
    {"no key", R"([[],[],[{"at":1}]])", "sequence 3, key 1: the key object has no \"key\""},
    {"no at", R"([[{"key":"Q"}]])", "sequence 1, key 1: the key object has no \"at\""},
    {"key is a number", R"([[{"key":12,"at":1}]])", "\"key\" is not a string"},
    {"key is null", R"([[{"key":null,"at":1}]])", "\"key\" is not a string"},
    {"at is a string", R"([[{"key":"Q","at":"1"}]])", "\"at\""},
    {"at is true", R"([[{"key":"Q","at":true}]])", "\"at\""},
    {"at does not fit a double", R"([[{"key":"Q","at":1e400}]])", "\"at\""},
    {"malformed number", R"([[{"key":"Q","at":01}]])", "\"at\""},
    {"duplicate key", R"([[{"key":"Q","key":"K","at":1}]])", "twice"},
    {"invalid UTF-8", "[[{\"key\":\"\xFF\",\"at\":1}]]", "UTF-8"},
    {"invalid UTF-8 outside strings", "[[]]\xC3", ""},
    {"bad escape", R"([[{"key":"\x","at":1}]])", "\"key\""},
    {"malformed ignored member", R"([[{"key":"Q","at":1,"x":tru}]])",
     "ignored member (malformed true)"},
    // Values the JSON reader takes for ones of another type are malformed JSON.
    {"a minus without digits", R"([[{"key":"Q","at":1,"x":-}]])",
     "ignored member (malformed number"},
    {"NaN", R"([[{"key":"Q","at":NaN}]])", "\"at\" has a malformed value (not valid JSON)"},
    {"true cut short as the time", R"([[{"key":"Q","at":tru}]])",
     "\"at\" has a malformed value (malformed true)"},
    {"null cut short as the key", R"([[{"key":nul,"at":1}]])",
     "\"key\" has a malformed value (malformed null)"},
    {"a byte-order mark", "\xEF\xBB\xBF[[]]", "byte-order mark"},
    {"ignored number too large for a double", R"([[{"key":"Q","at":1,"x":1e400}]])",
     "ignored member (malformed number, or one that does not fit a double)"},
    {"malformed deep ignored member", R"([[{"key":"Q","at":1,"x":[{"a":[nul]}]}]])",
     "ignored member"},
    {"trailing comma", R"([[{"key":"Q","at":1},]])", "sequence 1, key 2"},
    {"missing comma", R"([[{"key":"Q","at":1} {"key":"Q","at":1}]])", ""},
    {"nesting deeper than the reader allows", std::string(5000, '[') + std::string(5000, ']'), ""},
    {"deep nesting in an ignored member",
     R"([[{"key":"Q","at":1,"x":)" + std::string(3000, '[') + std::string(3000, ']') + "}]]",
     "nested too deeply"},
    {"a NUL byte", std::string("[[]\0]", 5), ""},
};

TEST(SelfTest, RefusesMalformedInputWithOneLineSayingWhereAndWhat) {
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.title);
        std::string input = c.input, out, error;
        EXPECT_EQ(selfTest(input, out, error), dataError);
        EXPECT_EQ(out, "");
        ASSERT_FALSE(error.empty());
        EXPECT_EQ(error.rfind("qkscan: self-test input: ", 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// Sequences the tests above do not spell out: random keys and times, written as JSON the way
// recordings come (short decimals and full precision), must give what the matcher gives when
// fed directly.
TEST(SelfTest, AgreesWithTheMatcherOnRandomSequences) {
    std::mt19937_64 random(20261210);
    const char* names[] = {"Q", "K", "D", "A", "T", "U", "M", "ENTER", "OTHER"};
    const double steps[] = {0.0, 0.01, 0.05, 0.1, 0.1000000001, 0.099999999, 0.11, 0.5, -0.01};
    std::string input = "[";
    std::string expected = "[";
    for (int s = 0; s < 300; ++s) {
        input += s ? ",[" : "[";
        expected += s ? ",[" : "[";
        Matcher matcher;
        double at = static_cast<double>(random() % 1000) / 10;
        const int length = static_cast<int>(random() % 20);
        for (int k = 0; k < length; ++k) {
            // Mostly the trigger in order, so that long runs and completions happen.
            const char* name = random() % 4 ? names[k % 8] : names[random() % 9];
            at += steps[random() % 9];
            char time[40];
            std::snprintf(time, sizeof time, random() % 2 ? "%.17g" : "%.3f", at);
            const double written = std::strtod(time, nullptr);
            input += std::string(k ? "," : "") + "{\"key\":\"" + name + "\",\"at\":" + time + "}";
            expected += std::string(k ? "," : "") + std::to_string(matcher.feed(name, written));
        }
        input += "]";
        expected += "]";
    }
    input += "]";
    expected += "]\n";
    std::string out, error;
    ASSERT_EQ(selfTest(input, out, error), 0) << error;
    EXPECT_EQ(out, expected);
}

// The same through the real executable: the result on standard output, nothing else.
TEST(SelfTestProcess, RunsFromStandardInputAndExitsZero) {
    for (const Good& c : good) {
        SCOPED_TRACE(c.title);
        const test::Outcome outcome = test::run({QKSCAN_BINARY, "--self-test"}, c.input);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, c.output);
        EXPECT_EQ(outcome.err, "");
    }
}

TEST(SelfTestProcess, MalformedInputGivesOneErrorLineNoOutputAndStatus65) {
    for (const Bad& c : bad) {
        SCOPED_TRACE(c.title);
        const test::Outcome outcome = test::run({QKSCAN_BINARY, "--self-test"}, c.input);
        EXPECT_EQ(outcome.status, 65);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    }
}

TEST(SelfTestProcess, SelfTestIsFoundInAnyArgumentAndWinsOverCheck) {
    const std::vector<std::vector<std::string>> commands = {
        {QKSCAN_BINARY, "--check", "--self-test"},
        {QKSCAN_BINARY, "--self-test", "--check"},
        {QKSCAN_BINARY, "extra", "--self-test", "more"},
    };
    for (const auto& command : commands) {
        const test::Outcome outcome = test::run(command, "[[]]");
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, "[[]]\n");
    }
}

} // namespace
} // namespace qk
