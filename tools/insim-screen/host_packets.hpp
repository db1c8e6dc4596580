#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace insim_screen {

inline constexpr std::size_t VERSION_LENGTH = 20;
inline constexpr std::size_t KEEPALIVE_LENGTH = 4;
inline constexpr std::size_t NEW_CONNECTION_LENGTH = 56;
inline constexpr std::size_t CONNECTION_LEFT_LENGTH = 8;
inline constexpr std::size_t BUTTON_FUNCTION_LENGTH = 8;

// LFS answers an IS_ISI with a non-zero ReqI by its version.
std::array<std::uint8_t, VERSION_LENGTH> make_version_packet(std::uint8_t reqi) noexcept;

// The IS_TINY (TINY_NONE) that LFS sends every 30 seconds.
std::array<std::uint8_t, KEEPALIVE_LENGTH> make_keepalive_packet() noexcept;

// IS_NCN: a connection joined, or one answer to TINY_NCN. UName and PName are
// both `name`, cut to 23 bytes; guests are remote (Flags 4), the host is admin.
struct NewConnection {
    std::uint8_t reqi = 0;
    std::uint8_t ucid = 0;
    std::string_view name;
    std::uint8_t total = 0;  // connections, the host's included
};
std::array<std::uint8_t, NEW_CONNECTION_LENGTH> make_new_connection_packet(const NewConnection& connection) noexcept;

// IS_CNL: connection `ucid` left (Reason 0, a disconnect); `total` after it.
std::array<std::uint8_t, CONNECTION_LEFT_LENGTH> make_connection_left_packet(std::uint8_t ucid,
                                                                             std::uint8_t total) noexcept;

// IS_BFN as LFS sends it: the user cleared the buttons (BFN_USER_CLEAR) or asks for them (BFN_REQUEST).
std::array<std::uint8_t, BUTTON_FUNCTION_LENGTH> make_button_function_packet(std::uint8_t subt,
                                                                             std::uint8_t ucid) noexcept;

// IS_MSO as LFS sends it when `/o TEXT` is typed on its computer: UserType
// MSO_O, UCID and PLID 0, Msg "/o TEXT" from TextStart 0, cut after the zero
// to a multiple of 4. A text over MAX_O_TEXT_LENGTH bytes is cut to it.
std::vector<std::uint8_t> make_o_packet(std::string_view text);

}  // namespace insim_screen
