#pragma once

// InSim packets as the fake LFS receives them, taken apart for assertions,
// and the packets LFS sends, for the fake to send.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "fake_lfs.hpp"
#include "geometry.hpp"
#include "insim/incoming.hpp"
#include "insim/packets.hpp"

namespace lumaflick::test {

// What lumaflick sends before its first frame, and a whole frame of buttons.
inline constexpr std::size_t INIT_BYTES = sizeof(insim::IS_ISI);
inline constexpr std::size_t BUTTON_BYTES = sizeof(insim::IS_BTN);
inline constexpr std::size_t FRAME_BLOCK_BYTES = DEFAULT_GEOMETRY.rows * BUTTON_BYTES;

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

using Bytes = std::vector<std::uint8_t>;

Bytes join(std::initializer_list<Bytes> packets);

// What LFS sends, byte for byte.
Bytes tiny_packet(std::uint8_t subt, std::uint8_t reqi = 0);
// Version "0.7F", product "S3", InSimVer 9.
Bytes version_packet(std::uint8_t reqi);
// A connection joins (Flags 4: a remote guest); with the ReqI of a TINY_NCN when it answers one.
Bytes ncn_packet(std::uint8_t ucid, std::string_view uname, std::string_view pname, std::uint8_t total,
                 bool admin = false, std::uint8_t flags = 4, std::uint8_t reqi = 0);
Bytes cnl_packet(std::uint8_t ucid, std::uint8_t total, std::uint8_t reason = 0);
Bytes bfn_packet(std::uint8_t subt, std::uint8_t ucid, std::uint8_t click_id = 0, std::uint8_t click_max = 0);
// Cut after the text's zero byte to a multiple of 4, as LFS sends it; the
// text is clipped to 127 bytes.
Bytes mso_packet(std::string_view msg, std::uint8_t user_type = insim::MSO_O, std::uint8_t text_start = 0,
                 std::uint8_t ucid = 0);

}  // namespace lumaflick::test
