#include <gtest/gtest.h>

#include "PortList.h"

namespace kordel {
namespace {

struct NatCase {
    const char* a;
    const char* b;
    int insensitive;
    int sensitive;
};

class NatCompareTest : public ::testing::TestWithParam<NatCase> {};

TEST_P(NatCompareTest, OrdersNaturally) {
    const auto& c = GetParam();
    EXPECT_EQ(NatCompare(c.a, c.b, false), c.insensitive) << c.a << " vs " << c.b;
    EXPECT_EQ(NatCompare(c.b, c.a, false), -c.insensitive) << c.b << " vs " << c.a;
    EXPECT_EQ(NatCompare(c.a, c.b, true), c.sensitive) << c.a << " vs " << c.b << " (case)";
}

INSTANTIATE_TEST_SUITE_P(
    Table, NatCompareTest,
    ::testing::Values(NatCase{"COM9", "COM10", -1, -1}, NatCase{"COM10", "COM11", -1, -1},
                      NatCase{"COM02", "COM1", -1, -1}, NatCase{"COM01", "COM001", 1, 1},
                      NatCase{"COM10", "COM010", 1, 1}, NatCase{"COM1.5", "COM1.10", -1, -1},
                      NatCase{"com3", "COM3", 0, 1}, NatCase{"COM 3", "COM3", 0, 0},
                      NatCase{"COM", "COM1", -1, -1}, NatCase{"COM1", "COMA", -1, -1},
                      NatCase{"COM_1", "COMa1", 1, -1}, NatCase{"", "", 0, 0},
                      NatCase{"COM19", "COM21", -1, -1},
                      NatCase{"/dev/ttyUSB2", "/dev/ttyUSB10", -1, -1},
                      NatCase{"/dev/ttyACM0", "/dev/ttyUSB0", -1, -1},
                      // Letter case: a to z become A to Z, and nothing else changes.
                      NatCase{"coma", "COMA", 0, 1}, NatCase{"comz", "COMZ", 0, 1},
                      NatCase{"COM`", "COM@", 1, 1}, NatCase{"COM{", "COM[", 1, 1},
                      NatCase{"COMa", "COM_", -1, 1}, NatCase{"COMz", "COM^", -1, 1},
                      // White space is 1 to 32, skipped in each text on its own.
                      NatCase{"COM\t1", "COM1", 0, 0}, NatCase{"CO M 1 ", "COM1", 0, 0},
                      NatCase{"COM!1", "COM1", -1, -1},
                      // A leading zero on either side makes the runs left-aligned.
                      NatCase{"COM2", "COM05", 1, 1}, NatCase{"COM012", "COM10", -1, -1},
                      // A run longer by one digit is larger, whatever its digits.
                      NatCase{"COM100", "COM99", 1, 1}, NatCase{"COM9x", "COM10a", -1, -1},
                      // Characters compare unsigned: a byte above 0x7F is above every letter.
                      NatCase{"COM\xC3\xA9", "COMz", 1, 1}));

TEST(DigitRunTest, CompareRightLooksAtLengthOnly) {
    EXPECT_EQ(CompareRight("9", "10"), -1);
    EXPECT_EQ(CompareRight("19", "21"), 0);
    EXPECT_EQ(CompareRight("123x", "99"), 1);
    EXPECT_EQ(CompareLeft("01", "001"), 1);
    EXPECT_EQ(CompareLeft("05", "05"), 0);
    EXPECT_EQ(CompareLeft("0", "01"), -1);
}

struct SortCase {
    std::vector<std::string> input;
    std::vector<std::string> sorted;
};

class SortPortListTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortPortListTest, SortsIntoNaturalOrder) {
    auto items = GetParam().input;
    SortPortList(items);
    EXPECT_EQ(items, GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(Lists, SortPortListTest,
                         ::testing::Values(SortCase{{"COM10", "COM9", "COM100", "COM11", "COM2"},
                                                    {"COM2", "COM9", "COM10", "COM11", "COM100"}},
                                           SortCase{{"COM3", "COM01", "COM1", "COM02", "COM010"},
                                                    {"COM01", "COM010", "COM02", "COM1", "COM3"}},
                                           SortCase{{"COM12", "COM3", "CNCA0", "CNCB0", "COM4"},
                                                    {"CNCA0", "CNCB0", "COM3", "COM4", "COM12"}},
                                           SortCase{{"COM1", "COM10", "COM2", "COM3"},
                                                    {"COM1", "COM2", "COM3", "COM10"}},
                                           SortCase{{}, {}}, SortCase{{"X"}, {"X"}},
                                           SortCase{{"B", "A", "A", "C", "A"},
                                                    {"A", "A", "A", "B", "C"}},
                                           // Letter case plays no part in the order.
                                           SortCase{{"com10", "COM9", "Com2", "cOM3"},
                                                    {"Com2", "cOM3", "COM9", "com10"}}));

struct OverlongCase {
    std::vector<std::size_t> nameLengths;  // in enumeration order
    std::size_t listed;                     // how many stay
};

class OverlongNameTest : public ::testing::TestWithParam<OverlongCase> {};

TEST_P(OverlongNameTest, EndsTheListingAtTheFirstOverlongName) {
    std::vector<TPortInfo> listing;
    for (std::size_t i = 0; i < GetParam().nameLengths.size(); ++i) {
        TPortInfo info;
        info.Name = std::string(GetParam().nameLengths[i], static_cast<char>('A' + i));
        listing.push_back(info);
    }
    EndListingAtOverlongName(listing);
    ASSERT_EQ(listing.size(), GetParam().listed);
    for (std::size_t i = 0; i < listing.size(); ++i) {
        EXPECT_EQ(listing[i].Name.size(), GetParam().nameLengths[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OverlongNameTest,
                         ::testing::Values(OverlongCase{{4, 127, 5}, 3}, OverlongCase{{4, 128, 5}, 1},
                                           OverlongCase{{200}, 0}, OverlongCase{{}, 0},
                                           OverlongCase{{127, 127, 300, 4, 128}, 2}));

}  // namespace
}  // namespace kordel
