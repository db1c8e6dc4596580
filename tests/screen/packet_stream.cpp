#include "packet_stream.hpp"

#include <algorithm>
#include <string>

#include "insim/packets.hpp"

namespace screen_test {

namespace {

template <typename Packet>
Bytes bytes_of(const Packet& packet)
{
    const auto image = insim::image(packet);
    Bytes out(image.size());
    std::transform(image.begin(), image.end(), out.begin(), [](std::byte b) { return std::to_integer<std::uint8_t>(b); });
    return out;
}

insim::IS_BTN make_button(std::uint8_t click_id, std::uint8_t t, std::string_view text)
{
    insim::IS_BTN button;
    button.ClickID = click_id;
    button.BStyle = insim::ISB_DARK;
    button.T = t;
    button.W = 240;
    button.H = 6;
    std::copy_n(text.begin(), std::min(text.size(), button.Text.size()), button.Text.begin());
    return button;
}

}  // namespace

Bytes init_packet(std::string_view password, std::uint8_t version, std::uint8_t reqi, std::uint16_t flags)
{
    insim::IS_ISI init;
    init.ReqI = reqi;
    init.Flags = {static_cast<std::uint8_t>(flags & 0xff), static_cast<std::uint8_t>(flags >> 8)};
    init.InSimVer = version;
    std::copy_n(password.begin(), std::min(password.size(), init.Admin.size()), init.Admin.begin());
    constexpr std::string_view name = "Lumaflick";
    std::copy(name.begin(), name.end(), init.IName.begin());
    return bytes_of(init);
}

Bytes button_packet(std::uint8_t click_id, std::uint8_t t, std::string_view text, std::uint8_t ucid)
{
    auto button = make_button(click_id, t, text);
    button.UCID = ucid;
    return bytes_of(button);
}

Bytes short_button_packet(std::uint8_t click_id, std::uint8_t t, std::string_view text)
{
    Bytes out = button_packet(click_id, t, text);
    const std::size_t length = std::min<std::size_t>(12 + (text.size() + 4) / 4 * 4, out.size());
    out.resize(length);
    out[0] = static_cast<std::uint8_t>(length / 4);
    return out;
}

Bytes message_packet(std::string_view text)
{
    insim::IS_MST message;
    std::copy_n(text.begin(), std::min(text.size(), message.Msg.size()), message.Msg.begin());
    return bytes_of(message);
}

Bytes local_message_packet(std::string_view text, std::uint8_t sound)
{
    Bytes out = raw_packet(33, 40);
    out[3] = sound;
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 127), out.begin() + 4);
    return out;
}

Bytes tiny_packet(std::uint8_t subt, std::uint8_t reqi)
{
    insim::IS_TINY tiny;
    tiny.ReqI = reqi;
    tiny.SubT = subt;
    return bytes_of(tiny);
}

Bytes raw_packet(std::uint8_t size, std::uint8_t type, std::uint8_t fill)
{
    Bytes out(std::max<std::size_t>(size * 4u, 4), fill);
    out[0] = size;
    out[1] = type;
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes picture_row_button(std::uint8_t row, std::string_view colours, std::uint8_t ucid, Placement at)
{
    std::string text;
    for (std::size_t c = 0; c < 80; ++c) {
        text += '^';
        text += colours[c % colours.size()];
        text += '_';
    }
    auto button = make_button(static_cast<std::uint8_t>(at.first_click_id + row),
                              static_cast<std::uint8_t>(at.top + row * at.row_height), text);
    button.UCID = ucid;
    button.L = at.left;
    button.W = static_cast<std::uint8_t>(40 * at.row_height);
    button.H = at.row_height;
    return bytes_of(button);
}

Bytes full_frame(std::string_view colours, std::uint8_t ucid, Placement at)
{
    Bytes out;
    for (std::uint8_t row = 0; row < 30; ++row) {
        const Bytes button = picture_row_button(row, colours, ucid, at);
        out.insert(out.end(), button.begin(), button.end());
    }
    return out;
}

}  // namespace screen_test
