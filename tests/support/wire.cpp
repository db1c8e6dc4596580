#include "wire.hpp"

#include <algorithm>
#include <cstring>

namespace lumaflick::test {

namespace {

std::string zero_terminated(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size)
{
    if (bytes.size() < offset) return {};
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = begin + static_cast<std::ptrdiff_t>(std::min(size, bytes.size() - offset));
    return {begin, std::find(begin, end, std::uint8_t{0})};
}

}  // namespace

Button button(const Packet& packet)
{
    Button result;
    if (packet.bytes.size() < 12) return result;
    result.click_id = packet.bytes[4];
    result.top = packet.bytes[9];
    result.text = zero_terminated(packet.bytes, 12, 240);
    return result;
}

std::string message(const Packet& packet) { return zero_terminated(packet.bytes, 4, 64); }

std::vector<Packet> of_type(const std::vector<Packet>& packets, std::uint8_t type)
{
    std::vector<Packet> selected;
    std::copy_if(packets.begin(), packets.end(), std::back_inserter(selected),
                 [type](const Packet& packet) { return packet.type() == type; });
    return selected;
}

std::vector<std::uint8_t> from_hex(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        bytes.push_back(static_cast<std::uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    }
    return bytes;
}

std::vector<std::uint8_t> expected_init(bool local)
{
    auto bytes = from_hex(
        "0b0101000000040009000000736563726574000000000000000000004c756d61666c69636b00000000000000");
    if (!local) bytes[6] = 0;
    return bytes;
}

std::string row_of(std::string_view glyph)
{
    std::string row;
    for (int i = 0; i < 80; ++i) row += glyph;
    return row;
}

}  // namespace lumaflick::test
