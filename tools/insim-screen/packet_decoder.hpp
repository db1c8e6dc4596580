#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "insim/packets.hpp"

namespace insim_screen {

// Packets a host sends or answers, beyond the player's own header.
inline constexpr std::uint8_t ISP_VER = 2;
inline constexpr std::uint8_t ISP_NCN = 18;
inline constexpr std::uint8_t ISP_CNL = 19;
inline constexpr std::uint8_t ISP_MSL = 40;
inline constexpr std::uint8_t ISP_BFN = 42;
inline constexpr std::uint8_t TINY_CLOSE = 2;
inline constexpr std::uint8_t TINY_NCN = 13;
inline constexpr std::uint8_t BFN_DEL_BTN = 0;
inline constexpr std::uint8_t BFN_CLEAR = 1;
inline constexpr std::uint8_t BFN_USER_CLEAR = 2;
inline constexpr std::uint8_t BFN_REQUEST = 3;

// Fields as on the wire; texts end at their first zero byte or at the field's end.
struct InitPacket {
    std::uint8_t ReqI = 0;
    std::uint16_t UDPPort = 0;
    std::uint16_t Flags = 0;
    std::uint8_t InSimVer = 0;
    std::uint8_t Prefix = 0;
    std::uint16_t Interval = 0;
    std::array<std::uint8_t, insim::ADMIN_SIZE> Admin{};
    std::string IName;
};

struct ButtonPacket {
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t Inst = 0;
    std::uint8_t BStyle = 0;
    std::uint8_t TypeIn = 0;
    std::uint8_t L = 0;
    std::uint8_t T = 0;
    std::uint8_t W = 0;
    std::uint8_t H = 0;
    std::string Text;
};

struct MessagePacket {
    std::string Msg;
};

// IS_MSL: a message the client shows on the host's own screen only.
struct LocalMessagePacket {
    std::uint8_t Sound = 0;
    std::string Msg;
};

struct TinyPacket {
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
};

// IS_BFN: delete a button (or ClickID to ClickMax), or clear all of them.
struct ButtonFunctionPacket {
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t ClickMax = 0;
    std::uint8_t Inst = 0;
};

// A packet that cannot be taken: unknown type, wrong size, bad field.
struct MalformedPacket {
    std::uint8_t Type = 0;
    std::string problem;
};

using DecodedPacket = std::variant<InitPacket, ButtonPacket, MessagePacket, LocalMessagePacket, TinyPacket,
                                   ButtonFunctionPacket, MalformedPacket>;

// Decodes one whole packet as cut by insim::PacketFramer (at least 4 bytes, length
// = size byte × 4). Never fails: whatever it cannot take is a MalformedPacket.
DecodedPacket decode_packet(std::span<const std::uint8_t> packet);

// "IS_BTN" for the types the screen knows, "type 99" otherwise.
std::string packet_type_name(std::uint8_t type);

}  // namespace insim_screen
