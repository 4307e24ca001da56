// qkscan-sim --text: the timeline of every scenario compared with the expected one
// (scripts/update-transcripts rewrites those after a deliberate change), and how it reads its
// arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "sim/timeline.h"
#include "tests/support/process.h"
#include "tests/support/read_file.h"

namespace qk {
namespace {

namespace fs = std::filesystem;

// Each scenario with the file holding its expected timeline.
std::vector<std::pair<fs::path, fs::path>> timelineFiles() {
    const fs::path source = QKSCAN_SOURCE_DIR;
    const fs::path timelines = source / "tests/scenarios/timeline";
    std::vector<std::pair<fs::path, fs::path>> files;
    for (const auto& entry : fs::directory_iterator(source / "tests/scenarios"))
        if (entry.path().extension() == ".json")
            files.emplace_back(entry.path(),
                               timelines / entry.path().filename().replace_extension(".txt"));
    for (const auto& entry : fs::directory_iterator(source / "examples/scenarios"))
        files.emplace_back(entry.path(), timelines / "examples" /
                                             entry.path().filename().replace_extension(".txt"));
    std::sort(files.begin(), files.end());
    return files;
}

// Terminal columns of a line of UTF-8.
std::size_t columns(const std::string& line) {
    std::size_t count = 0;
    for (const char c : line)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

TEST(Timeline, MatchesTheExpectedOnesAndFitsATerminal) {
    const auto files = timelineFiles();
    ASSERT_GE(files.size(), 20u);
    for (const auto& [scenario, expected] : files) {
        SCOPED_TRACE(scenario.filename().string());
        ASSERT_TRUE(fs::exists(expected)) << "no " << expected;
        const test::Outcome outcome =
            test::run({QKSCAN_SIM_BINARY, "--text", scenario.string()}, "");
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, test::readFile(expected));
        std::istringstream lines(outcome.out);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(columns(line), 80u) << line;
    }
}

TEST(Timeline, ReadsTheScenarioFromStandardInputToo) {
    const test::Outcome outcome =
        test::run({QKSCAN_SIM_BINARY, "--text"},
                  R"({"frontmost":9,"steps":[{"at":0.1,"type":"keyDown","key":"W"}]})");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "    time    event                       what happened\n"
                           "   0.000    parent gets \"ready\"\n"
                           "   0.100    W down                      passed to 9\n"
                           "   0.600    parent closes standard input\n"
                           "   0.600    exit 0\n");
}

TEST(Timeline, Usage) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
    };
    const std::vector<Case> cases = {
        {{"--text", "a", "b"}, 64},
        {{"a", "--text"}, 64},
        {{"--txt"}, 64},
        {{"--text", "--text"}, 64},
        {{"-"}, 64},
        {{"--text", "/nonexistent/scenario.json"}, 66},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {QKSCAN_SIM_BINARY};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(arguments.back());
        const test::Outcome outcome = test::run(arguments, "{}");
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    }
    EXPECT_EQ(test::run({QKSCAN_SIM_BINARY, "--bogus"}, "").err,
              "usage: qkscan-sim [--text] [FILE]\n");
}

// Entries of shapes the simulator does not write (here a second verdict and delivery of an event
// that was never re-posted) are shown as they are, not left out.
TEST(Timeline, ShowsEntriesItCannotPlace) {
    Scenario scenario;
    Step key;
    key.at = 1;
    key.event.type = types::keyDown;
    key.event.key = 13;
    key.event.origin = 0;
    scenario.steps.push_back(key);
    const auto entry = [](Entry::Kind kind, double at, std::int64_t step, Pid pid = 0) {
        Entry e{};
        e.kind = kind;
        e.at = at;
        e.step = step;
        e.pid = pid;
        return e;
    };
    Entry ready = entry(Entry::Kind::out, 0, -1);
    ready.text = R"({"event":"ready","message":""})";
    std::vector<Entry> transcript = {
        ready,
        entry(Entry::Kind::verdict, 1, 0),
        entry(Entry::Kind::deliver, 1, 0, 501),
        entry(Entry::Kind::verdict, 1, 0),
        entry(Entry::Kind::deliver, 1, 0, 777),
        entry(Entry::Kind::exit, 1.5, -1),
    };
    EXPECT_EQ(formatTimeline(scenario, transcript),
              "    time    event                       what happened\n"
              "   0.000    parent gets \"ready\"\n"
              "   1.000    W down                      passed to 501\n"
              "   1.000    copy of step 0              passed\n"
              "   1.000    copy of step 0              received by 777\n"
              "   1.500    parent closes standard input\n"
              "   1.500    exit 0\n");
}

} // namespace
} // namespace qk
