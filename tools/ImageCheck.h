// What makes a firmware image unfit to be embedded and sent to the module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kordel {

// The largest image an update can write: 4096 blocks of 256 bytes, plus one more.
inline constexpr std::size_t MaxImageSize = (1u << 20) + 256;

// Why the image cannot be embedded, or empty when it can.
std::string ImageProblem(std::span<const std::uint8_t> image);

}  // namespace kordel
