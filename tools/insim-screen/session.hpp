#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "insim/incoming.hpp"
#include "insim/packets.hpp"
#include "connections.hpp"
#include "events.hpp"
#include "packet_decoder.hpp"
#include "screen.hpp"
#include "statistics.hpp"

namespace insim_screen {

using SessionTime = std::chrono::steady_clock::duration;  // since the connection opened

struct SessionConfig {
    // The Admin field the IS_ISI must carry; any is taken when absent.
    std::optional<std::array<std::uint8_t, insim::ADMIN_SIZE>> admin;
    // Buttons that arrive further apart than this belong to different frames.
    std::chrono::milliseconds frame_gap{5};
};

enum class SessionEnd { open, disconnected, closed_by_client, wrong_password, refused_init, framing_lost, idle, stopped };

// A normal end: the client went away or asked to close.
bool ended_normally(SessionEnd end) noexcept;
std::string_view describe(SessionEnd end) noexcept;

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void accepted(const InitPacket&) {}
    virtual void packet(SessionTime, const DecodedPacket&) {}
    virtual void message(std::string_view) {}
    virtual void local_message(std::string_view) {}  // IS_MSL
    virtual void warning(std::string_view) {}
    virtual void screen_changed() {}
    virtual void event(SessionTime, const Event&) {}
};

// One client's connection as LFS sees it, over bytes only: checks the IS_ISI,
// keeps the buttons, passes messages on, counts everything, and says when the
// connection is to be closed. Sockets and clocks stay with the caller.
class Session {
public:
    Session(SessionConfig config, SessionObserver& observer);

    // The next bytes of the stream; false once the connection is to be closed.
    bool feed(std::span<const std::uint8_t> bytes, SessionTime at);
    // The client closed its end.
    void end_of_stream();
    // The host closes it, for the given reason and with a warning when one is
    // given; a closed session stays as it is.
    void close(SessionEnd why, const std::string& warning = {});
    // A connection of the host joins or leaves, its user clears the buttons
    // or asks for them, or the host's user types `/o TEXT`: the screens change
    // (o changes none), and the client hears of it as from LFS. Taken only
    // while the session is open and logged in.
    void apply(const Event& event, SessionTime at);

    [[nodiscard]] bool is_open() const noexcept { return end_ == SessionEnd::open; }
    [[nodiscard]] SessionEnd end() const noexcept { return end_; }
    [[nodiscard]] const std::optional<InitPacket>& init() const noexcept { return init_; }
    // The host's own screen.
    [[nodiscard]] const ButtonScreen& screen() const noexcept { return connections_.host().screen; }
    [[nodiscard]] const Connections& connections() const noexcept { return connections_; }
    [[nodiscard]] const Statistics& statistics() const noexcept { return statistics_; }
    // Bytes to send to the client; the caller takes them out.
    [[nodiscard]] std::vector<std::uint8_t>& outbox() noexcept { return outbox_; }

private:
    void take(std::span<const std::uint8_t> packet, SessionTime at);
    void take_init(const InitPacket& init);
    void take_button(ButtonPacket& button, SessionTime at);
    void take_tiny(const TinyPacket& tiny);
    void take_button_function(const ButtonFunctionPacket& function);
    void unaddressed(std::string_view type, std::uint8_t ucid);
    void send(std::span<const std::uint8_t> packet);
    void warn(const std::string& text);

    SessionConfig config_;
    SessionObserver& observer_;
    SessionEnd end_ = SessionEnd::open;
    std::optional<InitPacket> init_;
    insim::PacketFramer framer_;
    // Size and Type of the unfinished packet, for the warning when the stream ends inside it.
    std::array<std::uint8_t, 2> pending_head_{};
    std::vector<std::uint8_t> outbox_;
    Connections connections_;
    std::bitset<256> warned_ucids_;  // a UCID not connected is warned about once
    Statistics statistics_;
    // For telling frames apart: the ClickIDs in the order the client first
    // sent them (0 for one not sent yet), those of the frame so far, and the
    // last one's place in that order.
    std::array<std::uint8_t, MAX_BUTTONS> click_order_{};
    std::uint8_t orders_given_ = 0;
    std::bitset<MAX_BUTTONS> in_frame_;
    std::uint8_t last_order_ = 0;
    std::optional<SessionTime> last_button_at_;
};

}  // namespace insim_screen
