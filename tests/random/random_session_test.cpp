// The randomized listening session: many seeded sessions of realistic and hostile input run
// through the session simulator, each transcript checked against every promise. The seed count
// comes from QKSCAN_RANDOM_SEEDS (default 20000 seeds: over three million input events) and the
// first seed from QKSCAN_RANDOM_SEED, so a soak is one command:
//     QKSCAN_RANDOM_SEEDS=1000000 build/ci/tests/random/qk_random_tests
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sim/scenario.h"
#include "sim/simulator.h"
#include "tests/random/failure_report.h"
#include "tests/random/session_generator.h"
#include "tests/random/session_invariants.h"
#include "tests/support/read_file.h"

namespace qk::soak {
namespace {

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    return std::strtoull(text, nullptr, 10);
}

TEST(RandomSessions, KeepEveryPromise) {
    const std::uint64_t seeds = fromEnvironment("QKSCAN_RANDOM_SEEDS", 20000);
    const std::uint64_t first = fromEnvironment("QKSCAN_RANDOM_SEED", 1);
    constexpr int reported = 3; // shrinking takes a while; the first few failures tell enough
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    int failures = 0;
    for (std::uint64_t seed = first; seed < first + seeds && failures < reported; ++seed) {
        const Scenario scenario = generateSession(seed);
        const std::vector<Violation> violations = runAndCheck(scenario, &tally);
        if (violations.empty()) continue;
        ++failures;
        ADD_FAILURE() << failureReport(seed, scenario, violations);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seeds %llu..%llu: %ld input events in %.1f s; %ld delivered, %ld recognised "
                "triggers (%ld scans under the recognition promise), %ld trigger keys and %ld "
                "key-ups swallowed, %ld holds posted back, %ld lost to failed copies, %ld in holds "
                "without a frontmost application\n",
                static_cast<unsigned long long>(first),
                static_cast<unsigned long long>(first + seeds - 1), tally.inputs, seconds,
                tally.delivered, tally.triggers, tally.guaranteed, tally.discarded,
                tally.swallowedUps, tally.releases, tally.lostToCopies, tally.noFrontmost);
    // The generator must go on producing what the promises speak about, or they are checked on
    // nothing.
    if (failures == 0 && seeds >= 100) {
        EXPECT_GT(tally.guaranteed, 0);
        EXPECT_GT(tally.swallowedUps, 0);
        EXPECT_GT(tally.releases, 0);
    }
}

// Scenarios kept from earlier failures (and hand-written corner cases) keep every promise.
TEST(RandomSessions, RegressionScenariosKeepEveryPromise) {
    namespace fs = std::filesystem;
    const fs::path directory = fs::path(QKSCAN_SOURCE_DIR) / "tests/random/regressions";
    for (const auto& file : fs::directory_iterator(directory)) {
        if (file.path().extension() != ".json") continue;
        SCOPED_TRACE(file.path().filename().string());
        std::string json = test::readFile(file.path());
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(readScenario(json, scenario, error)) << error;
        const std::vector<Violation> violations = runAndCheck(scenario);
        EXPECT_TRUE(violations.empty()) << describe(violations);
    }
}

} // namespace
} // namespace qk::soak
