#include <gtest/gtest.h>

#include <array>
#include <exception>
#include <functional>
#include <optional>
#include <tuple>

#include <asio/co_spawn.hpp>
#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "host_packets.hpp"
#include "packet_stream.hpp"
#include "server.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;
using namespace std::chrono_literals;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct EventLog : ServerEvents {
    void connected(const Session&, const tcp::endpoint&) override { ++connections; }
    void message(std::string_view text) override { messages.emplace_back(text); }
    void warning(std::string_view text) override { warnings.emplace_back(text); }
    void redraw(Clients) override { ++redraws; }
    void disconnected(const Session& session, SessionTime, Clients clients) override
    {
        std::vector<const ButtonScreen*> screens;
        for (const Session* client : clients) screens.push_back(&client->screen());
        draw_screens(screens, picture);
        ends.push_back(session.end());
        buttons = session.screen().size();
        frames = session.statistics().frames;
    }

    Picture picture;  // of every client on the screen as the last one left
    int connections = 0;
    int redraws = 0;
    std::size_t buttons = 0;
    std::uint64_t frames = 0;
    std::vector<std::string> messages;
    std::vector<std::string> warnings;
    std::vector<SessionEnd> ends;
};

// A server on a free loopback port and clients, all on one thread; every run
// is bounded by `run_for`.
class ServerTest : public ::testing::Test {
protected:
    void start(ServerConfig config = {})
    {
        config.endpoint = {asio::ip::address_v4::loopback(), 0};
        server_.emplace(context_, config, events_);
        ASSERT_TRUE(server_->listen());
        asio::co_spawn(context_, server_->serve(), [this](std::exception_ptr failure, SessionEnd end) {
            if (!failure) result_ = end;
        });
    }

    void client(std::function<asio::awaitable<void>(tcp::socket&)> body)
    {
        asio::co_spawn(
            context_,
            [this, body]() -> asio::awaitable<void> {
                tcp::socket socket(context_);
                co_await socket.async_connect({asio::ip::address_v4::loopback(), server_->port()},
                                              asio::use_awaitable);
                co_await body(socket);
            },
            [this](std::exception_ptr failure) {
                client_failed_ = static_cast<bool>(failure);
                ++clients_done_;
            });
    }

    void run(std::chrono::milliseconds bound = 5s) { context_.run_for(bound); }

    asio::awaitable<void> sleep(std::chrono::milliseconds duration)
    {
        asio::steady_timer timer(context_, duration);
        co_await timer.async_wait(asio::use_awaitable);
    }

    static asio::awaitable<void> write(tcp::socket& socket, const Bytes& bytes)
    {
        co_await asio::async_write(socket, asio::buffer(bytes), asio::use_awaitable);
    }

    // The one client ended without an exception, the server as `end` says.
    void expect_end(SessionEnd end)
    {
        ASSERT_EQ(clients_done_, 1);
        EXPECT_FALSE(client_failed_);
        ASSERT_TRUE(result_);
        EXPECT_EQ(*result_, end);
    }

    // Reads until the server closes; throws if anything but a close ends the read.
    static asio::awaitable<Bytes> read_to_end(tcp::socket& socket)
    {
        Bytes got;
        std::array<std::uint8_t, 256> buffer{};
        for (;;) {
            std::error_code ec;
            const std::size_t n = co_await socket.async_read_some(
                asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
            got.insert(got.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
            if (ec == asio::error::eof || ec == asio::error::connection_reset) co_return got;
            if (ec) throw std::system_error(ec);
        }
    }

    asio::io_context context_;
    EventLog events_;
    std::optional<Server> server_;
    std::optional<SessionEnd> result_;
    int clients_done_ = 0;
    bool client_failed_ = false;
};

TEST_F(ServerTest, ServesAGoodStreamUntilTheClientLeaves)
{
    start();
    client([this](tcp::socket& socket) -> asio::awaitable<void> {
        co_await write(socket, init_packet());
        std::array<std::uint8_t, VERSION_LENGTH> version{};
        co_await asio::async_read(socket, asio::buffer(version), asio::use_awaitable);
        EXPECT_EQ(version, make_version_packet(1));
        // The frame in pieces that cut packets in two.
        const Bytes frame = full_frame("0367");
        for (std::size_t from = 0; from < frame.size(); from += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, frame.size() - from);
            co_await write(socket, Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
                                         frame.begin() + static_cast<std::ptrdiff_t>(from + n)));
            co_await sleep(2ms);
        }
        co_await write(socket, message_packet("done"));
    });
    run();

    expect_end(SessionEnd::disconnected);
    EXPECT_EQ(events_.connections, 1);
    EXPECT_EQ(events_.buttons, 30u);
    EXPECT_EQ(events_.messages, std::vector<std::string>{"done"});
    EXPECT_TRUE(events_.warnings.empty());
    EXPECT_GE(events_.redraws, 1);
}

