// Scenarios written with key names and the "text" short-hand read as the same scenarios as their
// numeric, one-event-per-step forms.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/trigger.h"
#include "sim/key_names.h"
#include "sim/scenario.h"
#include "sim/scenario_values.h"
#include "tests/support/process.h"

namespace qk {
namespace {

// The scenario `json` written out in the document format, or the error that reading it gave.
std::string readBack(std::string json) {
    Scenario scenario;
    std::string error;
    if (!readScenario(json, scenario, error)) return "error: " + error;
    return formatScenario(scenario);
}

std::string oneKey(const std::string& key) {
    return R"({"steps":[{"at":1,"type":"keyDown","key":)" + key + "}]}";
}

TEST(KeyNames, EachNameReadsAsItsCode) {
    for (const KeyName& key : keyNames()) {
        SCOPED_TRACE(std::string(key.name));
        EXPECT_EQ(readBack(oneKey("\"" + std::string(key.name) + "\"")),
                  readBack(oneKey(std::to_string(key.code))));
        EXPECT_EQ(nameOfKey(key.code), key.name);
    }
}

TEST(KeyNames, NamesAndCodesAreUnique) {
    std::set<std::string_view> names;
    std::set<KeyCode> codes;
    for (const KeyName& key : keyNames()) {
        EXPECT_TRUE(names.insert(key.name).second) << key.name;
        EXPECT_TRUE(codes.insert(key.code).second) << key.code;
    }
    EXPECT_EQ(names.size(), 113u);
}

// A sample of the system's virtual key codes, and the keys the trigger is typed with as the
// trigger matcher knows them.
TEST(KeyNames, AgreeWithTheSystemsKeyCodes) {
    const std::vector<KeyName> sample = {
        {0, "A"},           {12, "Q"},           {13, "W"},      {29, "0"},
        {18, "1"},          {25, "9"},           {36, "Return"}, {48, "Tab"},
        {49, "Space"},      {51, "Delete"},      {53, "Escape"}, {55, "Command"},
        {56, "Shift"},      {57, "CapsLock"},    {58, "Option"}, {59, "Control"},
        {60, "RightShift"}, {76, "KeypadEnter"}, {122, "F1"},    {126, "UpArrow"},
    };
    for (const KeyName& key : sample)
        EXPECT_EQ(keyCodeOf(key.name), key.code) << key.name;
    for (const Letter& letter : letters)
        EXPECT_EQ(keyCodeOf(letter.name), letter.key) << letter.name;
    EXPECT_EQ(keyCodeOf("Return"), returnKey);
    EXPECT_EQ(keyCodeOf("KeypadEnter"), keypadEnterKey);
}

TEST(KeyNames, AreCaseSensitive) {
    EXPECT_EQ(keyCodeOf("return"), std::nullopt);
    EXPECT_EQ(keyCodeOf("q"), std::nullopt);
    EXPECT_EQ(keyNameIgnoringCase("rETURN"), "Return");
    EXPECT_EQ(keyNameIgnoringCase("Retur"), "");
    EXPECT_EQ(nameOfKey(10), ""); // a code the table does not name
}

// A whole document in both forms, every kind of event, every modifier's flag and the start-up
// members included.
TEST(KeyNames, ANamedScenarioIsTheNumericOne) {
    const std::string named = R"({"frontmost":7,"steps":[
        {"at":0.5,"type":"flagsChanged","key":"Shift","flags":"Shift"},
        {"at":0.6,"type":"keyDown","key":"Q","flags":["Shift"],"autorepeat":1,"userData":5},
        {"at":0.7,"type":"keyUp","key":"KeypadEnter","flags":["Control","Option","Command"]},
        {"at":0.8,"type":"leftMouseDown","key":"Space","flags":["CapsLock","Function","CapsLock"]},
        {"at":0.9,"frontmost":9},
        {"at":1.0,"type":"keyDown","key":7,"flags":[]}]})";
    const std::string numeric = R"({"frontmost":7,"steps":[
        {"at":0.5,"type":"flagsChanged","key":56,"flags":131072},
        {"at":0.6,"type":"keyDown","key":12,"flags":131072,"autorepeat":1,"userData":5},
        {"at":0.7,"type":"keyUp","key":76,"flags":1835008},
        {"at":0.8,"type":"leftMouseDown","key":49,"flags":8454144},
        {"at":0.9,"frontmost":9},
        {"at":1.0,"type":"keyDown","key":7}]})";
    EXPECT_EQ(readBack(named), readBack(numeric));
    EXPECT_EQ(readBack(named).rfind("error", 0), std::string::npos) << readBack(named);
}

