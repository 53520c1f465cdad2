// SHA-256 (FIPS 180-4), for the fingerprint of the bytes an update sends.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kordel::cli {

class Sha256 {
  public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    // Feeds more bytes; may be called any number of times before Final.
    void Update(std::span<const std::uint8_t> bytes);
    // The digest of everything fed so far. The object is spent afterwards.
    Digest Final();

  private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

}  // namespace kordel::cli
