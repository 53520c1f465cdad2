#include <gtest/gtest.h>

#include "HexDump.h"

namespace kordel {
namespace {

using Lines = std::vector<std::string>;

Lines Dump(const std::vector<std::uint8_t>& bytes) {
    return HexDumpLines(bytes.data(), bytes.size());
}

TEST(HexDumpTest, ShortLineShowsDotsForMissingBytesAndPrintableCharacters) {
    EXPECT_EQ(Dump({0x41, 0x00, 0x7E}),
              Lines{"0000:  41 00 7E .. .. .. .. .. .. .. .. .. .. .. .. ..  A.."});
    EXPECT_TRUE(Dump({}).empty());
    EXPECT_EQ(DumpHeader(0), "Anzahl: 0");
}

TEST(HexDumpTest, FullAndPartialLines) {
    std::vector<std::uint8_t> bytes(17);
    for (int i = 0; i < 17; ++i) bytes[i] = static_cast<std::uint8_t>(0x20 + i * 6);
    const Lines lines = Dump(bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "0000:  20 26 2C 32 38 3E 44 4A 50 56 5C 62 68 6E 74 7A   &,28>DJPV\\bhntz");
    EXPECT_EQ(lines[0].size(), 72u);
    EXPECT_EQ(lines[1].size(), 57u);
    EXPECT_EQ(lines[1], "0010:  80 .. .. .. .. .. .. .. .. .. .. .. .. .. .. ..  .");
}

TEST(HexDumpTest, OffsetsPast64KiBTakeMoreDigits) {
    std::vector<std::uint8_t> bytes(0x10001, 0x7F);
    const Lines lines = Dump(bytes);
    ASSERT_EQ(lines.size(), 0x1001u);
    EXPECT_EQ(lines.back().substr(0, 7), "10000: ");
    EXPECT_EQ(lines.back().back(), '.');
}

}  // namespace
}  // namespace kordel
