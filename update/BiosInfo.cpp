#include "BiosInfo.h"

#include <cstdio>
#include <cstring>

#include "AnsiText.h"
#include "ByteOrder.h"
#include "Resources.h"

namespace kordel {

TBiosInfo TBiosInfo::FromBytes(const std::array<std::uint8_t, BiosInfoSize>& raw) {
    TBiosInfo info;
    std::memcpy(info.SysId.data(), raw.data(), 4);
    info.VersHi = raw[4];
    info.VersLo = raw[5];
    info.ToolVers = raw[6];
    info.BiosType = raw[7];
    info.FileSize = Le32(&raw[8]);
    info.FileCrc = Le16(&raw[12]);
    info.FileCode = Le16(&raw[14]);
    std::memcpy(info.ProgInfo.data(), &raw[16], 16);
    return info;
}

std::array<std::uint8_t, BiosInfoSize> TBiosInfo::ToBytes() const {
    std::array<std::uint8_t, BiosInfoSize> raw{};
    std::memcpy(raw.data(), SysId.data(), 4);
    raw[4] = VersHi;
    raw[5] = VersLo;
    raw[6] = ToolVers;
    raw[7] = BiosType;
    PutLe(&raw[8], FileSize, 4);
    PutLe(&raw[12], FileCrc, 2);
    PutLe(&raw[14], FileCode, 2);
    std::memcpy(&raw[16], ProgInfo.data(), 16);
    return raw;
}

std::array<std::uint8_t, BiosInfoSize> UnscrambleBiosInfo(std::span<const std::uint8_t> m) {
    std::array<std::uint8_t, BiosInfoSize> info;
    info.fill(0xFF);
    if (m.size() < MinImageSize) return info;
    for (std::size_t i = 0; i < BiosInfoSize; ++i) {
        std::uint8_t t = m[256 + i];
        t ^= m[224 + i];
        t = static_cast<std::uint8_t>(t + i + 0x55);
        t ^= m[208 + i];
        t = static_cast<std::uint8_t>(t - (i + 0x65));
        t ^= m[192 + i];
        info[i] = t;
    }
    return info;
}

void ScrambleBiosInfo(std::span<std::uint8_t> m,
                      const std::array<std::uint8_t, BiosInfoSize>& info) {
    for (std::size_t i = 0; i < BiosInfoSize; ++i) {
        std::uint8_t t = info[i];
        t ^= m[192 + i];
        t = static_cast<std::uint8_t>(t + (i + 0x65));
        t ^= m[208 + i];
        t = static_cast<std::uint8_t>(t - (i + 0x55));
        t ^= m[224 + i];
        m[256 + i] = t;
    }
}

std::vector<std::uint8_t> BuildImage(std::vector<std::uint8_t> payload, const TBiosInfo& info) {
    if (payload.size() < MinImageSize) payload.resize(MinImageSize, 0);
    ScrambleBiosInfo(payload, info.ToBytes());
    return payload;
}

std::string TitleVersStr(const TBiosInfo& info) {
    char text[32];
    std::snprintf(text, sizeof text, "%X.%X.1", info.VersHi, info.VersLo);
    return text;
}

std::string ProgTitleStr(const TBiosInfo& info) {
    return TitlePrefix + TitleVersStr(info);
}

std::string BiosVersionStr(const TBiosInfo& info) {
    char text[64];
    std::snprintf(text, sizeof text, "Version %d.%d (%04X-%04X-%04X)", info.VersHi, info.VersLo,
                  info.FileCode, info.FileCrc, static_cast<unsigned>(info.FileSize & 0xFFFF));
    return text;
}

// The description's bytes are characters of the system's 8-bit code page.
std::string BiosInfoStr(const TBiosInfo& info) {
    std::string bytes;
    for (std::uint8_t b : info.ProgInfo) {
        if (b == 0) break;
        bytes += static_cast<char>(b);
    }
    return AnsiToUtf8(bytes);
}

void TFirmwareImage::LoadBiosInfo() {
    std::array<std::uint8_t, BiosInfoSize> ff;
    ff.fill(0xFF);
    BufBiosInfo = TBiosInfo::FromBytes(ff);
    rs = {};
    const auto image = FindResource(BiosResourceName, BiosResourceType);
    rs = image;
    BufBiosInfo = TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
}

}  // namespace kordel