TEST_F(ServerTest, ClosesTheConnectionOnAWrongPassword)
{
    ServerConfig config;
    config.session.admin = std::array<std::uint8_t, 16>{'s', 'e', 'c', 'r', 'e', 't'};
    start(config);
    client([](tcp::socket& socket) -> asio::awaitable<void> {
        co_await write(socket, init_packet("guess"));
        EXPECT_TRUE((co_await read_to_end(socket)).empty());
    });
    run();
    expect_end(SessionEnd::wrong_password);
    EXPECT_EQ(events_.warnings.size(), 1u);
}

TEST_F(ServerTest, ClosesASilentConnectionAndSendsKeepAlivesMeanwhile)
{
    ServerConfig config;
    config.idle_timeout = 300ms;
    config.keepalive_interval = 100ms;
    start(config);
    Clock::duration lasted{};
    Bytes received;
    client([&](tcp::socket& socket) -> asio::awaitable<void> {
        const auto began = Clock::now();
        co_await write(socket, init_packet("", 9, 0));
        const Bytes got = co_await read_to_end(socket);
        lasted = Clock::now() - began;
        received = got;
    });
    run();
    expect_end(SessionEnd::idle);
    EXPECT_GE(lasted, 300ms);
    // Keep-alives only, each the 4 bytes of IS_TINY with TINY_NONE.
    ASSERT_GE(received.size(), 4u);
    ASSERT_EQ(received.size() % 4, 0u);
    for (std::size_t i = 0; i < received.size(); i += 4) {
        EXPECT_EQ(Bytes(received.begin() + static_cast<std::ptrdiff_t>(i), received.begin() + static_cast<std::ptrdiff_t>(i) + 4),
                  Bytes({1, 3, 0, 0}));
    }
}

TEST_F(ServerTest, ServesOneClientAfterAnotherWithKeepUntilStopped)
{
    ServerConfig config;
    config.keep = true;
    start(config);
    const Bytes first = join({init_packet("", 9, 0), full_frame("1")});
    client([this, &first](tcp::socket& socket) -> asio::awaitable<void> {
        co_await write(socket, first);
        socket.close();
        co_await sleep(50ms);
        tcp::socket second(context_);
        co_await second.async_connect({asio::ip::address_v4::loopback(), server_->port()}, asio::use_awaitable);
        co_await write(second, init_packet("", 9, 0));
        co_await sleep(50ms);
        server_->stop();  // closes the second client's connection
        EXPECT_TRUE((co_await read_to_end(second)).empty());
    });
    run();
    expect_end(SessionEnd::stopped);
    EXPECT_EQ(events_.connections, 2);
    EXPECT_EQ(events_.ends, (std::vector<SessionEnd>{SessionEnd::disconnected, SessionEnd::stopped}));
}

// Two players at once, each with ClickIDs of its own, side by side at half
// size; the first to leave stays on the screen until the other has gone.
TEST_F(ServerTest, ServesTwoClientsAtOnceOnOneScreen)
{
    start();
    for (const bool first : {true, false}) {
        const Placement at{1, first ? std::uint8_t{0} : std::uint8_t{120}, 0, 3};
        const Bytes stream = join({init_packet("", 9, 0), full_frame(first ? "1" : "2", 255, at)});
        client([this, stream, first](tcp::socket& socket) -> asio::awaitable<void> {
            co_await write(socket, stream);
            co_await sleep(first ? 100ms : 200ms);
        });
    }
    run();
    EXPECT_EQ(events_.ends, (std::vector<SessionEnd>{SessionEnd::disconnected, SessionEnd::disconnected}));
    const auto& picture = events_.picture;  // probed in half units across, units down
    for (const auto& [x, y, colour] : std::vector<std::tuple<std::size_t, std::size_t, Colour>>{
             {0, 0, Colour::red}, {239, 89, Colour::red}, {240, 0, Colour::green}, {479, 89, Colour::green}, {0, 90, Colour::empty}}) {
        EXPECT_EQ(picture.at(y / picture.cell_height(), x / picture.cell_width()).colour, colour) << x << "," << y;
    }
}

TEST_F(ServerTest, RedrawsAtMostAboutThirtyTimesASecond)
{
    start();
    Clock::duration lasted{};
    client([&](tcp::socket& socket) -> asio::awaitable<void> {
        const auto began = Clock::now();
        co_await write(socket, init_packet("", 9, 0));
        for (int frame = 0; frame < 150; ++frame) {
            const auto row = static_cast<std::uint8_t>(frame % 30);
            co_await write(socket, picture_row_button(row, frame % 2 ? "3" : "6"));
            co_await sleep(2ms);
        }
        lasted = Clock::now() - began;
    });
    run();
    ASSERT_TRUE(result_);
    const auto allowed = lasted / 33ms + 2;  // and the final redraw
    EXPECT_LE(events_.redraws, allowed) << "in " << std::chrono::duration<double>(lasted).count() << " s";
    EXPECT_GE(events_.redraws, 2);
}

}  // namespace
