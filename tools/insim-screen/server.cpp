#include "server.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "host_packets.hpp"

namespace insim_screen {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto use_tuple = asio::experimental::as_tuple(asio::use_awaitable);
constexpr std::size_t READ_BUFFER_SIZE = 64 * 1024;
constexpr std::chrono::milliseconds ACCEPT_BACKOFF{100};

// Wakes one coroutine of the same thread: a timer that never expires and is
// cancelled to wake the waiter. A notify before the wait is not lost.
class Signal {
public:
    explicit Signal(const asio::any_io_executor& executor) : timer_(executor) {}

    void notify()
    {
        raised_ = true;
        timer_.cancel();
    }

    // Returns on a notify, or when the wait is cancelled from outside.
    asio::awaitable<void> wait()
    {
        if (!raised_) {
            timer_.expires_at(Clock::time_point::max());
            co_await timer_.async_wait(use_tuple);
        }
        raised_ = false;
    }

private:
    asio::steady_timer timer_;
    bool raised_ = false;
};

std::string endpoint_text(const asio::ip::tcp::endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

// One client's connection while it is served. Every loop ends once `done` is
// set, which the reader and the idle watch do when they finish.
struct Server::Link : SessionObserver {
    Link(asio::ip::tcp::socket client, ServerEvents& server_events, const SessionConfig& config)
        : socket(std::move(client)), events(server_events), outgoing(socket.get_executor()),
          dirty(socket.get_executor()), login(socket.get_executor()), session(config, *this)
    {
    }

    void accepted(const InitPacket& init) override
    {
        logged_in = Clock::now();
        login.notify();
        events.logged_in(session, init);
    }
    void event(SessionTime at, const Event& event) override { events.event(at, event); }
    void packet(SessionTime at, const DecodedPacket& decoded) override { events.packet(at, decoded); }
    // Messages and warnings show under the picture, so they redraw it too.
    void message(std::string_view text) override
    {
        events.message(text);
        dirty.notify();
    }
    void local_message(std::string_view text) override
    {
        events.local_message(text);
        dirty.notify();
    }
    void warning(std::string_view text) override
    {
        events.warning(text);
        dirty.notify();
    }
    void screen_changed() override { dirty.notify(); }

    asio::ip::tcp::socket socket;
    ServerEvents& events;
    Signal outgoing;
    Signal dirty;
    Signal login;
    Session session;
    std::optional<Clock::time_point> logged_in;
    Clock::time_point opened = Clock::now();
    Clock::time_point last_read = opened;
    bool done = false;
    bool write_failed = false;
};

Server::Server(asio::io_context& context, ServerConfig config, ServerEvents& events)
    : context_(context), config_(std::move(config)), events_(events), acceptor_(context), all_gone_(context)
{
}

Server::~Server() = default;

Status Server::listen()
{
    std::error_code ec;
    acceptor_.open(config_.endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(config_.endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return Failure{"cannot listen on " + endpoint_text(config_.endpoint) + ": " + ec.message()};
    return {};
}

std::uint16_t Server::port() const
{
    std::error_code ec;
    const auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? std::uint16_t{0} : endpoint.port();
}

void Server::stop()
{
    stopped_ = true;
    std::error_code ignored;
    acceptor_.close(ignored);
    for (const auto& link : links_) link->socket.close(ignored);
}

asio::awaitable<SessionEnd> Server::serve()
{
    asio::steady_timer backoff(context_);
    while (!stopped_) {
        auto [ec, socket] = co_await acceptor_.async_accept(use_tuple);
        if (stopped_ || !acceptor_.is_open()) break;
        if (ec) {
            // Out of descriptors, for example: try again, but not in a tight loop.
            events_.warning("accepting a client failed: " + ec.message());
            backoff.expires_after(ACCEPT_BACKOFF);
            co_await backoff.async_wait(use_tuple);
            continue;
        }
        // Clients that came one after another do not share the screen.
        if (served_ == 0) {
            clients_.clear();
            links_.clear();
        }
        auto& link = *links_.emplace_back(std::make_unique<Link>(std::move(socket), events_, config_.session));
        clients_.push_back(&link.session);
        ++served_;
        asio::co_spawn(context_, run_client(link), [this](std::exception_ptr failure) {
            if (--served_ == 0) {
                std::error_code ignored;
                if (!config_.keep) acceptor_.close(ignored);
                all_gone_.cancel();
            }
            if (failure) std::rethrow_exception(failure);
        });
    }
    while (served_ > 0) {
        all_gone_.expires_at(Clock::time_point::max());
        co_await all_gone_.async_wait(use_tuple);
    }
    co_return last_end_;
}

asio::awaitable<void> Server::run_client(Link& link)
{
    using namespace asio::experimental::awaitable_operators;
    std::error_code ignored;
    const auto peer = link.socket.remote_endpoint(ignored);
    events_.connected(link.session, peer);

    co_await (read_loop(link) || idle_watch(link) || write_loop(link) || keepalive_loop(link) || paint_loop(link) ||
              script_loop(link));

    link.socket.close(ignored);
    last_end_ = link.session.end();
    events_.redraw(clients_);
    events_.disconnected(link.session, Clock::now() - link.opened, clients_);
}

asio::awaitable<void> Server::read_loop(Link& link)
{
    std::vector<std::uint8_t> buffer(READ_BUFFER_SIZE);
    while (!link.done) {
        auto [ec, n] = co_await link.socket.async_read_some(asio::buffer(buffer), use_tuple);
        if (n > 0) {
            const auto now = Clock::now();
            link.last_read = now;
            const bool open = link.session.feed(std::span<const std::uint8_t>(buffer.data(), n), now - link.opened);
            if (!link.session.outbox().empty()) link.outgoing.notify();
            if (!open) break;
        }
        if (ec) {
            // A write-only client that leaves our replies unread ends with a reset.
            if (ec == asio::error::eof || ec == asio::error::connection_reset) {
                link.session.end_of_stream();
            } else if (stopped_) {
                link.session.close(SessionEnd::stopped);
            } else {
                link.session.close(SessionEnd::disconnected, "reading from the client failed: " + ec.message());
            }
            break;
        }
    }
    link.done = true;
}

asio::awaitable<void> Server::idle_watch(Link& link)
{
    asio::steady_timer timer(link.socket.get_executor());
    while (!link.done) {
        timer.expires_at(link.last_read + config_.idle_timeout);
        co_await timer.async_wait(use_tuple);
        if (link.done) co_return;
        if (Clock::now() - link.last_read >= config_.idle_timeout) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(config_.idle_timeout).count();
            link.session.close(SessionEnd::idle,
                               "no packet for " + std::to_string(seconds) + " s: closing the connection");
            break;
        }
    }
    link.done = true;
}

asio::awaitable<void> Server::write_loop(Link& link)
{
    std::vector<std::uint8_t> sending;
    while (!link.done) {
        auto& outbox = link.session.outbox();
        if (outbox.empty()) {
            co_await link.outgoing.wait();
            continue;
        }
        if (link.write_failed) {
            // The client no longer takes data; what it sends is still read.
            outbox.clear();
            continue;
        }
        sending.swap(outbox);
        auto [ec, n] = co_await asio::async_write(link.socket, asio::buffer(sending), use_tuple);
        sending.clear();
        if (ec) link.write_failed = true;
    }
}

asio::awaitable<void> Server::keepalive_loop(Link& link)
{
    const bool never = config_.keepalive_interval <= std::chrono::milliseconds::zero();
    asio::steady_timer timer(link.socket.get_executor());
    while (!link.done) {
        // Without keep-alives it still waits: its end would end the other loops.
        if (never) timer.expires_at(Clock::time_point::max());
        else timer.expires_after(config_.keepalive_interval);
        const auto [ec] = co_await timer.async_wait(use_tuple);
        if (ec || link.done) co_return;
        if (!link.session.init()) continue;
        const auto keepalive = make_keepalive_packet();
        auto& outbox = link.session.outbox();
        outbox.insert(outbox.end(), keepalive.begin(), keepalive.end());
        link.outgoing.notify();
    }
}

asio::awaitable<void> Server::paint_loop(Link& link)
{
    asio::steady_timer pause(link.socket.get_executor());
    while (!link.done) {
        co_await link.dirty.wait();
        if (link.done) co_return;
        events_.redraw(clients_);
        pause.expires_after(config_.redraw_interval);
        co_await pause.async_wait(use_tuple);
    }
}

asio::awaitable<void> Server::script_loop(Link& link)
{
    asio::steady_timer timer(link.socket.get_executor());
    while (!link.done && !link.logged_in) co_await link.login.wait();
    for (const auto& timed : config_.script) {
        if (link.done) co_return;
        timer.expires_at(*link.logged_in + timed.at);
        const auto [ec] = co_await timer.async_wait(use_tuple);
        if (ec || link.done) co_return;
        apply(link, timed.event);
    }
    // Its end would end the other loops.
    timer.expires_at(Clock::time_point::max());
    co_await timer.async_wait(use_tuple);
}

void Server::act(const Event& event)
{
    bool heard = false;
    for (const auto& link : links_) {
        if (link->done || !link->logged_in || !link->session.is_open()) continue;
        apply(*link, event);
        heard = true;
    }
    if (!heard) events_.warning("no client logged in: " + describe(event) + " ignored");
}

void Server::apply(Link& link, const Event& event)
{
    link.session.apply(event, Clock::now() - link.opened);
    if (!link.session.outbox().empty()) link.outgoing.notify();
}

}  // namespace insim_screen
