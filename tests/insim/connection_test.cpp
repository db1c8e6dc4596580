// The connection against a listener on the loopback interface. Every run is
// bounded by a time-out, so a fault shows as a failure, not a hang. Coroutine
// lambdas are named locals: a temporary closure would leave its coroutine with
// dangling captures.
#include "insim/connection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using Bytes = std::vector<std::uint8_t>;

constexpr auto time_limit = 20s;

void append(Bytes& out, std::span<const std::byte> image)
{
    for (const std::byte b : image) out.push_back(static_cast<std::uint8_t>(b));
}

// Index of the first differing byte, or the shorter length when one is a prefix.
std::size_t first_difference(const Bytes& a, const Bytes& b)
{
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (ia == a.end() && ib == b.end()) return SIZE_MAX;
    return static_cast<std::size_t>(ia - a.begin());
}

std::string why(const std::optional<insim::Status>& status)
{
    if (!status) return "no result";
    return *status ? "ok" : status->error().debug();
}

insim::IS_ISI init_packet()
{
    const std::uint16_t flags[] = {insim::ISF_LOCAL};
    return *insim::make_init_packet(flags, "secret", insim::display_name("Lumaflick"));
}

// Rows that differ in every packet, so that order and framing errors show.
std::vector<insim::IS_BTN> make_buttons(std::size_t count)
{
    std::vector<insim::IS_BTN> buttons(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto& button = buttons[i];
        button.ClickID = static_cast<std::uint8_t>(i + 1);
        button.T = static_cast<std::uint8_t>(6 * i);
        button.BStyle = insim::ISB_DARK;
        button.W = 240;
        button.H = 6;
        std::string text = "row " + std::to_string(i) + " ";
        text.resize(100 + i % 140, static_cast<char>('a' + i % 26));
        insim::set_button_text(button, text);
    }
    return buttons;
}

tcp::acceptor listen_on_loopback(asio::io_context& io, std::optional<int> receive_buffer = {})
{
    const tcp::endpoint any_port(asio::ip::make_address_v4("127.0.0.1"), 0);
    tcp::acceptor acceptor(io);
    acceptor.open(any_port.protocol());
    // Accepted sockets inherit it; it must be set before listen to shape the window.
    if (receive_buffer) acceptor.set_option(asio::socket_base::receive_buffer_size(*receive_buffer));
    acceptor.bind(any_port);
    acceptor.listen();
    return acceptor;
}

