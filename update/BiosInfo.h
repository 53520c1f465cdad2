// The firmware image the tool carries and its 32-byte info block. The block lies
// scrambled at image offsets 256..287 and is unscrambled with the bytes at 192..255.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kordel {

inline constexpr const char* BiosResourceName = "BIOS_KORDEL";
inline constexpr const char* BiosResourceType = "BINARY";
inline constexpr std::size_t BiosInfoOffset = 256;
inline constexpr std::size_t BiosInfoSize = 32;
inline constexpr std::size_t MinImageSize = BiosInfoOffset + BiosInfoSize;  // 288

struct TBiosInfo {
    std::array<std::uint8_t, 4> SysId{};
    std::uint8_t VersHi = 0;
    std::uint8_t VersLo = 0;
    std::uint8_t ToolVers = 0;
    std::uint8_t BiosType = 0;
    std::uint32_t FileSize = 0;
    std::uint16_t FileCrc = 0;
    std::uint16_t FileCode = 0;
    std::array<std::uint8_t, 16> ProgInfo{};

    static TBiosInfo FromBytes(const std::array<std::uint8_t, BiosInfoSize>& raw);
    std::array<std::uint8_t, BiosInfoSize> ToBytes() const;

    // The number of image bytes an update writes: the low 20 bits of FileSize.
    std::uint32_t UpdateLength() const { return FileSize & 0xFFFFF; }
};

// The info block of an image as the tool reads it: bytes it cannot reach (an image
// shorter than 288 bytes) read as FF.
std::array<std::uint8_t, BiosInfoSize> UnscrambleBiosInfo(std::span<const std::uint8_t> image);
// The inverse: writes `info` scrambled into image offsets 256..287, keyed by 192..255.
void ScrambleBiosInfo(std::span<std::uint8_t> image,
                      const std::array<std::uint8_t, BiosInfoSize>& info);

// An image of `payload` (at least 288 bytes) with `info` scrambled into it.
std::vector<std::uint8_t> BuildImage(std::vector<std::uint8_t> payload, const TBiosInfo& info);

// "%1x.%1x.1": the version in hexadecimal, for the title.
std::string TitleVersStr(const TBiosInfo& info);
// The programs' title for the image: TitlePrefix, then TitleVersStr ("Kordel Update v1.3.1").
inline constexpr const char* TitlePrefix = "Kordel Update v";
std::string ProgTitleStr(const TBiosInfo& info);
// "Version %1d.%1d (%0.4x-%0.4x-%0.4x)": version, FileCode, FileCrc, FileSize low 16 bits.
std::string BiosVersionStr(const TBiosInfo& info);
// The description up to its first NUL, as characters of the system's 8-bit code page
// (AnsiText.h; Windows-1252 outside Windows), returned as UTF-8.
std::string BiosInfoStr(const TBiosInfo& info);

// The image carried by the running program and its info block.
class TFirmwareImage {
  public:
    // Opens the embedded image and derives the info block. On EResNotFound the info
    // block stays all FF and no image is held.
    void LoadBiosInfo();
    bool Loaded() const { return !rs.empty(); }

    std::span<const std::uint8_t> rs;  // the image, viewed in place
    TBiosInfo BufBiosInfo;
};

}  // namespace kordel
