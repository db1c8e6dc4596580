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

}  // namespace insim_screen
