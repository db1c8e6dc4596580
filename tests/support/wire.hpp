#pragma once

// InSim packets as the fake LFS receives them, taken apart for assertions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fake_lfs.hpp"
#include "insim/packets.hpp"

namespace lumaflick::test {

struct Button {
    std::uint8_t click_id = 0;
    std::uint8_t top = 0;
    std::string text;  // up to the first zero byte, at most 240 bytes
};

Button button(const Packet& packet);
// The Msg field up to its first zero byte.
std::string message(const Packet& packet);

std::vector<Packet> of_type(const std::vector<Packet>& packets, std::uint8_t type);

std::vector<std::uint8_t> from_hex(std::string_view hex);

// The 44-byte IS_ISI for password "secret" and name "Lumaflick", as an
// independent InSim library packs it (with ISF_LOCAL; flags patched when not local).
std::vector<std::uint8_t> expected_init(bool local);

// A row of 80 copies of one glyph string.
std::string row_of(std::string_view glyph);

}  // namespace lumaflick::test
