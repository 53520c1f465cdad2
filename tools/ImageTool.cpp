// kordel-image: makes, checks and describes firmware images with the module's info
// block (scrambled at offsets 256..287, keyed by the bytes at 192..255).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BiosInfo.h"
#include "ComIo.h"
#include "ImageCheck.h"
#include "TextCodec.h"
#include "UniqueFd.h"
#include "Update.h"

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
  --version HI.LO    image version, two decimal numbers up to 255 (default 1.0)
  --size N           FileSize field (default: the image length)
  --file-code N      FileCode field (default 0)
  --file-crc N       FileCrc field (default: CRC-16 of the image with its info block zeroed)
  --tool-vers N      ToolVers field (default 0)
  --bios-type N      BiosType field (default 0)
  --sys-id HEX       SysId field, 8 hex digits (default 4B4F5244, "KORD")
  --desc TEXT        description, up to 16 characters of the Windows-1252 code page
                     (given in UTF-8)
Other numbers may be decimal or 0x-prefixed hexadecimal.
)";

[[noreturn]] void Die(const std::string& message, int code = 1) {
    std::cerr << "kordel-image: " << message << '\n';
    std::exit(code);
}

// Digits only, in the given base: no sign, no blanks, no octal surprises.
std::optional<std::uint64_t> ParseDigits(const std::string& text, int base) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0 || digit >= base) return std::nullopt;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return v;
}

// A decimal number, or a hexadecimal one after "0x".
std::uint32_t Number(const std::string& text, const char* what, std::uint32_t max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const auto v = hex ? ParseDigits(text.substr(2), 16) : ParseDigits(text, 10);
    if (!v || *v > max) Die(std::string("bad ") + what + " '" + text + "'", 2);
    return static_cast<std::uint32_t>(*v);
}

std::uint8_t VersionPart(const std::string& text) {
    const auto v = ParseDigits(text, 10);
    if (!v || *v > 255) Die("bad version part '" + text + "': a decimal number up to 255", 2);
    return static_cast<std::uint8_t>(*v);
}

std::string CodePointName(char32_t c) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    return name;
}

// The description as the module stores it: Windows-1252 bytes, NUL-padded to 16.
std::array<std::uint8_t, 16> Description(const std::string& utf8) {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t n = 0;
    for (const char32_t c : Utf8ToCodePoints(utf8)) {
        const int byte = CodePointToCp1252(c);
        if (c == U'\uFFFD') Die("description is not UTF-8 text", 2);
        if (byte <= 0) Die("description: " + CodePointName(c) + " is not in the Windows-1252 code page", 2);
        if (n == bytes.size()) Die("description is longer than 16 characters", 2);
        bytes[n++] = static_cast<std::uint8_t>(byte);
    }
    return bytes;
}

// Reads a regular file of at most MaxImageSize bytes.
Bytes ReadFile(const std::string& path) {
    // Not blocking, so that a FIFO is refused rather than waited on.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) Die("cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) Die("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) Die(path + " is not a regular file");
    Bytes bytes(MaxImageSize + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Die("cannot read " + path + ": " + std::strerror(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > MaxImageSize) {
        Die(path + " is larger than " + std::to_string(MaxImageSize) +
            " bytes, the most an update can write");
    }
    bytes.resize(got);
    return bytes;
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
            length = Number(v, "length", MaxImageSize);
        } else if (arg == "--seed") {
            seed = Number(v, "seed", 0xFFFFFFFF);
        } else if (arg == "--version") {
            const auto dot = v.find('.');
            if (dot == std::string::npos) Die("version must be HI.LO", 2);
            info.VersHi = VersionPart(v.substr(0, dot));
            info.VersLo = VersionPart(v.substr(dot + 1));
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
            const auto parsed = v.size() == 8 ? ParseDigits(v, 16) : std::nullopt;
            if (!parsed) Die("bad sys id '" + v + "': 8 hexadecimal digits", 2);
            const auto id = static_cast<std::uint32_t>(*parsed);
            for (int k = 0; k < 4; ++k)
                info.SysId[k] = static_cast<std::uint8_t>(id >> (24 - 8 * k));
        } else if (arg == "--desc") {
            info.ProgInfo = Description(v);
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
    // Never write an image that `check` would refuse.
    if (const std::string problem = ImageProblem(image); !problem.empty()) Die(problem, 2);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    if (!file.flush()) Die("cannot write " + out);
    return 0;
}

}  // namespace

namespace {

int Run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "-h" || command == "--help") {
        std::cout << Usage;
        return 0;
    }
    if (command == "make") return Make(argc, argv);
    if ((command == "check" || command == "info") && argc == 3) {
        const Bytes image = ReadFile(argv[2]);
        const std::string problem = ImageProblem(image);
        if (!problem.empty()) Die(std::string(argv[2]) + ": " + problem);
        if (command == "info") {
            const auto info = TBiosInfo::FromBytes(UnscrambleBiosInfo(image));
            std::cout << "length:      " << image.size() << " bytes\n"
                      << "title:       " << ProgTitleStr(info) << '\n'
                      << "label:       " << BiosVersionStr(info) << '\n'
                      << "description: " << BiosInfoStr(info) << '\n'
                      << "update:      " << info.UpdateLength() << " bytes in "
                      << BlockCount(info.UpdateLength()) << " blocks\n";
        }
        return 0;
    }
    std::cerr << Usage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Die(e.what());
    } catch (...) {
        Die("unexpected failure");
    }
}
