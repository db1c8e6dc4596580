#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "error.hpp"
#include "insim/incoming.hpp"
#include "control/controls.hpp"
#include "picture/screens.hpp"

namespace lumaflick {

// What LFS has told us, from the bytes it sent: its packets, and how to put
// it when it stops talking. No sockets here, so that every reaction is a
// table row in a test.
class LfsLink {
public:
    // The next bytes LFS sent, cut anywhere: what they say of LFS's
    // connections goes to `screens`, the commands typed to `controls`. Fails
    // when the stream can no longer be framed.
    Status take(std::span<const std::uint8_t> bytes, Screens& screens, Controls& controls);

    // LFS closed its end (a read of 0 bytes): the error the run ends with.
    [[nodiscard]] Error closed() const;
    // A read or write failed: LFS having gone away (a reset) reads as its
    // closing; other failures stay as they are.
    [[nodiscard]] Error failed(Error failure) const;

    // Anything at all has arrived from LFS.
    [[nodiscard]] bool heard() const noexcept { return heard_; }
    [[nodiscard]] std::uint64_t packets() const noexcept { return packets_; }

private:
    insim::PacketFramer framer_;
    bool heard_ = false;
    std::uint64_t packets_ = 0;
};

// Connecting or writing the init failed: LFS going away then is its closing
// before a word.
Error connect_failed(Error failure);

// Whether an error says that the peer went away (closed or reset).
bool is_peer_gone(const Error& error) noexcept;

}  // namespace lumaflick
