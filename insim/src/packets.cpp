#include "insim/packets.hpp"

#include <algorithm>

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

void set_button_text(IS_BTN& button, std::string_view text) noexcept { copy_zero_padded(button.Text, text); }

}  // namespace insim
