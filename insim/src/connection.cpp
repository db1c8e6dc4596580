#include "insim/connection.hpp"

#include <system_error>
#include <utility>

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

// A write to a connection that the peer has closed must come back as EPIPE, not
// as a SIGPIPE that ends the process. Asio sends with MSG_NOSIGNAL on Linux and
// sets SO_NOSIGPIPE itself on Apple and FreeBSD; anywhere else we would need our
// own answer, so refuse to build rather than die at run time.
#if !defined(_WIN32) && !defined(ASIO_HAS_MSG_NOSIGNAL) && !(defined(__APPLE__) || defined(__FreeBSD__))
#error "no way to suppress SIGPIPE on socket writes on this platform"
#endif

#ifdef __linux__
#include "send_state.hpp"
#endif

namespace insim {

asio::awaitable<Result<InSimConnection>> InSimConnection::connect(asio::ip::tcp::endpoint endpoint,
                                                                  const IS_ISI& init)
{
    asio::ip::tcp::socket socket(co_await asio::this_coro::executor);
    std::error_code ec;
    co_await socket.async_connect(endpoint, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return Error::system(ec);

    // Writes are tried at once and wait only when the socket is full.
    socket.non_blocking(true, ec);
    if (ec) co_return Error::system(ec);
    InSimConnection connection(std::move(socket));
    if (auto written = co_await connection.write_all(image(init)); !written) {
        // Closed here, not later: an unauthenticated stream must not linger.
        std::error_code ignored;
        connection.socket_.close(ignored);
        co_return std::move(written).error();
    }
    co_return connection;
}

asio::awaitable<Status> InSimConnection::send(const IS_MST& packet) { co_return co_await write_all(image(packet)); }

asio::awaitable<Status> InSimConnection::send(const IS_TINY& packet) { co_return co_await write_all(image(packet)); }

asio::awaitable<Status> InSimConnection::send_buttons(std::span<const IS_BTN> buttons)
{
    // The records are contiguous, so the block goes out straight from the caller's list.
    co_return co_await write_all(image(buttons));
}

asio::awaitable<Status> InSimConnection::send_bytes(std::span<const std::byte> packets)
{
    co_return co_await write_all(packets);
}

asio::awaitable<Status> InSimConnection::write_all(std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        // A write the socket's buffer takes at once needs no round through the
        // reactor; only a full buffer waits for writability.
        std::error_code ec;
        std::size_t written = socket_.write_some(asio::buffer(bytes.data(), bytes.size()), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            ec.clear();
            written = co_await socket_.async_write_some(asio::buffer(bytes.data(), bytes.size()),
                                                        asio::redirect_error(asio::use_awaitable, ec));
        }
        if (ec) co_return Error::system(ec);
        if (written == 0) co_return Error::system(make_error_code(io_errc::write_zero));
        bytes = bytes.subspan(written);
    }
    co_return ok();
}

Result<std::size_t> InSimConnection::write_now(std::span<const std::byte> bytes)
{
    std::error_code ec;
    const std::size_t written = socket_.write_some(asio::buffer(bytes.data(), bytes.size()), ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) return std::size_t{0};
    if (ec) return Error::system(ec);
    if (written == 0 && !bytes.empty()) return Error::system(make_error_code(io_errc::write_zero));
    return written;
}

asio::awaitable<Status> InSimConnection::wait_writable()
{
    std::error_code ec;
    co_await socket_.async_wait(asio::socket_base::wait_write, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return Error::system(ec);
    co_return ok();
}

void InSimConnection::async_read(std::span<std::uint8_t> buffer, std::function<void(Result<std::size_t>)> done)
{
    socket_.async_read_some(asio::buffer(buffer.data(), buffer.size()),
                            [done = std::move(done)](std::error_code ec, std::size_t n) {
                                if (ec == asio::error::eof) ec.clear();
                                if (ec) {
                                    done(Error::system(ec));
                                } else {
                                    done(n);
                                }
                            });
}

void InSimConnection::cancel() noexcept
{
    std::error_code ignored;
    socket_.cancel(ignored);
}

Status InSimConnection::shutdown_send()
{
    std::error_code ec;
    socket_.shutdown(asio::socket_base::shutdown_send, ec);
    if (ec) return Error::system(ec);
    return ok();
}

std::optional<SendState> InSimConnection::send_state() noexcept
{
#ifdef __linux__
    return detail::send_state(socket_.native_handle());
#else
    return std::nullopt;
#endif
}

void InSimConnection::close() noexcept
{
    std::error_code ignored;
    socket_.close(ignored);
}

}  // namespace insim
