#include "session.hpp"

#include <algorithm>
#include <utility>
#include <variant>

#include "host_packets.hpp"

namespace insim_screen {

bool ended_normally(SessionEnd end) noexcept
{
    return end == SessionEnd::disconnected || end == SessionEnd::closed_by_client;
}

std::string_view describe(SessionEnd end) noexcept
{
    switch (end) {
        case SessionEnd::open: return "open";
        case SessionEnd::disconnected: return "client disconnected";
        case SessionEnd::closed_by_client: return "client closed with TINY_CLOSE";
        case SessionEnd::wrong_password: return "wrong admin password";
        case SessionEnd::refused_init: return "init packet refused";
        case SessionEnd::framing_lost: return "packet framing lost";
        case SessionEnd::idle: return "client silent for too long";
        case SessionEnd::stopped: return "stopped";
    }
    return "?";
}

Session::Session(SessionConfig config, SessionObserver& observer) : config_(std::move(config)), observer_(observer) {}

bool Session::feed(std::span<const std::uint8_t> bytes, SessionTime at)
{
    if (!is_open()) return false;
    statistics_.bytes += bytes.size();
    const auto framed = framer_.feed(bytes, [&](std::span<const std::uint8_t> packet) {
        // Packets after a refusal in the same read are not taken.
        if (is_open()) take(packet, at);
    });
    // The framer keeps no more than the unfinished packet's bytes; its head
    // is at their start when it began in these bytes, else it came earlier.
    const std::size_t pending = framer_.pending();
    if (pending > 0 && pending <= bytes.size()) {
        pending_head_ = {bytes[bytes.size() - pending], pending > 1 ? bytes[bytes.size() - pending + 1] : std::uint8_t{0}};
    } else if (pending > 1 && pending - bytes.size() == 1) {
        pending_head_[1] = bytes[0];
    }
    if (!framed && is_open()) {
        warn("packet with size 0: the stream's framing is lost, closing the connection");
        end_ = SessionEnd::framing_lost;
    }
    return is_open();
}

void Session::end_of_stream()
{
    if (!is_open()) return;
    if (const std::size_t pending = framer_.pending(); !framer_.finish()) {
        const std::string type = pending > 1 ? packet_type_name(pending_head_[1]) : "a packet";
        warn("connection closed inside " + type + ": " + std::to_string(pending) + " of " +
             std::to_string(pending_head_[0] * insim::SIZE_UNIT) + " bytes");
    }
    end_ = SessionEnd::disconnected;
}

void Session::close(SessionEnd why, const std::string& warning)
{
    if (!is_open()) return;
    if (!warning.empty()) warn(warning);
    end_ = why;
}

void Session::take(std::span<const std::uint8_t> packet, SessionTime at)
{
    statistics_.count_packet(packet[1], packet.size());
    DecodedPacket decoded = decode_packet(packet);
    observer_.packet(at, decoded);

    if (!init_) {
        if (const auto* init = std::get_if<InitPacket>(&decoded)) {
            take_init(*init);
        } else {
            const auto* bad = std::get_if<MalformedPacket>(&decoded);
            warn(bad && packet[1] == insim::ISP_ISI ? bad->problem + ": closing the connection"
                                                    : "first packet is " + packet_type_name(packet[1]) +
                                                          ", not IS_ISI: closing the connection");
            end_ = SessionEnd::refused_init;
        }
        return;
    }

    if (auto* button = std::get_if<ButtonPacket>(&decoded)) {
        take_button(*button, at);
    } else if (const auto* message = std::get_if<MessagePacket>(&decoded)) {
        observer_.message(message->Msg);
    } else if (const auto* local = std::get_if<LocalMessagePacket>(&decoded)) {
        observer_.local_message(local->Msg);
    } else if (const auto* tiny = std::get_if<TinyPacket>(&decoded)) {
        take_tiny(*tiny);
    } else if (const auto* function = std::get_if<ButtonFunctionPacket>(&decoded)) {
        take_button_function(*function);
    } else if (std::holds_alternative<InitPacket>(decoded)) {
        warn("IS_ISI on an open connection ignored");
    } else {
        warn(std::get<MalformedPacket>(decoded).problem + " ignored");
    }
}

void Session::take_init(const InitPacket& init)
{
    if (init.InSimVer != insim::INSIM_VERSION) {
        warn("InSim version " + std::to_string(init.InSimVer) + " is not served (only " +
             std::to_string(insim::INSIM_VERSION) + "): closing the connection");
        end_ = SessionEnd::refused_init;
        return;
    }
    if (config_.admin && init.Admin != *config_.admin) {
        warn("wrong admin password from \"" + init.IName + "\": closing the connection");
        end_ = SessionEnd::wrong_password;
        return;
    }
    init_ = init;
    connections_.set_local((init.Flags & insim::ISF_LOCAL) != 0);
    if (init.ReqI != 0) send(make_version_packet(init.ReqI));
    observer_.accepted(init);
}

void Session::take_button(ButtonPacket& button, SessionTime at)
{
    if (button.ClickID >= MAX_BUTTONS) {
        warn("IS_BTN with ClickID " + std::to_string(button.ClickID) + " (over 239) ignored");
        return;
    }
    // A player sends a frame's changed rows in one block, in the same order
    // each time, whatever its ClickIDs: a pause, a ClickID again, or one that
    // came earlier in that order than the last starts the next frame.
    auto& order = click_order_[button.ClickID];
    if (order == 0) order = ++orders_given_;
    if (!last_button_at_ || in_frame_.test(button.ClickID) || order < last_order_ ||
        at - *last_button_at_ > config_.frame_gap) {
        ++statistics_.frames;
        in_frame_.reset();
    }
    in_frame_.set(button.ClickID);
    last_order_ = order;
    last_button_at_ = at;

    const Button shown{button.L, button.T, button.W, button.H, button.BStyle, std::move(button.Text)};
    if (connections_.show(button.UCID, button.ClickID, shown) == 0) {
        unaddressed("IS_BTN", button.UCID);
        return;
    }
    observer_.screen_changed();
}

void Session::take_button_function(const ButtonFunctionPacket& function)
{
    std::size_t reached = 0;
    if (function.SubT == BFN_DEL_BTN) {
        reached = connections_.erase(function.UCID, function.ClickID, std::max(function.ClickID, function.ClickMax));
    } else if (function.SubT == BFN_CLEAR) {
        reached = connections_.erase_all(function.UCID);
    } else {
        warn("IS_BFN with SubT " + std::to_string(function.SubT) + " ignored");
        return;
    }
    if (reached == 0) {
        unaddressed("IS_BFN", function.UCID);
        return;
    }
    observer_.screen_changed();
}

void Session::unaddressed(std::string_view type, std::uint8_t ucid)
{
    ++statistics_.unaddressed;
    if (warned_ucids_.test(ucid)) return;
    warned_ucids_.set(ucid);
    warn(std::string(type) + " for UCID " + std::to_string(ucid) +
         ", which is not connected, ignored (and any more for it)");
}

void Session::apply(const Event& event, SessionTime at)
{
    if (!is_open() || !init_) return;
    observer_.event(at, event);
    const auto total = [this] { return static_cast<std::uint8_t>(connections_.present().size()); };
    const std::string refused = describe(event) + " ignored: ";
    // A local client's clear and request are the host's own screen's.
    const std::uint8_t screen = connections_.local() ? HOST_UCID : event.ucid;
    switch (event.kind) {
        case EventKind::join:
            if (!connections_.join(event.ucid, event.text)) return warn(refused + "the UCID is connected already");
            send(make_new_connection_packet({0, event.ucid, event.text, total()}));
            break;
        case EventKind::leave:
            if (!connections_.leave(event.ucid, at)) return warn(refused + "no guest has the UCID");
            send(make_connection_left_packet(event.ucid, total()));
            break;
        case EventKind::clear:
            if (!connections_.user_clear(screen)) return warn(refused + "no connection has the UCID");
            send(make_button_function_packet(BFN_USER_CLEAR, screen));
            break;
        case EventKind::request:
            if (!connections_.user_request(screen)) return warn(refused + "no connection has the UCID");
            send(make_button_function_packet(BFN_REQUEST, screen));
            break;
        case EventKind::o:
            send(make_o_packet(event.text));
            break;
    }
    // A connection that left may take UCID-addressed buttons again once it is back.
    if (event.kind == EventKind::join) warned_ucids_.reset(event.ucid);
    observer_.screen_changed();
}

void Session::send(std::span<const std::uint8_t> packet)
{
    outbox_.insert(outbox_.end(), packet.begin(), packet.end());
}

void Session::take_tiny(const TinyPacket& tiny)
{
    if (tiny.SubT == insim::TINY_NONE) return;  // keep-alive
    if (tiny.SubT == TINY_CLOSE) {
        end_ = SessionEnd::closed_by_client;
        return;
    }
    if (tiny.SubT == TINY_NCN) {
        const auto total = static_cast<std::uint8_t>(connections_.present().size());
        for (const auto& connection : connections_.present()) {
            send(make_new_connection_packet({tiny.ReqI, connection.ucid, connection.name, total}));
        }
        return;
    }
    warn("IS_TINY with SubT " + std::to_string(tiny.SubT) + " ignored");
}

void Session::warn(const std::string& text)
{
    ++statistics_.warnings;
    observer_.warning(text);
}

}  // namespace insim_screen
