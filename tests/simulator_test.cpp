// The session simulator end to end: scenario files in, transcripts compared with the expected
// ones (scripts/update-transcripts rewrites those after a deliberate change).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/simulator.h"
#include "tests/support/process.h"
#include "tests/support/read_file.h"

namespace qk {
namespace {

namespace fs = std::filesystem;

// Each scenario with the file holding its expected transcript.
std::vector<std::pair<fs::path, fs::path>> scenarioFiles() {
    const fs::path source = QKSCAN_SOURCE_DIR;
    std::vector<std::pair<fs::path, fs::path>> files;
    for (const auto& entry : fs::directory_iterator(source / "tests/scenarios"))
        if (entry.path().extension() == ".json")
            files.emplace_back(entry.path(), fs::path(entry.path()).replace_extension(".expected"));
    for (const auto& entry : fs::directory_iterator(source / "examples/scenarios"))
        files.emplace_back(entry.path(),
                           source / "tests/scenarios/examples" /
                               entry.path().filename().replace_extension(".expected"));
    std::sort(files.begin(), files.end());
    return files;
}

TEST(Simulator, TranscriptsMatchTheExpectedOnes) {
    const auto files = scenarioFiles();
    ASSERT_GE(files.size(), 20u);
    for (const auto& [scenario, expected] : files) {
        SCOPED_TRACE(scenario.filename().string());
        ASSERT_TRUE(fs::exists(expected)) << "no " << expected.filename();
        const test::Outcome outcome = test::run({QKSCAN_SIM_BINARY, scenario.string()}, "");
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, test::readFile(expected));
    }
}

TEST(Simulator, ReadsTheScenarioFromStandardInputToo) {
    const test::Outcome outcome = test::run(
        {QKSCAN_SIM_BINARY}, R"({"frontmost":9,"steps":[{"at":0.1,"type":"keyDown","key":1}]})");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out,
              "{\"at\":0,\"out\":\"{\\\"event\\\":\\\"ready\\\",\\\"message\\\":\\\"\\\"}\"}\n"
              "{\"at\":0.1,\"step\":0,\"verdict\":\"pass\"}\n"
              "{\"at\":0.1,\"deliver\":9,\"step\":0}\n"
              "{\"at\":0.6,\"exit\":0}\n");
}

// Comments may hold any number JSON allows, also one no integer type holds, and may repeat.
TEST(Simulator, NotesTakeEveryNumber) {
    std::string json =
        R"({"note":18446744073709551616,"note":"again","steps":[)"
        R"({"at":0,"type":"keyUp","note":[-1e308,12345678901234567890123],"note":0}]})";
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(readScenario(json, scenario, error)) << error;
    EXPECT_EQ(scenario.steps.size(), 1u);
}

// A click re-posts a whole hold into the hardware stream, where each event passes the tap again:
// however long the hold, every event is delivered and shows in the transcript.
TEST(Simulator, EveryEventOfAHugeHoldIsDeliveredAfterAClick) {
    constexpr int keyUps = 100005;
    Scenario scenario;
    const auto add = [&](EventType type, std::int64_t key) {
        Step& step = scenario.steps.emplace_back();
        step.at = 1;
        step.event.type = type;
        step.event.key = key;
        step.event.origin = static_cast<std::int64_t>(scenario.steps.size() - 1);
    };
    add(types::keyDown, 12); // Q starts a hold
    for (int i = 0; i < keyUps; ++i)
        add(types::keyUp, 4); // key-ups are held without a count
    add(types::leftMouseDown, 0);
    std::vector<bool> delivered(scenario.steps.size(), false);
    std::size_t hidPosts = 0;
    for (const Entry& entry : simulate(scenario)) {
        if (entry.kind == Entry::Kind::postHID) ++hidPosts;
        if (entry.kind != Entry::Kind::deliver) continue;
        ASSERT_EQ(entry.pid, 501);
        ASSERT_FALSE(delivered[static_cast<std::size_t>(entry.step)]) << "step " << entry.step;
        delivered[static_cast<std::size_t>(entry.step)] = true;
    }
    EXPECT_EQ(hidPosts, scenario.steps.size());
    EXPECT_EQ(std::count(delivered.begin(), delivered.end(), false), 0);
}

// The first reads of the frontmost application and of the clock happen before the tap exists,
// never at the first Q inside its callback.
TEST(Simulator, TheSessionPreparesTheEventServicesBeforeItCreatesTheTap) {
    const std::vector<Entry> transcript = simulate(Scenario());
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.back().status, 0);
    EXPECT_EQ(sim::world().preparations, 1);
    EXPECT_TRUE(sim::world().preparedBeforeTap);
}

// A scenario written out by formatScenario reads back as the same scenario.
TEST(Simulator, FormattedScenariosReadBack) {
    for (const auto& [path, expected] : scenarioFiles()) {
        SCOPED_TRACE(path.filename().string());
        std::string json = test::readFile(path), error;
        Scenario first, second;
        ASSERT_TRUE(readScenario(json, first, error)) << error;
        std::string again = formatScenario(first);
        ASSERT_TRUE(readScenario(again, second, error)) << error;
        EXPECT_EQ(formatScenario(second), formatScenario(first));
        ASSERT_EQ(second.steps.size(), first.steps.size());
    }
}

struct BadScenario {
    const char* title;
    std::string json;
    const char* error; // part of the error line
};

