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

FrameSource::FrameSource(FrameReader& reader, Clock& clock, std::chrono::milliseconds threshold,
                         FrameLayout layout) noexcept
    : reader_(&reader), clock_(&clock), threshold_(threshold), layout_(layout)
{
    layout_.size = std::clamp<std::size_t>(layout_.size, 1, buffer_.size());
}

Result<std::span<const std::uint8_t>> FrameSource::next()
{
    const std::span<std::byte> frame = std::as_writable_bytes(std::span(buffer_).first(layout_.size));
    for (;;) {
        const auto start = clock_->now();
        auto read = reader_->read(frame);
        if (!read) return std::move(read).error();
        std::size_t n = *read;
        if (n == 0) return std::span<const std::uint8_t>{};
        // Only the first read is timed: the rest of a frame that came in pieces
        // is waiting anyway, or follows within the same write.
        const auto elapsed = std::max(clock_->now() - start, std::chrono::steady_clock::duration::zero());
        while (layout_.assemble && n < frame.size()) {
            auto more = reader_->read(frame.subspan(n));
            if (!more) return std::move(more).error();
            if (*more == 0) break;  // a short last frame; the next read ends the output
            n += *more;
        }
        // A frame that was already waiting in the pipe is late: drop it to catch up.
        if (elapsed < threshold_) {
            ++counters_.skipped;
            continue;
        }
        ++counters_.shown;
        counters_.bytes += n;
        return std::span<const std::uint8_t>(buffer_).first(n);
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
