// Hex-dump lines shared by the debug log window and the command line's --trace:
//   0010:  41 42 .. ..  AB
// offset (at least four hex digits), sixteen " XX" or " .." groups, two spaces, then
// the bytes 20h..7Dh as characters and every other byte as ".".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kordel {

std::vector<std::string> HexDumpLines(const std::uint8_t* data, std::size_t count);

// The header line of a counted dump: "Anzahl: " and the count in decimal.
std::string DumpHeader(long long count);

}  // namespace kordel
