#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "insim/result.hpp"

namespace insim {

// Packet types, flag bits and sub-types by their published names.
inline constexpr std::uint8_t ISP_ISI = 1;
inline constexpr std::uint8_t ISP_TINY = 3;
inline constexpr std::uint8_t ISP_MST = 13;
inline constexpr std::uint8_t ISP_MSL = 40;
inline constexpr std::uint8_t ISP_BTN = 45;
inline constexpr std::uint8_t TINY_NONE = 0;
inline constexpr std::uint8_t INSIM_VERSION = 9;

inline constexpr std::uint16_t ISF_LOCAL = 4;
inline constexpr std::uint8_t ISB_DARK = 32;
inline constexpr std::uint8_t ISB_LEFT = 64;
inline constexpr std::uint8_t ISB_RIGHT = 128;

inline constexpr std::size_t BUTTON_TEXT_SIZE = 240;
inline constexpr std::size_t MESSAGE_SIZE = 64;
inline constexpr std::size_t LOCAL_MESSAGE_SIZE = 128;
inline constexpr std::size_t ADMIN_SIZE = 16;
inline constexpr std::size_t INAME_SIZE = 16;

// Each packet is a record of single bytes (16-bit fields as little-endian byte
// pairs), so its object representation is exactly its wire image on any host.

struct IS_ISI {
    std::uint8_t Size = 11;
    std::uint8_t Type = ISP_ISI;
    std::uint8_t ReqI = 1;
    std::uint8_t Zero = 0;
    std::array<std::uint8_t, 2> UDPPort{};
    std::array<std::uint8_t, 2> Flags{};
    std::uint8_t InSimVer = INSIM_VERSION;
    std::uint8_t Prefix = 0;
    std::array<std::uint8_t, 2> Interval{};
    std::array<std::uint8_t, ADMIN_SIZE> Admin{};
    std::array<std::uint8_t, INAME_SIZE> IName{};
};

struct IS_BTN {
    std::uint8_t Size = 63;
    std::uint8_t Type = ISP_BTN;
    std::uint8_t ReqI = 1;
    std::uint8_t UCID = 255;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
    std::uint8_t BStyle = 0;
    std::uint8_t TypeIn = 0;
    std::uint8_t L = 0;
    std::uint8_t T = 0;
    std::uint8_t W = 0;
    std::uint8_t H = 0;
    std::array<std::uint8_t, BUTTON_TEXT_SIZE> Text{};
};

struct IS_MST {
    std::uint8_t Size = 17;
    std::uint8_t Type = ISP_MST;
    std::uint8_t ReqI = 0;
    std::uint8_t Zero = 0;
    std::array<std::uint8_t, MESSAGE_SIZE> Msg{};
};

// A message shown only on the screen of the computer running LFS.
struct IS_MSL {
    std::uint8_t Size = 33;
    std::uint8_t Type = ISP_MSL;
    std::uint8_t ReqI = 0;
    std::uint8_t Sound = 0;
    std::array<std::uint8_t, LOCAL_MESSAGE_SIZE> Msg{};
};

// Keep-alive: LFS drops a connection that has been silent for 70 seconds.
struct IS_TINY {
    std::uint8_t Size = 1;
    std::uint8_t Type = ISP_TINY;
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = TINY_NONE;
};

static_assert(sizeof(IS_ISI) == 44 && offsetof(IS_ISI, Flags) == 6 && offsetof(IS_ISI, Admin) == 12 &&
              offsetof(IS_ISI, IName) == 28);
static_assert(sizeof(IS_BTN) == 252 && offsetof(IS_BTN, Text) == 12);
static_assert(sizeof(IS_MST) == 68 && offsetof(IS_MST, Msg) == 4);
static_assert(sizeof(IS_TINY) == 4 && sizeof(IS_MSL) == 132);

template <typename Packet>
concept InSimPacket = std::is_same_v<Packet, IS_ISI> || std::is_same_v<Packet, IS_BTN> ||
                      std::is_same_v<Packet, IS_MST> || std::is_same_v<Packet, IS_TINY> ||
                      std::is_same_v<Packet, IS_MSL>;

// The packet's wire image.
template <InSimPacket Packet>
std::span<const std::byte, sizeof(Packet)> image(const Packet& packet) noexcept
{
    return std::span<const std::byte, sizeof(Packet)>(reinterpret_cast<const std::byte*>(&packet), sizeof(Packet));
}

// A run of button records is one contiguous block of 252 × n bytes.
inline std::span<const std::byte> image(std::span<const IS_BTN> buttons) noexcept { return std::as_bytes(buttons); }

std::uint16_t combine_flags(std::initializer_list<std::uint16_t> flags) noexcept;
std::uint16_t combine_flags(std::span<const std::uint16_t> flags) noexcept;

// The display name field holding "Lumaflick" and zero padding.
std::array<std::uint8_t, INAME_SIZE> display_name(std::string_view name) noexcept;

// Fails with "Given admin password is not typed in ASCII!" or
// "Admin password cannot be longer than 15 characters!", in that order.
Result<IS_ISI> make_init_packet(std::span<const std::uint16_t> flags, std::string_view admin_password,
                                const std::array<std::uint8_t, INAME_SIZE>& name);

// Fails with "Message length too long for IS_MST!" for 64 bytes or more.
Result<IS_MST> make_message_packet(std::string_view message);

// A local message of at most 127 bytes; a longer one is cut there, at a
// character's boundary, since it only ever answers the person at LFS.
IS_MSL make_local_message(std::string_view message) noexcept;

// Copies the first min(size, 240) bytes and zeroes the rest.
void set_button_text(IS_BTN& button, std::string_view text) noexcept;

// The button at its shortest: the head of `head` (its Text is not read), the
// first min(size, 240) bytes of `text`, then zeros up to a multiple of 4 (at
// least one unless the text fills all 240 bytes), with Size set to match.
// Returns the bytes written: 16 to 252.
std::size_t write_short_button(const IS_BTN& head, std::string_view text,
                               std::span<std::byte, sizeof(IS_BTN)> out) noexcept;

// Leaves out each colour code ^0-^9 that repeats the one already in force; the
// first code always stays, and ^^ is a literal caret, not the start of a code.
// `out` needs room for text.size() bytes and may be the text's own storage;
// returns the bytes written.
std::size_t drop_repeated_colour_codes(std::string_view text, std::span<char> out) noexcept;

}  // namespace insim
