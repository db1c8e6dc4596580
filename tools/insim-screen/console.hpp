#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "options.hpp"
#include "server.hpp"
#include "transcript.hpp"

namespace insim_screen {

struct ConsoleConfig {
    bool terminal = false;  // standard output is a terminal: draw the picture in place
    std::string listen;     // shown in the header
    std::optional<std::string> snapshot;  // the host's screen
    Transcript* transcript = nullptr;
    // A host with guests: button UCIDs in the transcript, events on the
    // console, and a report on every connection at the end.
    bool guests = false;
    std::uint8_t shown = 0;  // the connection drawn on the terminal and in the plain picture
    std::vector<GuestSnapshot> guest_snapshots;
};

// The server's events on the console: the picture of every client on the
// screen in 24-bit colour redrawn in place on a terminal, plain lines
// otherwise; the transcript; the snapshot and the summary when a client leaves.
class Console : public ServerEvents {
public:
    Console(ConsoleConfig config, std::FILE* out, std::FILE* err);

    void connected(const Session& session, const asio::ip::tcp::endpoint& peer) override;
    void logged_in(const Session& session, const InitPacket& init) override;
    void packet(SessionTime at, const DecodedPacket& packet) override;
    void message(std::string_view text) override;
    void local_message(std::string_view text) override;
    void warning(std::string_view text) override;
    void redraw(Clients clients) override;
    void disconnected(const Session& session, SessionTime lasted, Clients clients) override;
    void event(SessionTime at, const Event& event) override;

    // The first snapshot or transcript failure, if any.
    [[nodiscard]] const std::optional<Failure>& failure() const noexcept { return failure_; }

private:
    void say(std::string line);
    void remember(std::string line);
    void draw(Clients clients, std::uint8_t ucid);
    void snapshot(const std::string& path, std::string& report);
    void fail(const Failure& failure);

    ConsoleConfig config_;
    std::FILE* out_;
    std::FILE* err_;
    std::map<const Session*, std::string> names_;  // "NAME" from ADDR:PORT
    std::size_t served_ = 0;
    std::string reports_;  // on a terminal, what clients that left said, until the last has gone
    std::deque<std::string> footer_;      // the latest messages and warnings under the picture
    std::vector<std::string> held_;       // warnings repeated on standard error after the picture
    std::vector<std::string> footer_lines_;
    Picture picture_;
    std::vector<const ButtonScreen*> drawn_;  // the screens the picture was last drawn from
    std::string frame_;
    std::optional<Failure> failure_;
};

}  // namespace insim_screen
