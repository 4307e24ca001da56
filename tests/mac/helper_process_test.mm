// The shipped helper as a process on macOS, in the modes that need no permission: check mode,
// the listening session's exit when the permission is missing, the self-test on the bundled
// sample, and the Info.plist embedded in every architecture of the binary.
#include <gtest/gtest.h>

#import <Foundation/Foundation.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/events.h"
#include "tests/support/process.h"

namespace qk {
namespace {

const std::string permissionPresent = R"({"event":"permission-present","message":""})"
                                      "\n";
const std::string permissionRequired = R"({"event":"permission-required","message":""})"
                                       "\n";
// The listening session's line when the permission is still missing after asking for it.
const std::string permissionRequiredAllow =
    "{\"event\":\"permission-required\",\"message\":\"Na Macu povo\xC4\xBEte aplik\xC3\xA1"
    "ciu v Syst\xC3\xA9mov\xC3\xA9 nastavenia > S\xC3\xBAkromie a bezpe\xC4\x8Dnos\xC5\xA5 > "
    "Pr\xC3\xADstupnos\xC5\xA5. Potom po\xC4\x8D\xC3\xBAvanie zapnite znova.\"}\n";

// The helper under test and the Info.plist it was built with: this build's, or those named by
// QKSCAN_TEST_HELPER and QKSCAN_TEST_INFO_PLIST (CI also tests the universal, stripped and signed
// install this way).
std::string fromEnvironment(const char* variable, const char* otherwise) {
    const char* value = std::getenv(variable);
    return value && *value ? value : otherwise;
}
const std::string helper = fromEnvironment("QKSCAN_TEST_HELPER", QKSCAN_BINARY);
const std::string infoPlist = fromEnvironment("QKSCAN_TEST_INFO_PLIST", QKSCAN_INFO_PLIST);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(HelperProcess, CheckPrintsOneValidLineAndExitsZero) {
    const test::Outcome outcome = test::run({helper, "--check"}, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(outcome.out == permissionPresent || outcome.out == permissionRequired)
        << outcome.out;
    // The helper is started by this test, so the system judges both by the same responsible
    // process and gives them the same answer.
    EXPECT_EQ(outcome.out, platform::trusted() ? permissionPresent : permissionRequired);
}

TEST(HelperProcess, WithoutThePermissionTheSessionPrintsWhatToAllowAndExitsTwo) {
    if (platform::trusted())
        GTEST_SKIP() << "this runner is trusted for Accessibility: the listening session would "
                        "start here, so its exit without the permission cannot be seen";
    // The helper asks the system to prompt (the system may show its dialog), is still not
    // trusted, and ends before it reads anything. Its standard input is closed at once, so that
    // a session that did start would stop again at the end of its input.
    const test::Outcome outcome = test::run({helper}, "");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, permissionRequiredAllow);
    EXPECT_EQ(outcome.err, "");
}

TEST(HelperProcess, SelfTestOnTheBundledSample) {
    const std::string sample = readFile(QKSCAN_SOURCE_DIR "/examples/self-test.json");
    ASSERT_FALSE(sample.empty());
    const test::Outcome outcome = test::run({helper, "--self-test"}, sample);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    // A clean scan, a slow one, one broken by another key, a person's Q and a scan followed by
    // another key instead of Enter.
    EXPECT_EQ(outcome.out, "[[1,1,1,1,1,1,1,3],[1,2,0,0,0,0,0,0],[1,1,1,2,0],[1,2,0,0],"
                           "[1,1,1,1,1,1,1,2]]\n");
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of a section as `otool -s` prints them: each data line is an address, a tab and
// groups of hexadecimal digits. For x86_64 every group is one byte in file order; for other
// processors (arm64) every group is a 32-bit word of the little-endian file, its lowest byte
// first in the file, and a tail shorter than a word is printed as single bytes. Returns false on
// anything else.
bool decodeSectionDump(const std::string& dump, std::string& bytes) {
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0) continue; // the file and section headings
        bool address = true;
        for (std::size_t i = 0; i < tab; ++i)
            address = address && hexDigit(line[i]) >= 0;
        if (!address) continue;
        for (const std::string& group : words(line.substr(tab + 1))) {
            if (group.size() != 2 && group.size() != 8) return false;
            std::uint32_t value = 0;
            for (const char c : group) {
                const int digit = hexDigit(c);
                if (digit < 0) return false;
                value = value << 4 | static_cast<std::uint32_t>(digit);
            }
            for (std::size_t i = 0; i < group.size() / 2; ++i)
                bytes += static_cast<char>(value >> (8 * i) & 0xFF);
        }
    }
    return true;
}

// The Info.plist in the __TEXT,__info_plist section of every architecture of the binary is the
// one CMake configured, and it names the bundle identifier and version it was built with. The
// section is read with otool rather than launchctl plist, because otool prints the raw bytes of
// one chosen architecture, so the comparison with the configured file is exact; the plist is
// then parsed by Foundation, as the system does.
TEST(HelperBinary, CarriesItsInfoPlistInEveryArchitecture) {
    RecordProperty("helper", helper);
    const std::string configured = readFile(infoPlist);
    ASSERT_FALSE(configured.empty()) << "cannot read " << infoPlist;

    const test::Outcome lipo = test::run({"/usr/bin/lipo", "-archs", helper}, "");
    ASSERT_EQ(lipo.status, 0) << lipo.err;
    const std::vector<std::string> architectures = words(lipo.out);
    ASSERT_FALSE(architectures.empty()) << lipo.out;

    for (const std::string& architecture : architectures) {
        SCOPED_TRACE(architecture);
        const test::Outcome otool = test::run(
            {"/usr/bin/otool", "-arch", architecture, "-s", "__TEXT", "__info_plist", helper}, "");
        ASSERT_EQ(otool.status, 0) << otool.err;
        std::string embedded;
        ASSERT_TRUE(decodeSectionDump(otool.out, embedded)) << otool.out;
        EXPECT_EQ(embedded, configured) << otool.out;

        NSData* data = [NSData dataWithBytes:embedded.data() length:embedded.size()];
        NSError* error = nil;
        const id plist = [NSPropertyListSerialization propertyListWithData:data
                                                                   options:0
                                                                    format:nullptr
                                                                     error:&error];
        ASSERT_TRUE([plist isKindOfClass:[NSDictionary class]])
            << (error ? error.localizedDescription.UTF8String : "not a dictionary");
        NSDictionary* info = plist;
        EXPECT_TRUE([info[@"CFBundleIdentifier"] isEqual:@QKSCAN_BUNDLE_ID]);
        EXPECT_TRUE([info[@"CFBundleShortVersionString"] isEqual:@QKSCAN_VERSION]);
        EXPECT_TRUE([info[@"CFBundleVersion"] isEqual:@QKSCAN_VERSION]);
    }
}

} // namespace
} // namespace qk
