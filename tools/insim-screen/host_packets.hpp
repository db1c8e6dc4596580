#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace insim_screen {

inline constexpr std::size_t VERSION_LENGTH = 20;
inline constexpr std::size_t KEEPALIVE_LENGTH = 4;

// LFS answers an IS_ISI with a non-zero ReqI by its version.
std::array<std::uint8_t, VERSION_LENGTH> make_version_packet(std::uint8_t reqi) noexcept;

// The IS_TINY (TINY_NONE) that LFS sends every 30 seconds.
std::array<std::uint8_t, KEEPALIVE_LENGTH> make_keepalive_packet() noexcept;

}  // namespace insim_screen
