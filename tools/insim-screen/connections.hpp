#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "screen.hpp"

namespace insim_screen {

inline constexpr std::uint8_t HOST_UCID = 0;
inline constexpr std::uint8_t EVERY_UCID = 255;

// One connection of the host (UCID 0 is the host's own) and the client's
// buttons on its screen.
struct Connection {
    std::uint8_t ucid = HOST_UCID;
    std::string name;
    ButtonScreen screen;
    // Between the user's clear and the user's request for the buttons.
    bool cleared = false;
    std::uint64_t buttons = 0;                // button packets that reached this screen
    std::uint64_t buttons_while_cleared = 0;  // of them, those that came while it was cleared
    std::uint32_t clears = 0;
    std::uint32_t requests = 0;
    std::optional<std::chrono::steady_clock::duration> left_at;  // since the connection to the client opened
};

// The screens of a host's connections, and where a packet's UCID takes a
// button: 255 to every screen, k to connection k only, nowhere for a UCID not
// connected; buttons of a local client (ISF_LOCAL) to the host's screen only,
// whatever their UCID.
class Connections {
public:
    Connections();

    void set_local(bool local) noexcept { local_ = local; }
    [[nodiscard]] bool local() const noexcept { return local_; }

    // Each returns how many screens the packet reached.
    std::size_t show(std::uint8_t ucid, std::uint8_t click_id, const Button& button);
    std::size_t erase(std::uint8_t ucid, std::uint8_t first, std::uint8_t last);  // ClickIDs first to last
    std::size_t erase_all(std::uint8_t ucid);

    // False when the UCID is there already, or is the host's or 255.
    bool join(std::uint8_t ucid, std::string name);
    // False when no guest has the UCID. Its screen stays as it was, among the departed.
    bool leave(std::uint8_t ucid, std::chrono::steady_clock::duration at);
    // The user cleared the screen, or asked for the buttons again; false for an unknown UCID.
    bool user_clear(std::uint8_t ucid);
    bool user_request(std::uint8_t ucid);

    // The host first, then the guests by UCID.
    [[nodiscard]] std::span<const Connection> present() const noexcept { return present_; }
    [[nodiscard]] std::span<const Connection> departed() const noexcept { return departed_; }
    [[nodiscard]] const Connection& host() const noexcept { return present_.front(); }
    [[nodiscard]] const Connection* find(std::uint8_t ucid) const noexcept;
    // The connection with that UCID now, or else the last one that left with it.
    [[nodiscard]] const Connection* last_seen(std::uint8_t ucid) const noexcept;

private:
    Connection* find(std::uint8_t ucid) noexcept;
    template <typename Change>
    std::size_t for_addressed(std::uint8_t ucid, Change change);

    std::vector<Connection> present_;
    std::vector<Connection> departed_;
    bool local_ = false;
};

// A line per connection, present ones first, then those that left: button
// packets that reached its screen and how many of them while it was cleared,
// its clears and requests, and whether a guest's picture is the host's.
// `unaddressed` counts button packets for UCIDs not connected.
std::string format_connections(const Connections& connections, std::uint64_t unaddressed);

}  // namespace insim_screen
