#include <gtest/gtest.h>

#include <cstring>

#include "BiosInfo.h"
#include "Resources.h"
#include "TestResources.h"

namespace kordel {
namespace {

TBiosInfo Info(std::uint8_t hi, std::uint8_t lo, std::uint16_t code, std::uint16_t crc,
               std::uint32_t size) {
    TBiosInfo info;
    info.VersHi = hi;
    info.VersLo = lo;
    info.FileCode = code;
    info.FileCrc = crc;
    info.FileSize = size;
    return info;
}

struct TextCase {
    TBiosInfo info;
    const char* title;
    const char* label;
};

class DisplayTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DisplayTextTest, TitleInHexLabelInDecimal) {
    EXPECT_EQ(TitleVersStr(GetParam().info), GetParam().title);
    EXPECT_EQ(BiosVersionStr(GetParam().info), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, DisplayTextTest,
    ::testing::Values(
        TextCase{Info(2, 0, 0xAB, 0x1F, 0x300), "2.0.1", "Version 2.0 (00AB-001F-0300)"},
        TextCase{Info(1, 10, 0, 0, 0), "1.A.1", "Version 1.10 (0000-0000-0000)"},
        TextCase{Info(1, 12, 0xBEEF, 0xCAFE, 0x12345), "1.C.1", "Version 1.12 (BEEF-CAFE-2345)"},
        TextCase{Info(255, 171, 0, 0, 0xFFF01EDC), "FF.AB.1", "Version 255.171 (0000-0000-1EDC)"}));

TEST(BiosInfoTest, UpdateLengthIsTheLow20BitsOfFileSize) {
    EXPECT_EQ(Info(0, 0, 0, 0, 0xFFF01EDC).UpdateLength(), 0x01EDCu);
    EXPECT_EQ(Info(0, 0, 0, 0, 0x00123456).UpdateLength(), 0x23456u);
}

TEST(BiosInfoTest, DescriptionEndsAtTheFirstNulOrAfter16Characters) {
    TBiosInfo info;
    std::memcpy(info.ProgInfo.data(), "ABCDEFGHIJKLMNOP", 16);
    EXPECT_EQ(BiosInfoStr(info), "ABCDEFGHIJKLMNOP");
    info.ProgInfo[4] = 0;
    EXPECT_EQ(BiosInfoStr(info), "ABCD");
    info.ProgInfo[0] = 0;
    EXPECT_EQ(BiosInfoStr(info), "");
    info.ProgInfo = {0x80, 0xE9, 0x7E, 0};
    EXPECT_EQ(BiosInfoStr(info), "\u20AC\u00E9~") << "single-byte characters of Windows-1252";
}

// Worked by hand: with offsets 192..287 all zero, each byte is 0 + i + 55h - (i + 65h) = F0h.
TEST(BiosInfoTest, UnscramblesAsTheModuleImageIsKeyed) {
    std::vector<std::uint8_t> image(288, 0);
    auto raw = UnscrambleBiosInfo(image);
    for (auto b : raw) EXPECT_EQ(b, 0xF0);
    image[256 + 3] = 0x01;  // the scrambled byte itself
    image[224 + 3] = 0x01;  // cancels it again in the first XOR
    image[192 + 5] = 0x0F;  // the last key of byte 5
    raw = UnscrambleBiosInfo(image);
    EXPECT_EQ(raw[3], 0xF0);
    EXPECT_EQ(raw[5], 0xFF);

    std::vector<std::uint8_t> shortImage(287, 0);
    for (auto b : UnscrambleBiosInfo(shortImage)) EXPECT_EQ(b, 0xFF);
}

TEST(BiosInfoTest, BuiltImageUnscramblesToItsInfoBlock) {
    TBiosInfo info = Info(1, 3, 0xC1, 0x1234, 0xABC01EDC);
    info.SysId = {1, 2, 3, 4};
    info.ToolVers = 7;
    info.BiosType = 9;
    std::memcpy(info.ProgInfo.data(), "demo", 4);
    std::vector<std::uint8_t> payload(1000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    const auto image = BuildImage(payload, info);
    EXPECT_EQ(TBiosInfo::FromBytes(UnscrambleBiosInfo(image)).ToBytes(), info.ToBytes());
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 256, payload.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 288, image.end(), payload.begin() + 288));
}

TEST(FirmwareImageTest, LoadsTheRegisteredImageOrLeavesTheInfoBlockFF) {
    TFirmwareImage image;
    UnregisterResource(BiosResourceName, BiosResourceType);
    EXPECT_THROW(image.LoadBiosInfo(), EResNotFound);
    EXPECT_FALSE(image.Loaded());
    EXPECT_EQ(image.BufBiosInfo.FileSize, 0xFFFFFFFFu);
    EXPECT_EQ(image.BufBiosInfo.VersHi, 0xFF);

    const auto bytes = BuildImage(std::vector<std::uint8_t>(512, 0x11), Info(1, 10, 0, 0, 512));
    RegisterResource(BiosResourceName, BiosResourceType, bytes);
    image.LoadBiosInfo();
    UnregisterResource(BiosResourceName, BiosResourceType);
    EXPECT_EQ(image.rs.data(), bytes.data()) << "viewed in place, not copied";
    EXPECT_EQ(TitleVersStr(image.BufBiosInfo), "1.A.1");
    EXPECT_EQ(ProgTitleStr(image.BufBiosInfo), "Kordel Update v1.A.1");
    EXPECT_THROW(FindResource(BiosResourceName, "OTHER"), EResNotFound);
}

}  // namespace
}  // namespace kordel
