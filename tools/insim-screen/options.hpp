#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "events.hpp"

namespace insim_screen {

struct ListenAddress {
    std::array<std::uint8_t, 4> address{127, 0, 0, 1};
    std::uint16_t port = 11000;
    friend bool operator==(const ListenAddress&, const ListenAddress&) = default;
};

// A connection's last screen, written as a PNG when the client leaves.
struct GuestSnapshot {
    std::uint8_t ucid = 0;
    std::string path;
    friend bool operator==(const GuestSnapshot&, const GuestSnapshot&) = default;
};

struct ScreenOptions {
    ListenAddress listen;
    std::optional<std::string> password;
    std::optional<std::string> snapshot;
    std::optional<std::string> transcript;
    std::optional<std::string> port_file;
    bool keep = false;
    std::chrono::milliseconds keepalive{30'000};  // 0: none
    std::vector<TimedEvent> events;               // from --events
    bool stdin_events = false;
    std::uint8_t show = 0;  // the connection whose screen the terminal draws
    std::vector<GuestSnapshot> guest_snapshots;

    // Guests are in play: the console then reports on every connection.
    [[nodiscard]] bool with_guests() const noexcept
    {
        return !events.empty() || stdin_events || show != 0 || !guest_snapshots.empty();
    }
};

// Help, or a usage error: what to print where, and the exit status (0 or 2).
struct OptionsExit {
    int status = 0;
    std::string out;
    std::string err;
};

std::variant<ScreenOptions, OptionsExit> parse_options(std::span<const std::string> words);

// "A.B.C.D:PORT" with a loopback address (127.0.0.0/8): the screen serves this
// machine only. Port 0 asks the system for a free one.
std::optional<ListenAddress> parse_listen_address(std::string_view text);

}  // namespace insim_screen
