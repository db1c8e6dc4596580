#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include "insim/packets.hpp"
#include "insim/send_state.hpp"
#include "insim/result.hpp"

namespace insim {

// The open TCP stream to LFS. One caller writes; what LFS sends is read beside
// the writes, one read at a time.
class InSimConnection {
public:
    // One connection attempt, then the whole init packet written.
    static asio::awaitable<Result<InSimConnection>> connect(asio::ip::tcp::endpoint endpoint, const IS_ISI& init);

    asio::awaitable<Status> send(const IS_MST& packet);
    asio::awaitable<Status> send(const IS_TINY& packet);
    // All buttons as one contiguous block of 252 × n bytes, in order.
    asio::awaitable<Status> send_buttons(std::span<const IS_BTN> buttons);
    // A block of whole packets prepared by the caller (e.g. short buttons), as it is.
    asio::awaitable<Status> send_bytes(std::span<const std::byte> packets);
    // As much of `bytes` as the socket takes now, without waiting: 0 when it
    // is full. For a caller that writes while its events run and waits only
    // when the socket is full.
    Result<std::size_t> write_now(std::span<const std::byte> bytes);
    // Until the socket can take more; operation_aborted after cancel().
    asio::awaitable<Status> wait_writable();

    // One read of what LFS sent. `done` runs on the executor with the byte
    // count, 0 once LFS has closed its end, or the error (operation_aborted
    // after cancel(), which ends a pending write the same way).
    void async_read(std::span<std::uint8_t> buffer, std::function<void(Result<std::size_t>)> done);
    void cancel() noexcept;

    // We send no more: LFS reads to the end of what we sent, then sees the
    // end of the stream.
    Status shutdown_send();
    // Where the system tells (Linux).
    [[nodiscard]] std::optional<SendState> send_state() noexcept;
    void close() noexcept;

    InSimConnection(InSimConnection&&) noexcept = default;
    InSimConnection& operator=(InSimConnection&&) noexcept = default;
    ~InSimConnection() = default;

private:
    explicit InSimConnection(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
    asio::awaitable<Status> write_all(std::span<const std::byte> bytes);

    asio::ip::tcp::socket socket_;
};

}  // namespace insim
