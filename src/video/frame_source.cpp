#include "video/frame_source.hpp"

#include <algorithm>

namespace lumaflick {

std::chrono::milliseconds skip_threshold(std::uint64_t rate) noexcept
{
    // A rate of 0 is refused earlier; here it reads as 1 rather than dividing by zero.
    const auto interval_93 = std::chrono::milliseconds(930 / (rate == 0 ? 1 : rate));
    // ffmpeg's -re releases frames on its own 10 ms scheduling tick, so a frame
    // read on time may come a tick before 93% of the interval. Without this
    // allowance a playback that keeps up at 30 fps drops every other frame.
    return std::max(interval_93 - DECODER_TICK, std::chrono::milliseconds::zero());
}

FrameSource::FrameSource(PipeReader& pipe, std::chrono::milliseconds threshold) noexcept
    : pipe_(&pipe), threshold_(threshold)
{
}

Result<std::optional<std::size_t>> FrameSource::next(std::span<std::uint8_t, FRAME_SIZE> frame)
{
    const std::span<std::byte> buffer = std::as_writable_bytes(std::span<std::uint8_t>(frame));
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        auto read = pipe_->read(buffer);
        if (!read) return std::move(read).error();
        const std::size_t n = *read;
        if (n == 0) return std::optional<std::size_t>{};
        const auto elapsed =
            std::max(std::chrono::steady_clock::now() - start, std::chrono::steady_clock::duration::zero());
        // A frame that was already waiting in the pipe is late: drop it to catch up.
        if (elapsed < threshold_) {
            ++counters_.skipped;
            continue;
        }
        ++counters_.shown;
        counters_.bytes += n;
        return std::optional<std::size_t>{n};
    }
}

std::string statistics_line(const FrameCounters& counters)
{
    const std::uint64_t frames = counters.shown + counters.skipped;
    // Nothing read at all (ffmpeg produced no frame) reads as 0%.
    const std::uint64_t percent = frames == 0 ? 0 : counters.skipped * 100 / frames;
    return "Read bytes: " + std::to_string(counters.bytes >> 10) + "kB, Skipped " +
           std::to_string(counters.skipped) + " frames (" + std::to_string(percent) + "%)";
}

}  // namespace lumaflick
