#include "wire.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace lumaflick::test {

namespace {

template <typename Packet>
Bytes bytes_of(const Packet& packet, std::size_t size = sizeof(Packet))
{
    Bytes out(size);
    std::memcpy(out.data(), &packet, size);
    out[0] = static_cast<std::uint8_t>(size / insim::SIZE_UNIT);
    return out;
}

template <std::size_t N>
void copy_text(std::array<std::uint8_t, N>& field, std::string_view text)
{
    std::copy_n(text.begin(), std::min(text.size(), N - 1), field.begin());
}

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

Bytes join(std::initializer_list<Bytes> packets)
{
    Bytes out;
    for (const Bytes& packet : packets) out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

Bytes tiny_packet(std::uint8_t subt, std::uint8_t reqi)
{
    insim::IS_TINY tiny;
    tiny.ReqI = reqi;
    tiny.SubT = subt;
    return bytes_of(tiny);
}

Bytes version_packet(std::uint8_t reqi)
{
    insim::IS_VER version;
    version.ReqI = reqi;
    copy_text(version.Version, "0.7F");
    copy_text(version.Product, "S3");
    version.InSimVer = insim::INSIM_VERSION;
    return bytes_of(version);
}

Bytes ncn_packet(std::uint8_t ucid, std::string_view uname, std::string_view pname, std::uint8_t total, bool admin,
                 std::uint8_t flags, std::uint8_t reqi)
{
    insim::IS_NCN joined;
    joined.ReqI = reqi;
    joined.UCID = ucid;
    copy_text(joined.UName, uname);
    copy_text(joined.PName, pname);
    joined.Admin = admin ? 1 : 0;
    joined.Total = total;
    joined.Flags = flags;
    return bytes_of(joined);
}

Bytes cnl_packet(std::uint8_t ucid, std::uint8_t total, std::uint8_t reason)
{
    insim::IS_CNL left;
    left.UCID = ucid;
    left.Reason = reason;
    left.Total = total;
    return bytes_of(left);
}

Bytes bfn_packet(std::uint8_t subt, std::uint8_t ucid, std::uint8_t click_id, std::uint8_t click_max)
{
    insim::IS_BFN buttons;
    buttons.SubT = subt;
    buttons.UCID = ucid;
    buttons.ClickID = click_id;
    buttons.ClickMax = click_max;
    return bytes_of(buttons);
}

Bytes mso_packet(std::string_view msg, std::uint8_t user_type, std::uint8_t text_start, std::uint8_t ucid)
{
    insim::IS_MSO message;
    message.UCID = ucid;
    message.UserType = user_type;
    message.TextStart = text_start;
    copy_text(message.Msg, msg);
    const std::size_t text = std::min(msg.size(), message.Msg.size() - 1);
    return bytes_of(message, offsetof(insim::IS_MSO, Msg) + (text / insim::SIZE_UNIT + 1) * insim::SIZE_UNIT);
}

}  // namespace lumaflick::test
