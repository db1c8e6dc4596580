#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error.hpp"
#include "frame.hpp"
#include "video/process.hpp"

namespace lumaflick {

// Where frames come from: one blocking read into `buffer`, the byte count or
// an error; 0 at end of output.
class FrameReader {
public:
    virtual Result<std::size_t> read(std::span<std::byte> buffer) = 0;

protected:
    ~FrameReader() = default;
};

// The time that the skip rule measures reads with.
class Clock {
public:
    virtual std::chrono::steady_clock::time_point now() noexcept = 0;

protected:
    ~Clock() = default;
};

// The decoder's output pipe as a frame reader.
class PipeFrameReader final : public FrameReader {
public:
    explicit PipeFrameReader(PipeReader& pipe) noexcept : pipe_(&pipe) {}
    Result<std::size_t> read(std::span<std::byte> buffer) override { return pipe_->read(buffer); }

private:
    PipeReader* pipe_;
};

class SteadyClock final : public Clock {
public:
    std::chrono::steady_clock::time_point now() noexcept override { return std::chrono::steady_clock::now(); }
};

// How the decoder's output divides into frames.
struct FrameLayout {
    std::size_t size;  // bytes of a whole frame
    bool assemble;     // a frame may come in pieces: read until it is whole
};

// ffmpeg writes each gray frame in one write, which a pipe keeps whole: one
// read is one frame, and a short read is shown as it is.
inline constexpr FrameLayout GRAY_FRAMES{FRAME_SIZE, false};
// An rgb24 frame is larger than a pipe keeps whole (4096 bytes), so a reader
// that falls behind can get it in pieces; taking it as it came would shift rows
// and colour channels.
inline constexpr FrameLayout COLOUR_FRAMES{COLOUR_FRAME_SIZE, true};

// The frames of a geometry's picture, grey or colour. A grey frame of a size
// the user chose can be larger than a pipe keeps whole, so with `sized` it is
// assembled too.
constexpr FrameLayout frame_layout(const Geometry& geometry, bool colour, bool sized = false) noexcept
{
    return colour ? FrameLayout{3 * geometry.pixels(), true} : FrameLayout{geometry.pixels(), sized};
}

struct FrameCounters {
    std::uint64_t bytes = 0;
    std::uint64_t shown = 0;
    std::uint64_t skipped = 0;
};

// The scheduling step of ffmpeg's real-time (-re) output.
inline constexpr std::chrono::milliseconds DECODER_TICK{10};

// 930 / rate milliseconds (integer division) less one DECODER_TICK, at least 0;
// rate is at least 1.
std::chrono::milliseconds skip_threshold(std::uint64_t rate) noexcept;

// Reads frames and drops those that were already waiting (their first read
// took less than the threshold), so the picture catches up. The rule sits in
// begin_read/end_read, so that a reader awaited on the runtime keeps exactly
// the timing of the blocking one.
class FrameSource {
public:
    FrameSource(FrameReader& reader, Clock& clock, std::chrono::milliseconds threshold,
                FrameLayout layout) noexcept;
    // For a caller that reads by itself, through begin_read and end_read.
    FrameSource(Clock& clock, std::chrono::milliseconds threshold, FrameLayout layout) noexcept;

    // The next frame to show (1 to layout.size bytes, valid until the next
    // call); empty at end of output. Only the last frame of an assembled
    // output can be short. Needs the reader.
    Result<std::span<const std::uint8_t>> next();

    // Where the next read goes; its start is the frame's when it begins one.
    std::span<std::byte> begin_read() noexcept;
    // That read returned n bytes: the frame to show (empty at end of output),
    // or nullopt to read again (the frame is not whole yet, or was dropped).
    std::optional<std::span<const std::uint8_t>> end_read(std::size_t n) noexcept;

    // The decoder was ended and another started: a frame half read is gone.
    // The counters go on, since the statistics count every run.
    void restart() noexcept { filled_ = 0; }

    [[nodiscard]] const FrameCounters& counters() const noexcept { return counters_; }

private:
    std::optional<std::span<const std::uint8_t>> finish_frame() noexcept;

    FrameReader* reader_ = nullptr;
    Clock* clock_;
    std::chrono::steady_clock::duration threshold_;
    FrameLayout layout_;
    FrameCounters counters_;
    std::size_t filled_ = 0;  // bytes of the frame being read
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::duration waited_{};  // by the frame's first read
    std::vector<std::uint8_t> buffer_;
};

// "Read bytes: <kB>kB, Skipped <n> frames (<percent>%)"; 0% when nothing was read.
std::string statistics_line(const FrameCounters& counters);

}  // namespace lumaflick
