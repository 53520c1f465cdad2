// The shared rules of base/: strict UTF-8, line splitting, little-endian values.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "ByteOrder.h"
#include "Lines.h"
#include "Utf8.h"

namespace kordel {
namespace {

struct DecodeCase {
    const char* what;
    std::string bytes;
    std::size_t length;  // 0: refused
    char32_t cp;
};

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeTest, DecodesTheFirstSequenceOrRefusesIt) {
    const auto& c = GetParam();
    char32_t cp = 0xABCDEF;
    EXPECT_EQ(DecodeUtf8(c.bytes, 0, cp), c.length) << c.what;
    if (c.length != 0) {
        EXPECT_EQ(cp, c.cp) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8DecodeTest,
    ::testing::Values(
        DecodeCase{"ASCII", "/", 1, U'/'}, DecodeCase{"NUL", std::string(1, '\0'), 1, 0},
        DecodeCase{"two bytes, smallest", "\xC2\x80", 2, 0x80},
        DecodeCase{"two bytes, largest", "\xDF\xBF", 2, 0x7FF},
        DecodeCase{"three bytes, smallest", "\xE0\xA0\x80", 3, 0x800},
        DecodeCase{"three bytes, euro sign", "\xE2\x82\xAC", 3, 0x20AC},
        DecodeCase{"just below the surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
        DecodeCase{"just above the surrogates", "\xEE\x80\x80", 3, 0xE000},
        DecodeCase{"four bytes, smallest", "\xF0\x90\x80\x80", 4, 0x10000},
        DecodeCase{"four bytes, largest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        DecodeCase{"only the first sequence counts", "\xC3\xA4rest", 2, 0xE4},
        DecodeCase{"overlong slash C0 AF", "\xC0\xAF", 0, 0},
        DecodeCase{"overlong slash E0 80 AF", "\xE0\x80\xAF", 0, 0},
        DecodeCase{"overlong slash F0 80 80 AF", "\xF0\x80\x80\xAF", 0, 0},
        DecodeCase{"overlong U+07FF in three bytes", "\xE0\x9F\xBF", 0, 0},
        DecodeCase{"overlong U+FFFF in four bytes", "\xF0\x8F\xBF\xBF", 0, 0},
        DecodeCase{"overlong NUL C0 80", "\xC0\x80", 0, 0},
        DecodeCase{"first surrogate", "\xED\xA0\x80", 0, 0},
        DecodeCase{"last surrogate", "\xED\xBF\xBF", 0, 0},
        DecodeCase{"beyond U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        DecodeCase{"lead byte F5", "\xF5\x80\x80\x80", 0, 0},
        DecodeCase{"lead byte F8", "\xF8\x88\x80\x80\x80", 0, 0},
        DecodeCase{"lead byte FF", "\xFF", 0, 0},
        DecodeCase{"stray continuation byte", "\x80", 0, 0},
        DecodeCase{"two bytes cut short by the end", "\xC3", 0, 0},
        DecodeCase{"three bytes cut short by the end", "\xE2\x82", 0, 0},
        DecodeCase{"four bytes cut short by the end", "\xF0\x90\x80", 0, 0},
        DecodeCase{"cut short by an ASCII byte", "\xE2\x82X", 0, 0},
        DecodeCase{"cut short by a new lead byte", "\xC3\xC3\xA4", 0, 0}));

TEST(Utf8Test, DecodesAtAPositionAndRefusesThePositionPastTheEnd) {
    const std::string text = "a\xE2\x82\xAC";
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(text, 1, cp), 3u);
    EXPECT_EQ(cp, 0x20ACu);
    EXPECT_EQ(DecodeUtf8(text, 2, cp), 0u) << "a continuation byte starts nothing";
    EXPECT_EQ(DecodeUtf8(text, text.size(), cp), 0u);
}

TEST(Utf8Test, EveryScalarValueSurvivesTheRoundTripInItsShortestForm) {
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string bytes;
        AppendUtf8(bytes, cp);
        const std::size_t shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        ASSERT_EQ(bytes.size(), shortest) << std::hex << static_cast<unsigned>(cp);
        char32_t back = 0;
        ASSERT_EQ(DecodeUtf8(bytes, 0, back), shortest) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(back, cp);
    }
}

struct LinesCase {
    const char* what;
    std::string text;
    std::vector<std::string> lines;
};

class SplitLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(SplitLinesTest, EachLineEndEndsOneLine) {
    EXPECT_EQ(SplitLines(GetParam().text), GetParam().lines) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitLinesTest,
    ::testing::Values(
        LinesCase{"empty", "", {""}}, LinesCase{"no line end", "a", {"a"}},
        LinesCase{"LF", "a\nb\n", {"a", "b", ""}},
        LinesCase{"CR LF", "a\r\nb\r\n", {"a", "b", ""}},
        LinesCase{"CR only", "a\rb\r", {"a", "b", ""}},
        LinesCase{"trailing line without a line end", "a\r\nb", {"a", "b"}},
        LinesCase{"mixed", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        LinesCase{"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
        LinesCase{"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        LinesCase{"empty lines kept", "\n\r\n\r", {"", "", "", ""}},
        LinesCase{"other control characters stay", "a\tb\x0B\x0C", {"a\tb\x0B\x0C"}}));

TEST(ByteOrderTest, ReadsAndWritesLittleEndianValues) {
    const std::array<std::uint8_t, 4> bytes{0x78, 0x56, 0x34, 0xF2};
    EXPECT_EQ(Le16(bytes.data()), 0x5678u);
    EXPECT_EQ(Le16(bytes.data() + 2), 0xF234u);
    EXPECT_EQ(Be16(bytes.data()), 0x7856u);
    EXPECT_EQ(Be16(bytes.data() + 2), 0x34F2u);
    EXPECT_EQ(Le32(bytes.data()), 0xF2345678u) << "the top byte is not sign-extended";
    std::array<std::uint8_t, 5> out{};
    out.fill(0xEE);
    PutLe(out.data(), 0xF2345678u, 4);
    EXPECT_EQ(out, (std::array<std::uint8_t, 5>{0x78, 0x56, 0x34, 0xF2, 0xEE}));
    PutLe(out.data(), 0xABCD, 2);
    EXPECT_EQ(out, (std::array<std::uint8_t, 5>{0xCD, 0xAB, 0x34, 0xF2, 0xEE}));
}

}  // namespace
}  // namespace kordel
