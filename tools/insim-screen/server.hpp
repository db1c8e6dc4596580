#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "events.hpp"
#include "failure.hpp"
#include "session.hpp"

namespace insim_screen {

struct ServerConfig {
    asio::ip::tcp::endpoint endpoint{asio::ip::address_v4::loopback(), 11000};  // port 0 takes a free one
    SessionConfig session;
    bool keep = false;  // serve the next client after one has gone
    // LFS closes a connection silent for 70 s and sends a keep-alive every 30 s.
    std::chrono::milliseconds idle_timeout{70'000};
    std::chrono::milliseconds keepalive_interval{30'000};
    std::chrono::milliseconds redraw_interval{33};
    // Played to each client, timed from its init packet.
    std::vector<TimedEvent> script;
};

// The clients on the screen together, in the order they connected: those
// served at the same time; one that has gone stays until all of them have.
using Clients = std::span<const Session* const>;

// What the console, the transcript and the snapshot see of the server.
class ServerEvents : public SessionObserver {
public:
    virtual void connected(const Session&, const asio::ip::tcp::endpoint& /*peer*/) {}
    virtual void logged_in(const Session&, const InitPacket&) {}
    // At most once per redraw interval and client while buttons change, and once as each client ends.
    virtual void redraw(Clients) {}
    virtual void disconnected(const Session&, SessionTime /*lasted*/, Clients) {}
};

// An InSim host on one address: like LFS it serves several clients at once,
// each run as a Session until it ends, with buttons of its own. Everything
// runs on the given context's thread.
class Server {
public:
    Server(asio::io_context& context, ServerConfig config, ServerEvents& events);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; the port is known afterwards.
    Status listen();
    [[nodiscard]] std::uint16_t port() const;

    // Serves until the clients have gone, those that came while one was
    // there included (with `keep`, until stop()); returns how the last
    // session ended, SessionEnd::stopped if there was none.
    asio::awaitable<SessionEnd> serve();

    // Stops listening and closes the clients' connections.
    void stop();

    // An event for every client logged in now; with none, a warning.
    void act(const Event& event);

private:
    struct Link;
    asio::awaitable<void> run_client(Link& link);
    asio::awaitable<void> read_loop(Link& link);
    asio::awaitable<void> write_loop(Link& link);
    asio::awaitable<void> keepalive_loop(Link& link);
    asio::awaitable<void> idle_watch(Link& link);
    asio::awaitable<void> paint_loop(Link& link);
    asio::awaitable<void> script_loop(Link& link);
    static void apply(Link& link, const Event& event);

    asio::io_context& context_;
    ServerConfig config_;
    ServerEvents& events_;
    asio::ip::tcp::acceptor acceptor_;
    std::vector<std::unique_ptr<Link>> links_;  // the clients on the screen together
    std::vector<const Session*> clients_;      // and their sessions
    std::size_t served_ = 0;                   // of them, those still served
    asio::steady_timer all_gone_;              // cancelled when served_ drops to 0
    SessionEnd last_end_ = SessionEnd::stopped;
    bool stopped_ = false;
};

}  // namespace insim_screen
