// Inputs nobody should send and outputs that cannot be written, for the self-test and the
// simulator: each ends with one error line and a telling status, never a crash, a hang, or a
// failure reported as success.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/process.h"
#include "json/input.h"

namespace qk {
namespace {

const std::string selfTest = QKSCAN_BINARY;
const std::string simulator = QKSCAN_SIM_BINARY;
const std::string scan = QKSCAN_SOURCE_DIR "/examples/scenarios/clean-scan.json";
const std::string tooLarge = "input larger than " + std::to_string(maxInputBytes) + " bytes";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
constexpr bool addressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool addressSanitizer = false;
#endif

// A file that says it holds 64 GiB but takes no disk space.
class SparseFile {
public:
    SparseFile() {
        path = testing::TempDir() + "qkscan-sparse-XXXXXX";
        const int fd = mkstemp(path.data());
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, off_t{64} << 30), 0);
        close(fd);
    }
    ~SparseFile() { unlink(path.c_str()); }
    SparseFile(const SparseFile&) = delete;
    SparseFile& operator=(const SparseFile&) = delete;
    std::string path;
};

void writeFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
}

void expectOneErrorLine(const test::Outcome& outcome, int status, const std::string& words) {
    EXPECT_EQ(outcome.status, status);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    EXPECT_NE(outcome.err.find(words), std::string::npos) << outcome.err;
}

struct Case {
    const char* title;
    std::vector<std::string> command;
    std::string inputFile; // standard input, or "" for none
    int status;
    std::string words; // part of the error line
};

// Reading stops once the limit is passed (at once for a file that says it is larger), whatever
// is behind standard input.
TEST(HostileInput, HugeOrEndlessInputIsRefusedWithoutReadingItAll) {
    const SparseFile huge;
    const std::vector<Case> cases = {
        {"self-test, endless", {selfTest, "--self-test"}, {"/dev/zero"}, 65, tooLarge},
        {"self-test, 64 GiB", {selfTest, "--self-test"}, {huge.path}, 65, tooLarge},
        {"simulator, endless", {simulator}, {"/dev/zero"}, 65, tooLarge},
        {"simulator, 64 GiB", {simulator, huge.path}, "", 65, tooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        test::Streams streams;
        streams.inputFile = c.inputFile;
        expectOneErrorLine(test::run(c.command, "", streams), c.status, c.words);
    }
}

// Why a memory limit cannot be set for a test here, or null if it can.
const char* whyNoMemoryLimit() {
    if (addressSanitizer)
        return "a memory limit leaves the address sanitizer no room for its shadow memory";
#ifdef __APPLE__
    return "macOS refuses an address-space limit below what a process has already mapped, so "
           "ulimit -v fails in the shell and the program would never start";
#else
    return nullptr;
#endif
}

// Running out of memory while reading is an error of its own. The memory runs out under an
// address-space limit (ulimit -v) on endless input.
TEST(HostileInput, RunningOutOfMemoryWhileReadingIsAnIOError) {
    if (const char* why = whyNoMemoryLimit()) GTEST_SKIP() << why;
    const std::string limitedMemory = "ulimit -v 40000 && exec \"$0\" --self-test";
    test::Streams streams;
    streams.inputFile = "/dev/zero";
    expectOneErrorLine(test::run({"/bin/sh", "-c", limitedMemory, selfTest}, "", streams), 74,
                       "out of memory reading standard input");
}

// A document of a few MiB, well-formed, under a memory limit that lets it be read but leaves the
// JSON reader too little for its index: running out of memory is the system's failure (74), not
// bad input (65).
TEST(HostileInput, ReaderOutOfMemoryIsNotBadInput) {
    if (const char* why = whyNoMemoryLimit()) GTEST_SKIP() << why;
    const std::string padding(8 << 20, 'a');
    const std::string scenario = testing::TempDir() + "qkscan-oom-scenario.json";
    const std::string keys = testing::TempDir() + "qkscan-oom-keys.json";
    writeFile(scenario, R"({"note":")" + padding + R"(","steps":[]})");
    writeFile(keys, R"([[{"key":")" + padding + R"(","at":1}]])");
    const std::string limited = "ulimit -v 40000 && exec \"$0\" \"$1\"";
    const std::vector<Case> cases = {
        {"self-test", {"/bin/sh", "-c", limited, selfTest, "--self-test"}, keys, 74, "memory"},
        {"simulator", {"/bin/sh", "-c", limited, simulator, scenario}, "", 74, "out of memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        test::Streams streams;
        streams.inputFile = c.inputFile;
        expectOneErrorLine(test::run(c.command, "", streams), c.status, c.words);
        // Without the limit the same documents are fine.
        const std::vector<std::string> unlimited(c.command.begin() + 3, c.command.end());
        EXPECT_EQ(test::run(unlimited, "", streams).status, 0);
    }
    unlink(scenario.c_str());
    unlink(keys.c_str());
}

// Output that is lost (a full disk, a closed standard output) is reported, not taken for success.
TEST(HostileInput, UnwritableOutputIsAnError) {
    const bool haveFull = access("/dev/full", W_OK) == 0; // Linux only
    test::Streams full, closed;
    full.outputFile = "/dev/full";
    closed.outputClosed = true;
    std::string longScenario = R"({"steps":[)";
    for (int step = 0; step < 20000; ++step)
        longScenario += std::string(step ? "," : "") + R"({"at":1,"type":"keyUp","key":4})";
    longScenario += "]}";
    const std::string results = "cannot write the result to standard output";
    const std::string transcript = "cannot write the transcript to standard output";
    struct Output {
        const char* title;
        std::vector<std::string> command;
        std::string input;
        test::Streams streams;
        std::string words;
    };
    const std::vector<Output> cases = {
        {"self-test, full", {selfTest, "--self-test"}, "[[]]", full, results},
        {"self-test, closed", {selfTest, "--self-test"}, "[[]]", closed, results},
        {"simulator, short transcript, full", {simulator, scan}, "", full, transcript},
        {"simulator, long transcript, full", {simulator}, longScenario, full, transcript},
        {"simulator, closed", {simulator, scan}, "", closed, transcript},
    };
    for (const Output& c : cases) {
        SCOPED_TRACE(c.title);
        if (c.streams.outputFile == "/dev/full" && !haveFull) continue;
        const test::Outcome outcome = test::run(c.command, c.input, c.streams);
        EXPECT_EQ(outcome.status, 74);
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
        EXPECT_NE(outcome.err.find(c.words), std::string::npos) << outcome.err;
    }
}

} // namespace
} // namespace qk