struct Typed {
    const char* title;
    std::string shortHand; // the steps with the short-hand
    std::string steps;     // the same steps written out
};

const std::vector<Typed> typed = {
    {"lower-case letters: down, and up half an interval later",
     R"({"at":0.5,"type":"text","text":"qu","interval":0.06})",
     R"({"at":0.5,"type":"keyDown","key":12},{"at":0.53,"type":"keyUp","key":12},
        {"at":0.56,"type":"keyDown","key":32},{"at":0.59,"type":"keyUp","key":32})"},
    {"a capital has Shift pressed around it",
     R"({"at":1,"type":"text","text":"Qu","interval":0.1})",
     R"({"at":1,"type":"flagsChanged","key":56,"flags":131072},
        {"at":1,"type":"keyDown","key":12,"flags":131072},
        {"at":1.05,"type":"keyUp","key":12,"flags":131072},
        {"at":1.05,"type":"flagsChanged","key":56,"flags":0},
        {"at":1.1,"type":"keyDown","key":32},{"at":1.15,"type":"keyUp","key":32})"},
    {"digits, space, tab and line break",
     R"({"at":2,"type":"text","text":"4 \t\n","interval":0.002})",
     R"({"at":2,"type":"keyDown","key":21},{"at":2.001,"type":"keyUp","key":21},
        {"at":2.002,"type":"keyDown","key":49},{"at":2.003,"type":"keyUp","key":49},
        {"at":2.004,"type":"keyDown","key":48},{"at":2.005,"type":"keyUp","key":48},
        {"at":2.006,"type":"keyDown","key":36},{"at":2.007,"type":"keyUp","key":36})"},
    // Without rounding, 0.5 + 3 × 0.06 would be 0.6799999999999999.
    {"times are rounded to the microsecond",
     R"({"at":0.5,"type":"text","text":"aaaa","interval":0.06})",
     R"({"at":0.5,"type":"keyDown","key":0},{"at":0.53,"type":"keyUp","key":0},
        {"at":0.56,"type":"keyDown","key":0},{"at":0.59,"type":"keyUp","key":0},
        {"at":0.62,"type":"keyDown","key":0},{"at":0.65,"type":"keyUp","key":0},
        {"at":0.68,"type":"keyDown","key":0},{"at":0.71,"type":"keyUp","key":0})"},
    {"a zero interval types everything at one time",
     R"({"at":3,"type":"text","text":"ab","interval":0})",
     R"({"at":3,"type":"keyDown","key":0},{"at":3,"type":"keyUp","key":0},
        {"at":3,"type":"keyDown","key":11},{"at":3,"type":"keyUp","key":11})"},
    {"an empty text types nothing", R"({"at":3,"type":"text","text":"","interval":1})", ""},
    {"steps around it keep their order",
     R"({"at":0.1,"frontmost":9},{"at":0.2,"type":"text","text":"a","interval":0.1},
        {"at":0.25,"stop":"line"})",
     R"({"at":0.1,"frontmost":9},{"at":0.2,"type":"keyDown","key":0},
        {"at":0.25,"type":"keyUp","key":0},{"at":0.25,"stop":"line"})"},
};

