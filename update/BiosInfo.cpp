#include "BiosInfo.h"

#include <cstdio>
#include <cstring>

#include "Resources.h"

namespace kordel {

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutLe(std::uint8_t* p, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Windows-1252 code points of the bytes 80..9F; the rest of the page equals Latin-1.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

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

std::string BiosVersionStr(const TBiosInfo& info) {
    char text[64];
    std::snprintf(text, sizeof text, "Version %d.%d (%04X-%04X-%04X)", info.VersHi, info.VersLo,
                  info.FileCode, info.FileCrc, static_cast<unsigned>(info.FileSize & 0xFFFF));
    return text;
}

std::string BiosInfoStr(const TBiosInfo& info) {
    std::string text;
    for (std::uint8_t b : info.ProgInfo) {
        if (b == 0) break;
        AppendUtf8(text, b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : char32_t{b});
    }
    return text;
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
