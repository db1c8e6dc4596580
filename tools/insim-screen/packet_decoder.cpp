#include "packet_decoder.hpp"

#include <algorithm>
#include <cstddef>

namespace insim_screen {

namespace {

constexpr std::size_t INIT_LENGTH = sizeof(insim::IS_ISI);
constexpr std::size_t MESSAGE_LENGTH = sizeof(insim::IS_MST);
// Size, Type, ReqI, Sound, Msg[128].
constexpr std::size_t LOCAL_MESSAGE_LENGTH = 132;
constexpr std::size_t LOCAL_MESSAGE_TEXT = 4;
constexpr std::size_t TINY_LENGTH = sizeof(insim::IS_TINY);
constexpr std::size_t BUTTON_FUNCTION_LENGTH = 8;
constexpr std::size_t BUTTON_HEAD = offsetof(insim::IS_BTN, Text);
constexpr std::size_t BUTTON_LONGEST = sizeof(insim::IS_BTN);

std::string zero_ended(std::span<const std::uint8_t> field)
{
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return {field.begin(), end};
}

std::uint16_t little_endian(std::span<const std::uint8_t> packet, std::size_t offset)
{
    return static_cast<std::uint16_t>(packet[offset] | packet[offset + 1] << 8);
}

MalformedPacket wrong_length(std::span<const std::uint8_t> packet, std::size_t expected)
{
    return {packet[1], packet_type_name(packet[1]) + " of " + std::to_string(packet.size()) + " bytes, expected " +
                           std::to_string(expected)};
}

DecodedPacket decode_init(std::span<const std::uint8_t> p)
{
    if (p.size() != INIT_LENGTH) return wrong_length(p, INIT_LENGTH);
    InitPacket init;
    init.ReqI = p[2];
    init.UDPPort = little_endian(p, 4);
    init.Flags = little_endian(p, 6);
    init.InSimVer = p[8];
    init.Prefix = p[9];
    init.Interval = little_endian(p, 10);
    std::copy_n(p.begin() + offsetof(insim::IS_ISI, Admin), insim::ADMIN_SIZE, init.Admin.begin());
    init.IName = zero_ended(p.subspan(offsetof(insim::IS_ISI, IName), insim::INAME_SIZE));
    return init;
}

DecodedPacket decode_button(std::span<const std::uint8_t> p)
{
    if (p.size() < BUTTON_HEAD) {
        return MalformedPacket{p[1], "IS_BTN of " + std::to_string(p.size()) + " bytes is shorter than its " +
                                         std::to_string(BUTTON_HEAD) + "-byte head"};
    }
    if (p.size() > BUTTON_LONGEST) {
        return MalformedPacket{p[1], "IS_BTN text of " + std::to_string(p.size() - BUTTON_HEAD) +
                                         " bytes is over " + std::to_string(insim::BUTTON_TEXT_SIZE)};
    }
    ButtonPacket button;
    button.ReqI = p[2];
    button.UCID = p[3];
    button.ClickID = p[4];
    button.Inst = p[5];
    button.BStyle = p[6];
    button.TypeIn = p[7];
    button.L = p[8];
    button.T = p[9];
    button.W = p[10];
    button.H = p[11];
    button.Text = zero_ended(p.subspan(BUTTON_HEAD));
    return button;
}

DecodedPacket decode_message(std::span<const std::uint8_t> p)
{
    if (p.size() != MESSAGE_LENGTH) return wrong_length(p, MESSAGE_LENGTH);
    return MessagePacket{zero_ended(p.subspan(offsetof(insim::IS_MST, Msg)))};
}

DecodedPacket decode_local_message(std::span<const std::uint8_t> p)
{
    if (p.size() != LOCAL_MESSAGE_LENGTH) return wrong_length(p, LOCAL_MESSAGE_LENGTH);
    return LocalMessagePacket{p[3], zero_ended(p.subspan(LOCAL_MESSAGE_TEXT))};
}

DecodedPacket decode_tiny(std::span<const std::uint8_t> p)
{
    if (p.size() != TINY_LENGTH) return wrong_length(p, TINY_LENGTH);
    return TinyPacket{p[2], p[3]};
}

DecodedPacket decode_button_function(std::span<const std::uint8_t> p)
{
    if (p.size() != BUTTON_FUNCTION_LENGTH) return wrong_length(p, BUTTON_FUNCTION_LENGTH);
    return ButtonFunctionPacket{p[2], p[3], p[4], p[5], p[6], p[7]};
}

}  // namespace

DecodedPacket decode_packet(std::span<const std::uint8_t> packet)
{
    if (packet.size() < TINY_LENGTH) {
        return MalformedPacket{packet.size() > 1 ? packet[1] : std::uint8_t{0},
                               "packet of " + std::to_string(packet.size()) + " bytes"};
    }
    switch (packet[1]) {
        case insim::ISP_ISI: return decode_init(packet);
        case insim::ISP_BTN: return decode_button(packet);
        case insim::ISP_MST: return decode_message(packet);
        case ISP_MSL: return decode_local_message(packet);
        case insim::ISP_TINY: return decode_tiny(packet);
        case ISP_BFN: return decode_button_function(packet);
        default: return MalformedPacket{packet[1], "unknown packet type " + std::to_string(packet[1])};
    }
}

std::string packet_type_name(std::uint8_t type)
{
    switch (type) {
        case insim::ISP_ISI: return "IS_ISI";
        case ISP_VER: return "IS_VER";
        case insim::ISP_TINY: return "IS_TINY";
        case insim::ISP_MST: return "IS_MST";
        case ISP_MSL: return "IS_MSL";
        case insim::ISP_BTN: return "IS_BTN";
        case ISP_NCN: return "IS_NCN";
        case ISP_CNL: return "IS_CNL";
        case ISP_BFN: return "IS_BFN";
        default: return "type " + std::to_string(type);
    }
}

}  // namespace insim_screen