TEST(Typing, ReadsAsTheStepsThatTypeTheText) {
    for (const Typed& c : typed) {
        SCOPED_TRACE(c.title);
        const std::string shortHand = readBack(R"({"steps":[)" + c.shortHand + "]}");
        EXPECT_EQ(shortHand, readBack(R"({"steps":[)" + c.steps + "]}"));
        EXPECT_EQ(shortHand.rfind("error", 0), std::string::npos) << shortHand;
    }
}

// The transcript's step numbers are those of the typed steps, one after the other.
TEST(Typing, TypedStepsAreNumberedInOrder) {
    std::string json = R"({"steps":[{"at":0,"frontmost":3},
        {"at":1,"type":"text","text":"Ab","interval":0.1},{"at":2,"type":"keyDown","key":1}]})";
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(readScenario(json, scenario, error)) << error;
    ASSERT_EQ(scenario.steps.size(), 8u);
    for (std::size_t i = 1; i < scenario.steps.size(); ++i)
        EXPECT_EQ(scenario.steps[i].event.origin, static_cast<std::int64_t>(i));
    EXPECT_EQ(scenario.steps[7].event.key, 1);
}

// A line of an input channel is one event: the short-hand is not read there.
TEST(Typing, NotInAChannelLine) {
    std::string line = R"({"type":"text","text":"q","interval":0.1})";
    Step step;
    std::string error;
    EXPECT_FALSE(readStep(line, step, error));
    EXPECT_NE(error.find("\"text\" step is not allowed"), std::string::npos) << error;
    line = R"({"type":"keyDown","key":"Q"})";
    ASSERT_TRUE(readStep(line, step, error)) << error;
    EXPECT_EQ(step.event.key, 12);
}

// A step typing `text`, a key every 0.1 s.
std::string typingOf(const std::string& text) {
    return R"({"at":1,"type":"text","text":")" + text + R"(","interval":0.1})";
}

struct Bad {
    const char* title;
    std::string steps; // the scenario's steps
    const char* error; // part of the error line
};

