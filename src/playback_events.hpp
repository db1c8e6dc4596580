#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

#include "control/terminal_keys.hpp"
#include "error.hpp"
#include "insim/connection.hpp"
#include "video/frame_source.hpp"
#include "video/pipe_stream.hpp"

namespace lumaflick {

// The sources of a playback's events: what LFS sends, frames from the
// decoder, and the time. Each source has at most one read outstanding, whose
// result waits here until the driver takes it, so nothing piles up; the
// driver restarts a read once it has dealt with the last one. Everything runs
// on one thread: a read's handler only stores its result and wakes the driver.
class PlaybackEvents {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    PlaybackEvents(const asio::any_io_executor& executor, insim::InSimConnection& lfs);
    PlaybackEvents(const PlaybackEvents&) = delete;
    PlaybackEvents& operator=(const PlaybackEvents&) = delete;
    ~PlaybackEvents() = default;

    // Starts the next read of what LFS sends.
    void listen_to_lfs();
    // Bytes from LFS (0: LFS closed its end), valid until listen_to_lfs().
    std::optional<Result<std::span<const std::uint8_t>>> take_lfs();

    // Starts the next read of the terminal's keys, from `keys` (kept until stop()).
    void listen_to_keys(TerminalKeys& keys);
    // Keys pressed, valid until listen_to_keys().
    std::optional<Result<std::span<const Key>>> take_keys();

    // Frames come from `output` through `source`'s skip rule from now on; a
    // decoder watched before must have been let go.
    void watch_decoder(PipeStream output, FrameSource& source);
    // Lets the decoder go (it was ended, to pause or seek): its output is
    // closed, and a read it had outstanding is over, its result dropped.
    asio::awaitable<void> let_decoder_go();
    // Starts reading the next frame to show; the frames it drops on the way
    // are read at once, inside the handler, so that their timing is exact.
    void read_frame();
    // A frame to show (empty at end of output), valid until read_frame().
    std::optional<Result<std::span<const std::uint8_t>>> take_frame();
    // No more frames: the decoder's output is closed.
    void close_decoder() noexcept;

    // Returns once a result waits to be taken, or at the deadline; fails
    // when the playback is being cancelled (a signal).
    asio::awaitable<Status> wait(TimePoint deadline);

    // Ends every outstanding read and waits for its handler, so that none
    // runs after this object is gone. Must be awaited before destruction.
    asio::awaitable<void> stop();

private:
    void wake() noexcept;
    void frame_read_done(Result<std::size_t> read);
    [[nodiscard]] bool pending() const noexcept
    {
        return lfs_result_.has_value() || frame_result_.has_value() || keys_result_.has_value();
    }

    asio::steady_timer wake_;
    int outstanding_ = 0;

    insim::InSimConnection* lfs_;
    bool lfs_reading_ = false;
    std::optional<Result<std::size_t>> lfs_result_;
    std::array<std::uint8_t, 4096> lfs_buffer_{};

    TerminalKeys* keys_ = nullptr;
    bool keys_reading_ = false;
    std::optional<Result<std::span<const Key>>> keys_result_;

    std::optional<PipeStream> decoder_;
    FrameSource* source_ = nullptr;
    bool frame_reading_ = false;
    std::optional<Result<std::span<const std::uint8_t>>> frame_result_;
};

}  // namespace lumaflick
