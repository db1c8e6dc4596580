// asio-relay: floor-relay on our runtime. The same read of at most 2400 bytes
// and send of the prepared block per frame, but the way lumaflick does them:
// one thread running an io_context, standard input awaited as a non-blocking
// descriptor, the block sent at once and the socket awaited only when full.
// What it costs beyond floor-relay is the runtime's share, which no player
// built on it can avoid.
//
//   asio-relay ADDRESS < frames
//
// Exit status 0 at the end of the input, 1 on a failed connect or send.

#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <system_error>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "relay_block.hpp"

// GCC 12 inlines Asio's coroutine frame allocation where the coroutine is
// spawned and then takes its matching delete for a mismatched one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

int fail(const char* what, const std::error_code& error)
{
    std::fprintf(stderr, "asio-relay: %s: %s\n", what, error.message().c_str());
    return 1;
}

asio::awaitable<int> relay_frames(asio::posix::stream_descriptor& input, asio::ip::tcp::socket& socket)
{
    const relay::Block block = relay::full_frame_block();
    std::array<std::uint8_t, relay::FRAME_SIZE> frame{};
    for (;;) {
        std::error_code error;
        const std::size_t got =
            co_await input.async_read_some(asio::buffer(frame), asio::redirect_error(asio::use_awaitable, error));
        if (error == asio::error::eof) co_return 0;
        if (error) co_return fail("read", error);
        if (got == 0) co_return 0;
        std::size_t sent = socket.write_some(asio::buffer(block), error);
        if (error == asio::error::would_block) {
            sent = 0;
            error.clear();
        }
        if (!error && sent < block.size()) {
            co_await asio::async_write(socket, asio::buffer(block.data() + sent, block.size() - sent),
                                       asio::redirect_error(asio::use_awaitable, error));
        }
        if (error) co_return fail("send", error);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: asio-relay ADDRESS < frames\n");
        return 2;
    }
    const std::string address = argv[1];
    const auto colon = address.rfind(':');
    std::error_code error;
    const auto ip = asio::ip::make_address_v4(address.substr(0, colon == std::string::npos ? 0 : colon), error);
    if (colon == std::string::npos || error) {
        std::fprintf(stderr, "asio-relay: not an IPv4 address and port: %s\n", argv[1]);
        return 2;
    }
    const auto port = static_cast<asio::ip::port_type>(std::atoi(address.c_str() + colon + 1));

    asio::io_context runtime(ASIO_CONCURRENCY_HINT_UNSAFE);
    asio::ip::tcp::socket socket(runtime);
    if (socket.connect({ip, port}, error); error) return fail("connect", error);
    if (socket.non_blocking(true, error); error) return fail("connect", error);
    asio::posix::stream_descriptor input(runtime);
    if (input.assign(::dup(STDIN_FILENO), error); error) return fail("read", error);
    if (input.non_blocking(true, error); error) return fail("read", error);

    int status = 0;
    asio::co_spawn(runtime, relay_frames(input, socket), [&status](const std::exception_ptr&, int result) {
        status = result;
    });
    runtime.run();
    return status;
}
