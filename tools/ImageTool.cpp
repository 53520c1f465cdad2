// kordel-image: makes, checks and describes firmware images with the module's info
// block (scrambled at offsets 256..287, keyed by the bytes at 192..255).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "BiosInfo.h"
#include "ComIo.h"

namespace {

using namespace kordel;
using Bytes = std::vector<std::uint8_t>;

const char* const Usage = R"(Usage:
  kordel-image make --out FILE [OPTIONS]   write a valid image
  kordel-image check FILE                  exit 1 with a message if FILE cannot be embedded
  kordel-image info FILE                   show the info block

Options of make:
  --payload FILE     the firmware bytes (at least 288; offsets 256..287 are replaced
                     by the info block); without it, --length pseudo-random bytes
  --length N         length of the generated payload (default 7900)
  --seed N           seed of the generated payload (default 1)
  --version HI.LO    image version (default 1.0)
  --size N           FileSize field (default: the image length)
  --file-code N      FileCode field (default 0)
  --file-crc N       FileCrc field (default: CRC-16 of the image with its info block zeroed)
  --tool-vers N      ToolVers field (default 0)
  --bios-type N      BiosType field (default 0)
  --sys-id HEX       SysId field, 8 hex digits (default 4B4F5244, "KORD")
  --desc TEXT        description, up to 16 characters
Numbers may be decimal or 0x-prefixed hexadecimal.
)";

[[noreturn]] void Die(const std::string& message, int code = 1) {
    std::cerr << "kordel-image: " << message << '\n';
    std::exit(code);
}

std::uint32_t Number(const std::string& text, const char* what, std::uint32_t max) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || v > max) {
        Die(std::string("bad ") + what + " '" + text + "'", 2);
    }
    return static_cast<std::uint32_t>(v);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Die("cannot read " + path + ": " + std::strerror(errno));
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Deterministic filler (xorshift32), so that a given seed always makes the same image.
Bytes Generate(std::uint32_t length, std::uint32_t seed) {
    Bytes bytes(length);
    std::uint32_t x = seed ? seed : 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

std::string Problem(const Bytes& image) {
    if (image.size() < MinImageSize) {
        return "image is " + std::to_string(image.size()) +
               " bytes, shorter than the 288 bytes that hold its info block";
    }
    const auto info = TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
    if (info.UpdateLength() > image.size()) {
        return "its FileSize says " + std::to_string(info.UpdateLength()) +
               " bytes, but the image holds only " + std::to_string(image.size());
    }
    return {};
}

int Make(int argc, char** argv) {
    std::string out;
    std::optional<std::string> payload;
    std::uint32_t length = 7900, seed = 1;
    std::optional<std::uint32_t> size, fileCrc;
    TBiosInfo info;
    info.SysId = {'K', 'O', 'R', 'D'};
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) Die("option " + arg + " needs a value", 2);
        const std::string v = argv[++i];
        if (arg == "--out") {
            out = v;
        } else if (arg == "--payload") {
            payload = v;
        } else if (arg == "--length") {
            length = Number(v, "length", 64u << 20);
        } else if (arg == "--seed") {
            seed = Number(v, "seed", 0xFFFFFFFF);
        } else if (arg == "--version") {
            const auto dot = v.find('.');
            if (dot == std::string::npos) Die("version must be HI.LO", 2);
            info.VersHi = static_cast<std::uint8_t>(Number(v.substr(0, dot), "version", 255));
            info.VersLo = static_cast<std::uint8_t>(Number(v.substr(dot + 1), "version", 255));
        } else if (arg == "--size") {
            size = Number(v, "size", 0xFFFFFFFF);
        } else if (arg == "--file-code") {
            info.FileCode = static_cast<std::uint16_t>(Number(v, "file code", 0xFFFF));
        } else if (arg == "--file-crc") {
            fileCrc = Number(v, "file crc", 0xFFFF);
        } else if (arg == "--tool-vers") {
            info.ToolVers = static_cast<std::uint8_t>(Number(v, "tool version", 255));
        } else if (arg == "--bios-type") {
            info.BiosType = static_cast<std::uint8_t>(Number(v, "bios type", 255));
        } else if (arg == "--sys-id") {
            const std::uint32_t id = Number("0x" + v, "sys id", 0xFFFFFFFF);
            for (int k = 0; k < 4; ++k)
                info.SysId[k] = static_cast<std::uint8_t>(id >> (24 - 8 * k));
        } else if (arg == "--desc") {
            if (v.size() > 16) Die("description is longer than 16 characters", 2);
            std::memcpy(info.ProgInfo.data(), v.data(), v.size());
        } else {
            Die("unknown option '" + arg + "'", 2);
        }
    }
    if (out.empty()) Die("make needs --out FILE", 2);
    Bytes image = payload ? ReadFile(*payload) : Generate(length, seed);
    if (image.size() < MinImageSize) Die("the payload is shorter than 288 bytes", 2);
    info.FileSize = size.value_or(static_cast<std::uint32_t>(image.size()));
    if (fileCrc) {
        info.FileCrc = static_cast<std::uint16_t>(*fileCrc);
    } else {
        Bytes zeroed = image;
        std::fill(zeroed.begin() + BiosInfoOffset, zeroed.begin() + MinImageSize, 0);
        const std::size_t n = std::min<std::size_t>(zeroed.size(), 0xFFFF);
        info.FileCrc = TComIo::Crc16(zeroed.data(), static_cast<std::uint16_t>(n));
    }
    image = BuildImage(std::move(image), info);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    if (!file.flush()) Die("cannot write " + out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "-h" || command == "--help") {
        std::cout << Usage;
        return 0;
    }
    if (command == "make") return Make(argc, argv);
    if ((command == "check" || command == "info") && argc == 3) {
        const Bytes image = ReadFile(argv[2]);
        const std::string problem = Problem(image);
        if (!problem.empty()) Die(std::string(argv[2]) + ": " + problem);
        if (command == "info") {
            const auto info = TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
            std::cout << "length:      " << image.size() << " bytes\n"
                      << "title:       Kordel Update v" << TitleVersStr(info) << '\n'
                      << "label:       " << BiosVersionStr(info) << '\n'
                      << "description: " << BiosInfoStr(info) << '\n'
                      << "update:      " << info.UpdateLength() << " bytes in "
                      << (info.UpdateLength() + 255) / 256 << " blocks\n";
        }
        return 0;
    }
    std::cerr << Usage;
    return 2;
}
