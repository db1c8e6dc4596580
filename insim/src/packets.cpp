#include "insim/packets.hpp"

#include <algorithm>
#include <cstring>

namespace insim {

namespace {

template <std::size_t N>
void copy_zero_padded(std::array<std::uint8_t, N>& field, std::string_view bytes) noexcept
{
    const std::size_t n = std::min(bytes.size(), N);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()), n, field.begin());
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), std::uint8_t{0});
}

}  // namespace

std::uint16_t combine_flags(std::span<const std::uint16_t> flags) noexcept
{
    std::uint16_t combined = 0;
    for (const std::uint16_t flag : flags) combined = static_cast<std::uint16_t>(combined | flag);
    return combined;
}

std::uint16_t combine_flags(std::initializer_list<std::uint16_t> flags) noexcept
{
    return combine_flags(std::span<const std::uint16_t>(flags.begin(), flags.size()));
}

std::array<std::uint8_t, INAME_SIZE> display_name(std::string_view name) noexcept
{
    // LFS reads the name as a zero-terminated string, so the last byte stays zero.
    std::array<std::uint8_t, INAME_SIZE> field{};
    copy_zero_padded(field, name.substr(0, INAME_SIZE - 1));
    return field;
}

Result<IS_ISI> make_init_packet(std::span<const std::uint16_t> flags, std::string_view admin_password,
                                const std::array<std::uint8_t, INAME_SIZE>& name)
{
    // The ASCII check comes first, so an over-long non-ASCII password gets the ASCII message.
    if (std::any_of(admin_password.begin(), admin_password.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return Error::message("Given admin password is not typed in ASCII!");
    }
    if (admin_password.size() >= ADMIN_SIZE) {
        return Error::message("Admin password cannot be longer than 15 characters!");
    }

    IS_ISI packet;
    const std::uint16_t combined = combine_flags(flags);
    packet.Flags = {static_cast<std::uint8_t>(combined & 0xffU), static_cast<std::uint8_t>(combined >> 8U)};
    copy_zero_padded(packet.Admin, admin_password);
    packet.IName = name;
    return packet;
}

Result<IS_MST> make_message_packet(std::string_view message)
{
    if (message.size() >= MESSAGE_SIZE) return Error::message("Message length too long for IS_MST!");
    IS_MST packet;
    copy_zero_padded(packet.Msg, message);
    return packet;
}

IS_MSL make_local_message(std::string_view message) noexcept
{
    std::size_t length = std::min(message.size(), LOCAL_MESSAGE_SIZE - 1);
    // Never half a UTF-8 sequence: back off its continuation bytes.
    if (length < message.size()) {
        while (length > 0 && (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) --length;
    }
    IS_MSL packet;
    copy_zero_padded(packet.Msg, message.substr(0, length));
    return packet;
}

void set_button_text(IS_BTN& button, std::string_view text) noexcept { copy_zero_padded(button.Text, text); }

std::size_t write_short_button(const IS_BTN& head, std::string_view text,
                               std::span<std::byte, sizeof(IS_BTN)> out) noexcept
{
    constexpr std::size_t head_size = offsetof(IS_BTN, Text);
    const std::size_t length = std::min(text.size(), BUTTON_TEXT_SIZE);
    const std::size_t padded = std::min((length / 4 + 1) * 4, BUTTON_TEXT_SIZE);
    const std::size_t total = head_size + padded;
    std::memcpy(out.data(), &head, head_size);
    out[0] = static_cast<std::byte>(total / 4);
    // The padding lies within the last word, so zero that word and let the text overwrite it.
    std::memset(out.data() + total - 4, 0, 4);
    if (length != 0) std::memcpy(out.data() + head_size, text.data(), length);
    return total;
}

std::size_t drop_repeated_colour_codes(std::string_view text, std::span<char> out) noexcept
{
    const char* in = text.data();
    const std::size_t size = text.size();
    char* to = out.data();
    std::size_t read = 0;
    std::size_t written = 0;
    char in_force = 0;  // no code yet; never equal to a digit
    // Every caret takes the byte after it along: a digit makes a code, a caret
    // an escaped caret, and any other byte cannot start a code. written <= read
    // throughout, so both stores stay within the first size bytes of out.
    while (read + 1 < size) {
        const char c = in[read];
        to[written] = c;
        if (c != '^') {
            ++written;
            ++read;
            continue;
        }
        const char next = in[read + 1];
        to[written + 1] = next;
        const bool code = static_cast<unsigned char>(next - '0') < 10;
        written += (code && next == in_force) ? 0 : 2;
        if (code) in_force = next;
        read += 2;
    }
    if (read < size) to[written++] = in[read];
    return written;
}

}  // namespace insim
