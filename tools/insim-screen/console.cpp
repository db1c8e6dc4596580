#include "console.hpp"

#include <cinttypes>

#include "png_image.hpp"
#include "terminal.hpp"

namespace insim_screen {

namespace {

constexpr std::size_t FOOTER_LINES = 6;

void put(std::FILE* file, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
}

}  // namespace

Console::Console(ConsoleConfig config, std::FILE* out, std::FILE* err)
    : config_(std::move(config)), out_(out), err_(err)
{
}

void Console::connected(const asio::ip::tcp::endpoint& peer)
{
    client_ = peer.address().to_string() + ":" + std::to_string(peer.port());
    footer_.clear();
    if (config_.terminal) {
        put(out_, ANSI_BEGIN);
    } else {
        put(out_, "client " + client_ + " connected\n");
    }
}

void Console::accepted(const InitPacket& init)
{
    client_ = quote_text(init.IName) + " from " + client_;
    if (!config_.terminal) {
        put(out_, "client " + quote_text(init.IName) + " logged in (InSim " + std::to_string(init.InSimVer) +
                      ", Flags " + std::to_string(init.Flags) + ")\n");
    }
}

void Console::packet(SessionTime at, const DecodedPacket& packet)
{
    if (config_.transcript == nullptr) return;
    config_.transcript->write_line(
        transcript_line(at, packet, config_.guests ? ButtonUcid::shown : ButtonUcid::left_out));
}

void Console::event(SessionTime at, const Event& event)
{
    if (config_.transcript != nullptr) config_.transcript->write_line(transcript_line(at, event));
    say("event: " + printable(describe(event)));
}

// A connection not there (yet, or any more) shows as its last screen, or empty.
void Console::draw(const Session& session, std::uint8_t ucid)
{
    if (const auto* connection = session.connections().last_seen(ucid)) {
        connection->screen.draw(picture_);
    } else {
        picture_.clear();
    }
}

void Console::snapshot(const std::string& path)
{
    if (auto written = write_png(path, picture_image(picture_)); !written) {
        fail(written.failure());
    } else {
        put(out_, "snapshot written to " + path + "\n");
    }
}

void Console::message(std::string_view text) { say("message: " + printable(text)); }

void Console::local_message(std::string_view text) { say("local message: " + printable(text)); }

void Console::warning(std::string_view text)
{
    const std::string line = "warning: " + printable(text);
    if (config_.terminal) {
        remember(line);
        held_.push_back(line);
    } else {
        put(err_, "insim-screen: " + line + "\n");
    }
}

void Console::redraw(const Session& session)
{
    if (!config_.terminal) return;
    draw(session, config_.shown);
    const auto* shown = session.connections().last_seen(config_.shown);
    // The shown connection first: the header is cut at the picture's width.
    char screen[48] = "";
    if (config_.guests) {
        std::snprintf(screen, sizeof screen, "  UCID %u%s", unsigned{config_.shown},
                      shown == nullptr ? " (not connected)" : (shown->left_at ? " (left)" : ""));
    }
    char header[200];
    std::snprintf(header, sizeof header, "insim-screen %s%s  client %s  frames %" PRIu64 "  buttons %zu",
                  config_.listen.c_str(), screen, client_.c_str(), session.statistics().frames,
                  shown != nullptr ? shown->screen.size() : std::size_t{0});
    footer_lines_.assign(footer_.begin(), footer_.end());
    ansi_screen(picture_, header, footer_lines_, frame_);
    put(out_, frame_);
}

void Console::disconnected(const Session& session, SessionTime lasted)
{
    draw(session, config_.shown);
    if (config_.terminal) {
        put(out_, ANSI_END);
        for (const auto& line : held_) put(err_, "insim-screen: " + line + "\n");
        held_.clear();
    } else {
        put(out_, plain_picture(picture_));
    }
    if (config_.snapshot) {
        draw(session, HOST_UCID);
        snapshot(*config_.snapshot);
    }
    for (const auto& guest : config_.guest_snapshots) {
        if (session.connections().last_seen(guest.ucid) == nullptr) {
            fail({"no connection had UCID " + std::to_string(guest.ucid) + ": " + guest.path + " not written"});
            continue;
        }
        draw(session, guest.ucid);
        snapshot(guest.path);
    }
    if (config_.transcript != nullptr) {
        if (auto flushed = config_.transcript->finish(); !flushed) fail(flushed.failure());
    }
    put(out_, "client " + client_ + ": " + std::string(describe(session.end())) + "\n");
    put(out_, format_summary(session.statistics(), lasted));
    if (config_.guests) put(out_, format_connections(session.connections(), session.statistics().unaddressed));
}

// Under the picture on a terminal, else a line of its own.
void Console::say(std::string line)
{
    if (config_.terminal) {
        remember(std::move(line));
    } else {
        put(out_, line + "\n");
    }
}

void Console::remember(std::string line)
{
    footer_.push_back(std::move(line));
    if (footer_.size() > FOOTER_LINES) footer_.pop_front();
}

void Console::fail(const Failure& failure)
{
    put(err_, "insim-screen: " + failure.text + "\n");
    if (!failure_) failure_ = failure;
}

}  // namespace insim_screen
