#pragma once

#include <cstddef>
#include <span>

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include "insim/packets.hpp"
#include "insim/result.hpp"

namespace insim {

// The open, write-only TCP stream to LFS. Nothing is ever read from it.
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

    InSimConnection(InSimConnection&&) noexcept = default;
    InSimConnection& operator=(InSimConnection&&) noexcept = default;
    ~InSimConnection() = default;

private:
    explicit InSimConnection(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
    asio::awaitable<Status> write_all(std::span<const std::byte> bytes);

    asio::ip::tcp::socket socket_;
};

}  // namespace insim
