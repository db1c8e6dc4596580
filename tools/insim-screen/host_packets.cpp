#include "host_packets.hpp"

#include <string_view>

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

}  // namespace insim_screen
