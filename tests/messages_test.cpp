#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parent/messages.h"
#include "json/text.h"

namespace qk {
namespace {

std::vector<std::string> lines;
bool collect(std::string_view line) {
    lines.emplace_back(line);
    return true;
}

class Emit : public ::testing::Test {
protected:
    void SetUp() override {
        lines.clear();
        setEmitSink(collect);
    }
    void TearDown() override { setEmitSink(nullptr); }
};

TEST_F(Emit, WritesEachMessageAsOneCompactLine) {
    struct Row {
        Message message;
        std::string line;
    };
    // The Slovak texts are spelled out byte by byte, so that a change of encoding shows.
    const std::vector<Row> rows = {
        {messages::ready, "{\"event\":\"ready\",\"message\":\"\"}\n"},
        {messages::dispatchDate, "{\"event\":\"dispatch-date\",\"message\":\"\"}\n"},
        {messages::permissionPresent, "{\"event\":\"permission-present\",\"message\":\"\"}\n"},
        {messages::permissionRequired, "{\"event\":\"permission-required\",\"message\":\"\"}\n"},
        {messages::permissionRequiredAllow,
         "{\"event\":\"permission-required\",\"message\":\"Na Macu povo\xC4\xBEte "
         "aplik\xC3\xA1\x63iu v Syst\xC3\xA9mov\xC3\xA9 nastavenia > S\xC3\xBAkromie a "
         "bezpe\xC4\x8Dnos\xC5\xA5 > Pr\xC3\xADstupnos\xC5\xA5. Potom po\xC4\x8D\xC3\xBAvanie "
         "zapnite znova.\"}\n"},
        {messages::permissionRequiredRestart,
         "{\"event\":\"permission-required\",\"message\":\"Mac nepovolil zachytenie "
         "k\xC3\xB3\x64u. Skontrolujte Pr\xC3\xADstupnos\xC5\xA5 a Monitorovanie vstupu, potom "
         "aplik\xC3\xA1\x63iu ukon\xC4\x8Dite a spustite znova.\"}\n"},
    };
    for (const Row& row : rows) {
        lines.clear();
        emit(row.message);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], row.line);
    }
}

TEST_F(Emit, EscapesQuotesBackslashesAndControlCharacters) {
    struct Row {
        std::string message;
        std::string json;
    };
    const std::vector<Row> rows = {
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\path", "\"C:\\\\path\""},
        {"a\nb\tc\rd\be\ff", "\"a\\nb\\tc\\rd\\be\\ff\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1f\x7f", "\"\\u001f\x7f\""},
        {"a > b < c / d", "\"a > b < c / d\""},
        {"\xF0\x9F\x93\xA6 \xE2\x80\xA8", "\"\xF0\x9F\x93\xA6 \xE2\x80\xA8\""},
    };
    for (const Row& row : rows) {
        lines.clear();
        emit("e", row.message);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "{\"event\":\"e\",\"message\":" + row.json + "}\n");
    }
}

TEST_F(Emit, WritesNothingForInvalidUtf8) {
    const std::vector<std::string> invalid = {
        "\xFF",             // never valid
        "\xC3",             // cut short
        "\xC0\xAF",         // overlong '/'
        "\xE0\x80\xAF",     // overlong
        "\xED\xA0\x80",     // UTF-16 surrogate
        "\xF4\x90\x80\x80", // past U+10FFFF
        "ok\x80",           // stray continuation byte
    };
    for (const std::string& text : invalid) {
        emit("ready", text);
        emit(text, "");
    }
    EXPECT_TRUE(lines.empty());
    emit(messages::ready); // and carries on afterwards
    EXPECT_EQ(lines.size(), 1u);
}

int lostMessages = 0;
void countLostMessage() {
    ++lostMessages;
}
bool refuse(std::string_view) {
    return false;
}

// A line the sink cannot write runs the lost-message handler, once per line; a message that is
// not valid UTF-8 is never written, which is no loss.
TEST_F(Emit, ALineThatCannotBeWrittenRunsTheLostMessageHandler) {
    lostMessages = 0;
    setLostMessageHandler(countLostMessage);
    EXPECT_TRUE(emit(messages::ready));
    EXPECT_FALSE(emit("ready", "\xFF"));
    EXPECT_EQ(lostMessages, 0);
    setEmitSink(refuse);
    EXPECT_FALSE(emit(messages::dispatchDate));
    EXPECT_EQ(lostMessages, 1);
    EXPECT_FALSE(emit("ready", "\xFF"));
    EXPECT_EQ(lostMessages, 1);
    setLostMessageHandler(nullptr);
    EXPECT_FALSE(emit(messages::dispatchDate)); // without a handler emit only says so
    EXPECT_EQ(lostMessages, 1);
}

TEST(JsonNumber, WritesTheShortestFormThatReadsBack) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {{0, "0"},
                        {0.5, "0.5"},
                        {0.1, "0.1"},
                        {3 * 0.02, "0.06"},
                        {0.1 + 0.2, "0.30000000000000004"},
                        {12, "12"},
                        {30, "30"},
                        {1200, "1200"},
                        {-4e15, "-4000000000000000"},
                        {-1.25, "-1.25"},
                        {1e21, "1e+21"}};
    for (const Row& row : rows) {
        std::string out;
        appendJsonNumber(out, row.value);
        EXPECT_EQ(out, row.text);
        EXPECT_EQ(std::stod(out), row.value);
    }
}

} // namespace
} // namespace qk
