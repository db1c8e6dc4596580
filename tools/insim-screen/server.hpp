#pragma once

#include <chrono>
#include <cstdint>

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

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

// What the console, the transcript and the snapshot see of the server.
class ServerEvents : public SessionObserver {
public:
    virtual void connected(const asio::ip::tcp::endpoint& /*peer*/) {}
    // At most once per redraw interval while buttons change, and once at the end.
    virtual void redraw(const Session&) {}
    virtual void disconnected(const Session&, SessionTime /*lasted*/) {}
};

// An InSim host on one address: one client at a time, each run as a Session
// until it ends. Everything runs on the given context's thread.
class Server {
public:
    Server(asio::io_context& context, ServerConfig config, ServerEvents& events);

    // Binds and listens; the port is known afterwards.
    Status listen();
    [[nodiscard]] std::uint16_t port() const;

    // Serves until a client has gone (with `keep`, until stop()); returns how
    // the last session ended, SessionEnd::stopped if there was none.
    asio::awaitable<SessionEnd> serve();

    // Stops listening and closes the current client's connection.
    void stop();

    // An event for the client logged in now; with none, a warning.
    void act(const Event& event);

private:
    struct Link;
    asio::awaitable<SessionEnd> run_client(asio::ip::tcp::socket socket);
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
    asio::ip::tcp::socket* client_ = nullptr;  // the socket being served, for stop()
    Link* link_ = nullptr;                      // and its session, for act()
    bool stopped_ = false;
};

}  // namespace insim_screen
