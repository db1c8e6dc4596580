// The renderer's frame loop must not allocate; the button write is part of it.
// Every global allocation is counted, and warmed-up send_buttons and send_bytes
// must add none.
#include "insim/connection.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

// GCC sees free() meet operator new once these replacements are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using asio::ip::tcp;

TEST(SendButtons, AllocatesNothingOnceWarmedUp)
{
    constexpr int warm_up = 10;
    constexpr int frames = 200;
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    const std::uint16_t flags[] = {insim::ISF_LOCAL};
    const insim::IS_ISI init = *insim::make_init_packet(flags, "", insim::display_name("Lumaflick"));
    const std::vector<insim::IS_BTN> buttons(30);
    std::vector<std::byte> block(30 * sizeof(insim::IS_BTN));
    std::size_t block_size = 0;
    for (const auto& button : buttons) {
        block_size += insim::write_short_button(button, "^6_^7_", std::span(block).subspan(block_size).first<252>());
    }

    std::optional<std::size_t> allocated;
    std::optional<insim::Error> failure;
    const auto client = [&]() -> asio::awaitable<void> {
        auto connection = co_await insim::InSimConnection::connect(acceptor.local_endpoint(), init);
        if (!connection) {
            failure = connection.error();
            co_return;
        }
        std::size_t before = 0;
        for (int i = 0; i < warm_up + frames; ++i) {
            if (i == warm_up) before = allocations.load();
            if (auto sent = co_await connection->send_buttons(buttons); !sent) {
                failure = sent.error();
                co_return;
            }
            if (auto sent = co_await connection->send_bytes(std::span(block).first(block_size)); !sent) {
                failure = sent.error();
                co_return;
            }
        }
        allocated = allocations.load() - before;
    };
    const auto peer = [&]() -> asio::awaitable<void> {
        tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
        std::vector<char> sink(65536);
        std::error_code ec;
        while (!ec) co_await socket.async_read_some(asio::buffer(sink), asio::redirect_error(asio::use_awaitable, ec));
    };
    int finished = 0;
    const auto on_end = [&finished](std::exception_ptr e) {
        if (e) std::rethrow_exception(e);
        ++finished;
    };
    asio::co_spawn(io, client(), on_end);
    asio::co_spawn(io, peer(), on_end);
    io.run_for(std::chrono::seconds(20));

    ASSERT_EQ(finished, 2) << "timed out";
    // The count is only worth something if this binary's operator new is the one in use.
    const std::size_t probe = allocations.load();
    // A direct call, unlike a new-expression, cannot be optimised away.
    ::operator delete(::operator new(16));
    EXPECT_EQ(allocations.load(), probe + 1);
    ASSERT_FALSE(failure) << failure->debug();
    ASSERT_TRUE(allocated);
    EXPECT_EQ(*allocated, 0U) << "allocations in " << frames << " frames of button writes";
}

}  // namespace