asio::awaitable<void> sleep(std::chrono::milliseconds duration)
{
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

class Loopback : public ::testing::Test {
protected:
    // Runs the client and the listener side until both end or the time-out passes.
    void run(asio::awaitable<void> client, asio::awaitable<void> peer)
    {
        int finished = 0;
        const auto on_end = [&finished](std::exception_ptr e) {
            if (e) std::rethrow_exception(e);
            ++finished;
        };
        asio::co_spawn(io, std::move(client), on_end);
        asio::co_spawn(io, std::move(peer), on_end);
        io.run_for(time_limit);
        ASSERT_EQ(finished, 2) << "timed out";
    }

    tcp::endpoint endpoint() const { return acceptor.local_endpoint(); }

    // Connects and sends `buttons` as one block, `before` after the connect; then
    // stays until `done` (bounded), as closing with unread data resets the stream.
    asio::awaitable<void> send_block(std::span<const insim::IS_BTN> buttons, std::optional<insim::Status>& sent,
                                     std::chrono::milliseconds before = 0ms, const bool* done = nullptr)
    {
        auto connection = co_await insim::InSimConnection::connect(endpoint(), init);
        if (!connection) {
            sent = connection.error();
            co_return;
        }
        if (before > 0ms) co_await sleep(before);
        sent = co_await connection->send_buttons(buttons);
        for (int i = 0; done && i < 400 && !*done; ++i) co_await sleep(10ms);
    }

    // Accepts one connection and reads it to the end, `chunk` bytes at most per read.
    asio::awaitable<void> accept_and_read(Bytes& out, std::size_t chunk = 65536, std::chrono::milliseconds before = 0ms)
    {
        tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
        if (before > 0ms) co_await sleep(before);
        std::vector<std::uint8_t> buffer(chunk);
        for (std::error_code ec; !ec;) {
            const std::size_t n =
                co_await socket.async_read_some(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
            out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }

    // The init packet, then the buttons as one block.
    Bytes image_of(std::span<const insim::IS_BTN> buttons) const
    {
        Bytes out;
        append(out, insim::image(init));
        append(out, insim::image(buttons));
        return out;
    }

    asio::io_context io;
    tcp::acceptor acceptor = listen_on_loopback(io);
    const insim::IS_ISI init = init_packet();
};

TEST_F(Loopback, ButtonBlocksArriveWholeAndInRowOrder)
{
    const insim::IS_MST message = *insim::make_message_packet("Read bytes: 70kB, Skipped 0 frames (0%)");
    const std::vector<insim::IS_BTN> buttons = make_buttons(30);
    // 0 is a frame without changes: it must put nothing on the wire.
    const std::size_t frames[] = {1, 0, 2, 30, 7};

    std::vector<insim::Status> results;
    Bytes received;
    const auto client = [&]() -> asio::awaitable<void> {
        auto connection = co_await insim::InSimConnection::connect(endpoint(), init);
        if (!connection) {
            results.emplace_back(connection.error());
            co_return;
        }
        for (const std::size_t k : frames) {
            results.push_back(co_await connection->send_buttons(std::span(buttons).first(k)));
        }
        results.push_back(co_await connection->send_bytes(insim::image(buttons[3])));
        results.push_back(co_await connection->send(insim::IS_TINY{}));
        results.push_back(co_await connection->send(message));
        // Give a stray write (of the connect's, say) the chance to arrive before the close.
        co_await sleep(50ms);
    };
    run(client(), accept_and_read(received));

    for (const auto& result : results) EXPECT_TRUE(result) << result.error().debug();
    Bytes expected = image_of({});
    for (const std::size_t k : frames) append(expected, insim::image(std::span(buttons).first(k)));
    append(expected, insim::image(buttons[3]));
    append(expected, insim::image(insim::IS_TINY{}));
    append(expected, insim::image(message));
    ASSERT_EQ(received.size(), 44U + 252U * (1 + 0 + 2 + 30 + 7 + 1) + 4U + 68U);
    EXPECT_EQ(first_difference(received, expected), SIZE_MAX);
}

TEST_F(Loopback, SlowReaderWithSmallWindowGetsEveryByteInOrder)
{
    // Far more than the kernel takes in one write (its send buffer tops out at
    // 4 MiB on Linux), so the block must go out in partial writes with waits.
    acceptor = listen_on_loopback(io, 4096);
    const std::vector<insim::IS_BTN> buttons = make_buttons(20000);

    std::optional<insim::Status> sent;
    Bytes received;
    run(send_block(buttons, sent), accept_and_read(received, 1024, 100ms));

    ASSERT_TRUE(sent && *sent) << why(sent);
    const Bytes expected = image_of(buttons);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_EQ(first_difference(received, expected), SIZE_MAX);
}

TEST_F(Loopback, PeerDataIsLeftUnreadAndChangesNothing)
{
    const std::vector<insim::IS_BTN> buttons = make_buttons(30);
    const Bytes expected = image_of(buttons);

    std::optional<insim::Status> sent;
    Bytes received(expected.size());
    bool peer_done = false;
    const auto peer = [&]() -> asio::awaitable<void> {
        tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
        const Bytes chatter(32768, 0x42);
        co_await asio::async_write(socket, asio::buffer(chatter), asio::use_awaitable);
        co_await asio::async_read(socket, asio::buffer(received), asio::use_awaitable);
        peer_done = true;
    };
    run(send_block(buttons, sent, 50ms, &peer_done), peer());

    ASSERT_TRUE(sent && *sent) << why(sent);
    EXPECT_EQ(first_difference(received, expected), SIZE_MAX);
}

// Without MSG_NOSIGNAL (or an equivalent) these writes raise SIGPIPE, which
// kills this test process instead of failing an expectation.
TEST_F(Loopback, WriteAfterPeerClosedIsAnErrorValue)
{
    struct Case {
        const char* name;
        bool peer_reads_init;
        bool send_buttons;
    };
    const Case cases[] = {
        {"peer closes with the init unread (reset)", false, false},
        {"peer reads the init, then closes", true, false},
        {"button block after the peer closed", true, true},
        {"button block after a reset", false, true},
    };
#ifndef _WIN32
    // An "ignore" inherited from the parent process would hide the fault.
    std::signal(SIGPIPE, SIG_DFL);
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        io.restart();
        const insim::IS_MST message = *insim::make_message_packet("Bye");
        const std::vector<insim::IS_BTN> buttons = make_buttons(30);

        std::optional<insim::Error> failure;
        bool connected = false;
        const auto client = [&]() -> asio::awaitable<void> {
            auto connection = co_await insim::InSimConnection::connect(endpoint(), init);
            if (!connection) {
                failure = connection.error();
                co_return;
            }
            connected = true;
            // The first writes after the close may still be taken; the reset follows.
            for (int i = 0; i < 200 && !failure; ++i) {
                // Not a conditional expression: GCC 12 frees its co_await temporaries twice.
                insim::Status sent;
                if (c.send_buttons) sent = co_await connection->send_buttons(buttons);
                else sent = co_await connection->send(message);
                if (!sent) failure = sent.error();
                else co_await sleep(10ms);
            }
        };
        const auto peer = [&]() -> asio::awaitable<void> {
            tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
            if (c.peer_reads_init) {
                Bytes init_bytes(44);
                co_await asio::async_read(socket, asio::buffer(init_bytes), asio::use_awaitable);
            }
            socket.close();
        };
        run(client(), peer());

        ASSERT_TRUE(connected);
        ASSERT_TRUE(failure) << "every write succeeded";
        EXPECT_TRUE(failure->kind() == "BrokenPipe" || failure->kind() == "ConnectionReset") << failure->debug();
    }
}

TEST_F(Loopback, ClosedPortRefusesTheConnection)
{
    const tcp::endpoint closed = endpoint();
    acceptor.close();

    std::optional<insim::Error> failure;
    const auto client = [&]() -> asio::awaitable<void> {
        auto connection = co_await insim::InSimConnection::connect(closed, init);
        if (!connection) failure = connection.error();
    };
    const auto no_peer = []() -> asio::awaitable<void> { co_return; };
    run(client(), no_peer());

    ASSERT_TRUE(failure) << "connected to a closed port";
    EXPECT_EQ(failure->kind(), "ConnectionRefused") << failure->debug();
}

}  // namespace
