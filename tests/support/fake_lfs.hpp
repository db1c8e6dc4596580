#pragma once

// LFS as a client sees it, for the end-to-end tests and the benchmark's sink:
// a loopback listener that takes one connection, records (or hands over)
// everything it receives, and answers and sends packets as it is told.
//
// It cuts what it reads into packets with the InSim library's framer, to know
// the init packet and the button blocks. A button block is what the player
// writes for one frame: a run of IS_BTN packets. A new block starts at an
// IS_BTN whose ClickID is not above the previous IS_BTN's, or at the first
// IS_BTN after any other packet. A block has arrived once the packet that
// ends it has (the next block's first IS_BTN, or any other packet), or once a
// read has left nothing unread on the socket and no packet half-read: the
// player writes a block at once, so it has all come. (A sender stalled by a
// full buffer exactly between two of a block's packets would make it count
// early.)
//
// Its socket is non-blocking: what the peer does not take waits in the
// fake's outbox, and reading goes on meanwhile. When the peer shuts its
// sending side down the fake closes at once, whatever it had still to send.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "insim/result.hpp"
#include "video/unique_fd.hpp"

namespace lumaflick::test {

using Clock = std::chrono::steady_clock;

struct FakeLfsOptions {
    std::string address = "127.0.0.1";
    bool close_on_accept = false;
    // Stop reading once this many bytes have arrived, for `pause_for`.
    std::size_t pause_after_bytes = 0;
    std::chrono::milliseconds pause_for{0};
    // Close the connection once at least this many bytes have arrived.
    std::optional<std::size_t> close_after_bytes;
    // Close with SO_LINGER 0: the peer sees a reset instead of an orderly end.
    bool reset_on_close = false;
    // SO_RCVBUF and TCP_MAXSEG of the listener, inherited by the connection
    // (0: the system's). A stalled reader pushes back on the writer only when
    // both are small: the writer's send buffer grows with the segment size
    // announced to it (64 KiB on loopback, making a buffer of megabytes).
    int receive_buffer = 0;
    int max_segment = 0;
    // Given each read, on the serving thread, instead of keeping it: long
    // runs then cost no memory (chunks() and bytes() stay empty).
    std::function<void(std::span<const std::uint8_t> bytes, Clock::time_point at)> on_chunk;

    // Sends IS_VER (ReqI of the init) right after an IS_ISI whose ReqI is not 0, as LFS does.
    bool answer_version = false;
    // An IS_ISI whose Admin field differs makes it close at once, sending nothing (LFS's answer to a wrong password).
    std::optional<std::string> password;
    // TINY_NONE every interval from the accept (0: never).
    std::chrono::milliseconds keepalive_every{0};
    // Reads at most this many bytes a second (0: as fast as it can), e.g. 30'000 for a slow LFS.
    // The kernel still takes what fits into the receive buffer: with a small
    // `receive_buffer` the writer feels the slow reader sooner.
    std::size_t read_rate = 0;
    struct Scripted {
        enum class When { after_init, at, after_block } when = When::after_init;
        std::chrono::milliseconds at{0};  // When::at: this long after the accept
        std::size_t block = 0;            // When::after_block: once the k-th button block (k >= 1) has arrived
        std::vector<std::uint8_t> bytes;  // sent as they are (one or more packets, or deliberately broken bytes)
    };
    // Entries due at the same time go out in this order, after the IS_VER.
    // Only the first IS_ISI is the init: after_init waits for it (and for the
    // right password).
    std::vector<Scripted> script;
    // Closes the connection right after sending the script entry with this index (e.g. to close after an IS_VER).
    std::optional<std::size_t> close_after_script;
    // Never closes after the peer's end of file: it stops reading, goes on
    // writing (keep-alives) and closes only when a write fails.
    bool outlasts_peer = false;
};

// What one read returned, stamped when it returned.
struct Chunk {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
};

// One InSim packet cut out of the stream by its size byte (size × 4 bytes).
struct Packet {
    Clock::time_point at;  // arrival of its last byte
    std::vector<std::uint8_t> bytes;

    [[nodiscard]] std::uint8_t type() const { return bytes.size() > 1 ? bytes[1] : 0; }
};

struct Split {
    std::vector<Packet> packets;
    std::size_t trailing_bytes = 0;  // an incomplete packet, or everything from a zero size byte on
};

Split split_packets(const std::vector<Chunk>& chunks);

class FakeLfs {
public:
    static insim::Result<std::unique_ptr<FakeLfs>> start(FakeLfsOptions options = {});
    ~FakeLfs();
    FakeLfs(const FakeLfs&) = delete;
    FakeLfs& operator=(const FakeLfs&) = delete;

    [[nodiscard]] std::uint16_t port() const noexcept { return port_; }
    // "address:port", ready for --insim-address.
    [[nodiscard]] std::string endpoint() const;

    // True once the first connection has ended (the peer closed, or we did).
    bool wait_closed(std::chrono::milliseconds timeout);
    bool wait_bytes(std::size_t count, std::chrono::milliseconds timeout);
    bool wait_accepted(std::chrono::milliseconds timeout);

    [[nodiscard]] int connections() const;
    [[nodiscard]] std::size_t received() const;
    // Bytes written to the peer.
    [[nodiscard]] std::size_t sent() const;
    [[nodiscard]] std::optional<Clock::time_point> accepted_at() const;
    // When the peer's end of file arrived (it shut its sending side down);
    // nothing if the connection ended otherwise.
    [[nodiscard]] std::optional<Clock::time_point> peer_closed_at() const;
    [[nodiscard]] std::vector<Chunk> chunks() const;
    [[nodiscard]] std::vector<std::uint8_t> bytes() const;
    [[nodiscard]] Split packets() const { return split_packets(chunks()); }

private:
    // Only start() constructs, through make_unique.
    struct Key {
        explicit Key() = default;
    };

public:
    FakeLfs(Key, FakeLfsOptions options, Fd listener, std::uint16_t port);

private:
    struct Link;
    void serve(const std::stop_token& stop);
    std::size_t take(std::span<const std::uint8_t> data, Clock::time_point at);
    void take_packet(Link& link, std::span<const std::uint8_t> packet);
    void run_script(Link& link, Clock::time_point now);
    void queue(Link& link, std::span<const std::uint8_t> bytes);
    void flush(Link& link);
    void count_sent(std::size_t bytes);

    FakeLfsOptions options_;
    Fd listener_;
    std::uint16_t port_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int connections_ = 0;
    bool closed_ = false;
    std::size_t received_ = 0;
    std::size_t sent_ = 0;
    std::optional<Clock::time_point> accepted_at_;
    std::optional<Clock::time_point> peer_closed_at_;
    int byte_waiters_ = 0;  // a read wakes nobody unless someone waits for bytes
    std::vector<Chunk> chunks_;

    std::jthread thread_;  // last: stopped and joined before the rest goes
};

// A loopback port that is bound but not listening, so that a connection to
// it is refused for as long as this object lives (no one else can take it).
class RefusingPort {
public:
    static insim::Result<RefusingPort> open();

    [[nodiscard]] std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    RefusingPort(Fd fd, std::uint16_t port) noexcept : fd_(std::move(fd)), port_(port) {}
    Fd fd_;
    std::uint16_t port_;
};

}  // namespace lumaflick::test
