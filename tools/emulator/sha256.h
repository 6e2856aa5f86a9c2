#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zelk::emu {

using TSha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 (FIPS 180-4) of the whole byte range.
TSha256Digest Sha256(std::span<const std::uint8_t> bytes);
// The same digest as 64 lower-case hex digits, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace zelk::emu