const std::vector<BadScenario> badScenarios = {
    {"empty", "", "empty"},
    {"not an object", "[]", "not an object"},
    {"unknown member", R"({"trused":true})", "unknown member \"trused\""},
    {"trusted is not a boolean", R"({"trusted":1})", "\"trusted\""},
    {"tapKeys is not a boolean", R"({"tapKeys":"no"})", "\"tapKeys\""},
    {"a trusted step is not a boolean", R"({"steps":[{"at":1,"trusted":0}]})",
     "step 0: \"trusted\""},
    {"a trusted step with a type", R"({"steps":[{"at":1,"type":"keyUp","trusted":false}]})",
     "exactly one"},
    {"negative frontmost", R"({"frontmost":-1})", "\"frontmost\" is out of range"},
    {"frontmost too large", R"({"frontmost":4294967296})", "out of range"},
    {"steps not an array", R"({"steps":{}})", "\"steps\""},
    {"step not an object", R"({"steps":[1]})", "step 0: a step is not an object"},
    {"no at", R"({"steps":[{"type":"keyDown"}]})", "step 0: the step has no \"at\""},
    {"negative at", R"({"steps":[{"at":-1,"type":"keyDown"}]})", "between 0 and 1e9"},
    {"at too far", R"({"steps":[{"at":1e300,"type":"keyDown"}]})", "between 0 and 1e9"},
    {"time going back", R"({"steps":[{"at":1,"type":"keyUp"},{"at":0.5,"type":"keyUp"}]})",
     "step 1: \"at\" goes back in time"},
    {"unknown type", R"({"steps":[{"at":1,"type":"keyPress"}]})", "unknown \"type\""},
    {"no kind", R"({"steps":[{"at":1}]})", "exactly one"},
    {"two kinds", R"({"steps":[{"at":1,"type":"keyUp","stop":"eof"}]})", "exactly one"},
    {"event members without a type", R"({"steps":[{"at":1,"frontmost":2,"key":3}]})",
     "belong to input events"},
    {"key not an integer", R"({"steps":[{"at":1,"type":"keyUp","key":1.5}]})",
     "\"key\" is not a 64-bit integer"},
    {"key beyond 64 bits", R"({"steps":[{"at":1,"type":"keyUp","key":18446744073709551616}]})",
     "\"key\" is not a 64-bit integer"},
    {"flags negative", R"({"steps":[{"at":1,"type":"keyUp","flags":-1}]})", "\"flags\""},
    {"unknown stop", R"({"steps":[{"at":1,"stop":"now"}]})", "\"stop\""},
    {"negative failCopies", R"({"steps":[{"at":1,"failCopies":-2}]})", "out of range"},
    {"trailing content", R"({} {})", "unexpected content after the document"},
    {"a word after the document", R"({} x)", "unexpected content after the document"},
    {"cut short", R"({"steps":[)", "the document ends before its top level is closed"},
    // Cut after a closing bracket, the reader runs off the end at a step that is not there.
    {"cut short after a step", R"({"steps":[{"at":1,"type":"keyUp"}])",
     "scenario: the document ends before its top level is closed"},
    {"cut short after an empty step", R"({"steps":[{})", "scenario: the document ends before"},
    {"cut short after a note", R"({"note":[1])", "scenario: the document ends before"},
    {"malformed note", R"({"note":[tru]})", "\"note\""},
    {"a member name with a line break stays on one line", R"({"\note":true})",
     R"(unknown member "\note")"},
    {"invalid UTF-8", "{\"note\":\"\xC3\"}", "UTF-8"},
    {"a byte-order mark", "\xEF\xBB\xBF{}", "byte-order mark"},
    // Values the JSON reader takes for ones of another type are malformed JSON.
    {"a minus without digits", R"({"steps":[{"at":-,"type":"keyUp"}]})",
     R"(step 0: "at" has a malformed value (malformed number)"},
    {"NaN", R"({"steps":[{"at":NaN,"type":"keyUp"}]})",
     R"(step 0: "at" has a malformed value (not valid JSON))"},
    {"true cut short", R"({"trusted":tru})", R"("trusted" has a malformed value (malformed true))"},
    {"null cut short in a note", R"({"note":[nul]})", R"(malformed "note" (malformed null))"},
    // A member given twice is refused, as the self-test does; notes may repeat.
    {"a step's key twice", R"({"steps":[{"at":1,"type":"keyDown","key":1,"key":2}]})",
     R"(step 0: "key" appears twice)"},
    {"a scenario's member twice", R"({"trusted":true,"trusted":false})",
     R"("trusted" appears twice)"},
};

TEST(Simulator, MalformedScenariosGetOneErrorLineAndStatus65) {
    for (const BadScenario& c : badScenarios) {
        SCOPED_TRACE(c.title);
        const test::Outcome outcome = test::run({QKSCAN_SIM_BINARY}, c.json);
        EXPECT_EQ(outcome.status, 65);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.rfind("qkscan-sim: scenario: ", 0), 0u) << outcome.err;
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
        EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    }
}

// The one-step lines of an input channel too.
TEST(Simulator, AStepLineCutShortSaysSo) {
    for (const char* cut : {R"({"type":"keyDown","key":[12])", R"({"type":"keyDown","note":{})"}) {
        std::string line = cut, error;
        Step step;
        EXPECT_FALSE(readStep(line, step, error));
        EXPECT_EQ(error, "the document ends before its top level is closed");
    }
}

TEST(Simulator, MissingFileAndUsage) {
    EXPECT_EQ(test::run({QKSCAN_SIM_BINARY, "/nonexistent/scenario.json"}, "").status, 66);
    EXPECT_EQ(test::run({QKSCAN_SIM_BINARY, "a", "b"}, "").status, 64);
}

} // namespace
} // namespace qk
