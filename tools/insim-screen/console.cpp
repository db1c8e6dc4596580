#include "console.hpp"

#include <algorithm>
#include <cctype>
#include <cinttypes>

#include "lfs_text.hpp"
#include "png_image.hpp"
#include "text_image.hpp"
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

void Console::connected(const Session& session, const asio::ip::tcp::endpoint& peer)
{
    if (served_ == 0) names_.clear();  // a new group of clients
    auto& name = names_[&session];
    name = peer.address().to_string() + ":" + std::to_string(peer.port());
    if (config_.terminal) {
        if (served_ == 0) {
            footer_.clear();
            put(out_, ANSI_BEGIN);
        }
    } else {
        put(out_, "client " + name + " connected\n");
    }
    ++served_;
}

void Console::logged_in(const Session& session, const InitPacket& init)
{
    auto& name = names_[&session];
    name = quote_text(init.IName) + " from " + name;
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

// The connection's screen of every client, one over the other; one not there
// (yet, or any more) shows as its last screen, or not at all.
void Console::draw(Clients clients, std::uint8_t ucid)
{
    std::vector<const ButtonScreen*> screens;
    for (const Session* session : clients) {
        if (const auto* connection = session->connections().last_seen(ucid)) screens.push_back(&connection->screen);
    }
    draw_screens(screens, picture_);
    drawn_ = std::move(screens);
}

void Console::snapshot(const std::string& path, std::string& report)
{
    RgbImage image = picture_image(picture_);
    draw_words(image, drawn_);
    if (auto written = write_png(path, image); !written) {
        fail(written.failure());
    } else {
        report += "snapshot written to " + path + "\n";
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

void Console::redraw(Clients clients)
{
    if (!config_.terminal) return;
    draw(clients, config_.shown);
    std::string names;
    std::uint64_t frames = 0;
    std::size_t buttons = 0;
    const Connection* shown = nullptr;
    for (const Session* session : clients) {
        names += (names.empty() ? "" : ", ") + names_[session];
        frames += session->statistics().frames;
        if (const auto* connection = session->connections().last_seen(config_.shown)) {
            buttons += connection->screen.size();
            if (shown == nullptr || !connection->left_at) shown = connection;
        }
    }
    // The shown connection first: the header is cut at the picture's width.
    char screen[48] = "";
    if (config_.guests) {
        std::snprintf(screen, sizeof screen, "  UCID %u%s", unsigned{config_.shown},
                      shown == nullptr ? " (not connected)" : (shown->left_at ? " (left)" : ""));
    }
    char header[200];
    std::snprintf(header, sizeof header, "insim-screen %s%s  client %s  frames %" PRIu64 "  buttons %zu",
                  config_.listen.c_str(), screen, names.c_str(), frames, buttons);
    // Text buttons (subtitles) as they read, then the latest messages.
    footer_lines_.clear();
    if (shown != nullptr) {
        for (std::size_t id = 0; id < MAX_BUTTONS; ++id) {
            const Button* button = shown->screen.find(static_cast<std::uint8_t>(id));
            if (button == nullptr) continue;
            std::string text = lfs_to_utf8(button->text);
            if (holds_words(text)) footer_lines_.push_back("text " + std::to_string(id) + ": " + text);
        }
    }
    footer_lines_.insert(footer_lines_.end(), footer_.begin(), footer_.end());
    ansi_screen(picture_, header, footer_lines_, frame_);
    put(out_, frame_);
}

void Console::disconnected(const Session& session, SessionTime lasted, Clients clients)
{
    --served_;
    draw(clients, config_.shown);
    std::string report;
    if (!config_.terminal) report = plain_picture(picture_);
    if (config_.snapshot) {
        draw(clients, HOST_UCID);
        snapshot(*config_.snapshot, report);
    }
    for (const auto& guest : config_.guest_snapshots) {
        const bool seen = std::any_of(clients.begin(), clients.end(), [&](const Session* s) {
            return s->connections().last_seen(guest.ucid) != nullptr;
        });
        if (!seen) {
            fail({"no connection had UCID " + std::to_string(guest.ucid) + ": " + guest.path + " not written"});
            continue;
        }
        draw(clients, guest.ucid);
        snapshot(guest.path, report);
    }
    if (config_.transcript != nullptr) {
        if (auto flushed = config_.transcript->finish(); !flushed) fail(flushed.failure());
    }
    report += "client " + names_[&session] + ": " + std::string(describe(session.end())) + "\n";
    report += format_summary(session.statistics(), lasted);
    if (config_.guests) report += format_connections(session.connections(), session.statistics().unaddressed);
    if (!config_.terminal) {
        put(out_, report);
        return;
    }
    // The picture goes on while another client is served.
    reports_ += report;
    if (served_ > 0) return;
    put(out_, ANSI_END);
    for (const auto& line : held_) put(err_, "insim-screen: " + line + "\n");
    held_.clear();
    put(out_, reports_);
    reports_.clear();
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
