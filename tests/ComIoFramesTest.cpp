#include <gtest/gtest.h>

#include "ComIo.h"

namespace kordel {
namespace {

struct ErrCase {
    std::int32_t code;
    const char* text;
};

class ErrToStrTest : public ::testing::TestWithParam<ErrCase> {};

TEST_P(ErrToStrTest, GivesTheTextOfEachCode) {
    EXPECT_EQ(TComIo::ErrToStr(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrToStrTest,
    ::testing::Values(ErrCase{-1, "RECEIVE DATA CORRUPTED"}, ErrCase{-2, "NO ANSWER"},
                      ErrCase{-3, "WRONG SEQUENCE"}, ErrCase{-4, "WRONG CHECKSUM"},
                      ErrCase{192, "UNKNOWN COMMAND"}, ErrCase{193, "UNKNOWN FUNCTION"},
                      ErrCase{194, "WRONG PARAMETER COUNT"}, ErrCase{195, "CRYPT ERROR"},
                      ErrCase{196, "VALUE/RANGE ERROR"}, ErrCase{0, "00"}, ErrCase{5, "05"},
                      ErrCase{7, "07"}, ErrCase{171, "AB"}, ErrCase{197, "C5"},
                      ErrCase{0x1234, "1234"}, ErrCase{-5, "FFFFFFFB"}));

TEST(Crc16Test, ReflectedChecksumWithConstantA481) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(TComIo::Crc16(digits, sizeof digits), 0xEA53);
    const std::uint8_t start[] = {0x1B};
    EXPECT_EQ(TComIo::Crc16(start, 1), 0x0B01);
    EXPECT_EQ(TComIo::Crc16(digits, 0), 0);
}

TEST(OutgoingMessageTest, AddOutAppendsLittleEndianValuesOfEachWidth) {
    TComIo io;
    io.NewOut(0xF9);
    io.AddOut(TWidth::TBYTE, 0x4341);
    io.AddOut(TWidth::TWORD, 0x4341);
    io.AddOut(TWidth::TLONG, 0x4341);
    io.AddOut(TWidth::TLONG, 0x08002000);
    const std::uint8_t block[] = {1, 2, 3};
    io.AddData(block, 3);
    io.AddData(block, 0);
    const std::vector<std::uint8_t> expected = {0x41, 0x41, 0x43, 0x41, 0x43, 0x00, 0x00,
                                                0x00, 0x20, 0x00, 0x08, 1,    2,    3};
    ASSERT_EQ(io.OutPos, static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(std::vector<std::uint8_t>(io.OutBuf.begin(), io.OutBuf.begin() + io.OutPos),
              expected);
    EXPECT_EQ(io.OutCom, 0xF9);
}

TEST(OutgoingMessageTest, NewOutRestartsWithoutClearingTheBuffer) {
    TComIo io;
    io.NewOut(1);
    io.AddOut(TWidth::TBYTE, 0xAA);
    io.NewOut(2);
    EXPECT_EQ(io.OutPos, 0);
    EXPECT_EQ(io.OutBuf[0], 0xAA);
}

// A message too long for a frame is neither stored past the buffer nor sent.
TEST(OutgoingMessageTest, OverlongMessageIsRefusedWithoutTouchingThePort) {
    TComIo io;
    std::vector<std::uint8_t> big(300, 0x5A);
    io.NewOut(0xF9);
    io.AddData(big.data(), static_cast<std::uint16_t>(big.size()));
    io.AddOut(TWidth::TLONG, 0xFFFFFFFF);
    EXPECT_EQ(io.OutPos, 304);
    EXPECT_EQ(io.ComAction(100), LinkMessageTooLong);  // no "Port Not Open": nothing was sent
    EXPECT_EQ(io.Seq, 0);

    io.NewOut(0xF9);
    std::vector<std::uint8_t> fits(MaxRequestPayload + 1, 0);
    io.AddData(fits.data(), static_cast<std::uint16_t>(fits.size()));
    EXPECT_EQ(io.ComAction(100), LinkMessageTooLong);
}

}  // namespace
}  // namespace kordel