const std::vector<Bad> bad = {
    {"an unknown key name", R"({"at":1,"type":"keyDown","key":"Foo"})",
     R"(step 0: unknown key name "Foo")"},
    {"a name in the wrong case", R"({"at":1,"type":"keyUp","key":"return"})",
     R"(unknown key name "return" (names are case-sensitive: "Return"))"},
    {"an empty name", R"({"at":1,"type":"keyDown","key":""})", R"(unknown key name "")"},
    {"another system's name", R"({"at":1,"type":"keyDown","key":"Enter"})",
     R"(unknown key name "Enter" (did you mean "Return"?))"},
    {"another system's name in capitals", R"({"at":1,"type":"keyDown","key":"ENTER"})",
     R"(unknown key name "ENTER" (did you mean "Return"?))"},
    {"a name with two letters swapped", R"({"at":1,"type":"keyUp","key":"Escpae"})",
     R"(unknown key name "Escpae" (did you mean "Escape"?))"},
    {"a name close to none gets no guess", R"({"at":1,"type":"keyUp","key":"Keyboard"})",
     "unknown key name \"Keyboard\"\n"},
    {"an unknown flag name", R"({"at":1,"type":"keyUp","flags":["Shift","Ctrl"]})",
     R"(unknown flag name "Ctrl" (did you mean "Control"?); the names are CapsLock, Shift)"},
    {"a key name that names no flag", R"({"at":1,"type":"keyUp","flags":"Space"})",
     R"(unknown flag name "Space"; the names are)"},
    {"flags as a list of numbers", R"({"at":1,"type":"keyUp","flags":[131072]})",
     R"("flags" lists something that is not a modifier's name)"},
    {"flags that are neither", R"({"at":1,"type":"keyUp","flags":true})",
     R"("flags" is not a number, a modifier's name or a list of them)"},
    {"a name with a line break stays on one line", R"({"at":1,"type":"keyDown","key":"Q\n"})",
     R"(unknown key name "Q\n")"},
    {"a key that is neither: true", R"({"at":1,"type":"keyDown","key":true})",
     R"("key" is not a key code or a key name)"},
    {"a key that is neither: null", R"({"at":1,"type":"keyDown","key":null})",
     R"("key" is not a key code or a key name)"},
    {"a key that is neither: a list", R"({"at":1,"type":"keyDown","key":[12]})",
     R"("key" is not a key code or a key name)"},
    {"errors count the steps as written",
     R"({"at":1,"type":"text","text":"ab","interval":0.1},{"at":2,"type":"keyDown","key":"No"})",
     R"(step 1: unknown key name "No")"},
    {"a character the short-hand cannot type", R"({"at":1,"type":"text","text":"a!","interval":1})",
     R"(step 0: "text" cannot type "!")"},
    {"a character beyond ASCII", R"({"at":1,"type":"text","text":"\u00e9","interval":1})",
     "cannot type \"\xC3\xA9\""},
    {"a control character", R"({"at":1,"type":"text","text":"\u0001","interval":1})",
     R"(cannot type "\u0001")"},
    {"no interval", R"({"at":1,"type":"text","text":"a"})", R"(needs "text" and "interval")"},
    {"no text", R"({"at":1,"type":"text","interval":1})", R"(needs "text" and "interval")"},
    {"a negative interval", R"({"at":1,"type":"text","text":"a","interval":-0.1})",
     R"("interval" is out of range)"},
    {"an interval that is no number", R"({"at":1,"type":"text","text":"a","interval":"fast"})",
     R"("interval" is not a usable number)"},
    {"a text that is no string", R"({"at":1,"type":"text","text":5,"interval":1})",
     R"("text" is not a string)"},
    {"a text with a key", R"({"at":1,"type":"text","text":"a","interval":1,"key":"Q"})",
     R"("text" step types its own keys)"},
    {"text on a key-down", R"({"at":1,"type":"keyDown","text":"a"})",
     R"(belong to steps of type "text")"},
    {"an interval on a stop", R"({"at":1,"stop":"eof","interval":1})",
     R"(belong to steps of type "text")"},
    {"typing past the latest time", R"({"at":1e9,"type":"text","text":"a","interval":1})",
     R"("text" goes on past)"},
    {"a step before the typing ends",
     R"({"at":1,"type":"text","text":"ab","interval":1},{"at":1.5,"stop":"eof"})",
     R"(step 1: "at" goes back in time)"},
    {"a step before an empty text",
     R"({"at":5,"type":"text","text":"","interval":1},{"at":1,"type":"keyUp"})",
     R"(step 1: "at" goes back in time)"},
    // Two steps per lower-case letter: refused before any is made, whatever their memory.
    {"typing more steps than a scenario may have",
     typingOf(std::string(scenario::maxSteps / 2 + 1, 'a')), "more than a scenario may have"},
    {"typed steps count with the others",
     R"({"at":0,"type":"keyUp"},)" + typingOf(std::string(scenario::maxSteps / 2, 'a')),
     R"(step 1: "text" types )"},
};

// The timeline refuses what the transcript refuses.
TEST(NamesAndTyping, MalformedStepsGetOneErrorLineAndStatus65) {
    for (const Bad& c : bad) {
        for (const char* text : {"", "--text"}) {
            SCOPED_TRACE(std::string(c.title) + " " + text);
            std::vector<std::string> arguments = {QKSCAN_SIM_BINARY};
            if (*text) arguments.emplace_back(text);
            const test::Outcome outcome = test::run(arguments, R"({"steps":[)" + c.steps + "]}");
            EXPECT_EQ(outcome.status, 65);
            EXPECT_EQ(outcome.out, "");
            EXPECT_EQ(outcome.err.rfind("qkscan-sim: scenario: ", 0), 0u) << outcome.err;
            EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
            EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
        }
    }
}

} // namespace
} // namespace qk
