#include "host_packets.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "events.hpp"
#include "insim/incoming.hpp"
#include "insim/packets.hpp"
#include "packet_decoder.hpp"

namespace insim_screen {

std::array<std::uint8_t, VERSION_LENGTH> make_version_packet(std::uint8_t reqi) noexcept
{
    // Size, Type, ReqI, Zero, Version[8], Product[6], InSimVer, Spare.
    std::array<std::uint8_t, VERSION_LENGTH> packet{VERSION_LENGTH / 4, ISP_VER, reqi, 0};
    constexpr std::string_view version = "0.7F";
    constexpr std::string_view product = "S3";
    for (std::size_t i = 0; i < version.size(); ++i) packet[4 + i] = static_cast<std::uint8_t>(version[i]);
    for (std::size_t i = 0; i < product.size(); ++i) packet[12 + i] = static_cast<std::uint8_t>(product[i]);
    packet[18] = insim::INSIM_VERSION;
    return packet;
}

std::array<std::uint8_t, KEEPALIVE_LENGTH> make_keepalive_packet() noexcept
{
    return {1, insim::ISP_TINY, 0, insim::TINY_NONE};
}

std::array<std::uint8_t, NEW_CONNECTION_LENGTH> make_new_connection_packet(const NewConnection& connection) noexcept
{
    // Size, Type, ReqI, UCID, UName[24], PName[24], Admin, Total, Flags, Sp3.
    std::array<std::uint8_t, NEW_CONNECTION_LENGTH> packet{NEW_CONNECTION_LENGTH / 4, ISP_NCN, connection.reqi,
                                                           connection.ucid};
    const auto name = connection.name.substr(0, 23);
    for (std::size_t i = 0; i < name.size(); ++i) {
        packet[4 + i] = static_cast<std::uint8_t>(name[i]);
        packet[28 + i] = static_cast<std::uint8_t>(name[i]);
    }
    const bool host = connection.ucid == 0;
    packet[52] = host ? 1 : 0;
    packet[53] = connection.total;
    packet[54] = host ? 0 : 4;
    return packet;
}

std::array<std::uint8_t, CONNECTION_LEFT_LENGTH> make_connection_left_packet(std::uint8_t ucid,
                                                                             std::uint8_t total) noexcept
{
    // Size, Type, ReqI, UCID, Reason, Total, Sp2, Sp3.
    return {CONNECTION_LEFT_LENGTH / 4, ISP_CNL, 0, ucid, 0, total, 0, 0};
}

std::array<std::uint8_t, BUTTON_FUNCTION_LENGTH> make_button_function_packet(std::uint8_t subt,
                                                                             std::uint8_t ucid) noexcept
{
    // Size, Type, ReqI, SubT, UCID, ClickID, ClickMax, Inst.
    return {BUTTON_FUNCTION_LENGTH / 4, ISP_BFN, 0, subt, ucid, 0, 0, 0};
}

std::vector<std::uint8_t> make_o_packet(std::string_view text)
{
    constexpr std::string_view command = "/o ";
    text = text.substr(0, MAX_O_TEXT_LENGTH);
    insim::IS_MSO packet;
    packet.UserType = insim::MSO_O;
    std::copy(command.begin(), command.end(), packet.Msg.begin());
    std::copy(text.begin(), text.end(), packet.Msg.begin() + command.size());
    // Head, text and its zero, rounded up: at least one zero and at most the whole record.
    const std::size_t used = offsetof(insim::IS_MSO, Msg) + command.size() + text.size() + 1;
    const std::size_t length = (used + insim::SIZE_UNIT - 1) / insim::SIZE_UNIT * insim::SIZE_UNIT;
    packet.Size = static_cast<std::uint8_t>(length / insim::SIZE_UNIT);
    std::vector<std::uint8_t> bytes(length);
    std::memcpy(bytes.data(), &packet, length);
    return bytes;
}

}  // namespace insim_screen
