#include "video/frame_source.hpp"

#include <algorithm>
#include <utility>

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
    : FrameSource(clock, threshold, layout)
{
    reader_ = &reader;
}

FrameSource::FrameSource(Clock& clock, std::chrono::milliseconds threshold, FrameLayout layout) noexcept
    : clock_(&clock), threshold_(threshold), layout_(layout), buffer_(std::max<std::size_t>(layout.size, 1))
{
    layout_.size = buffer_.size();
}

Result<std::span<const std::uint8_t>> FrameSource::next()
{
    for (;;) {
        auto read = reader_->read(begin_read());
        if (!read) {
            filled_ = 0;
            return std::move(read).error();
        }
        if (auto frame = end_read(*read)) return *frame;
    }
}

std::span<std::byte> FrameSource::begin_read() noexcept
{
    if (filled_ == 0) started_ = clock_->now();
    return std::as_writable_bytes(std::span(buffer_).first(layout_.size).subspan(filled_));
}

std::optional<std::span<const std::uint8_t>> FrameSource::end_read(std::size_t n) noexcept
{
    if (filled_ == 0) {
        if (n == 0) return std::span<const std::uint8_t>{};
        // Only the first read is timed: the rest of a frame that came in pieces
        // is waiting anyway, or follows within the same write.
        waited_ = std::max(clock_->now() - started_, std::chrono::steady_clock::duration::zero());
    }
    // A short last frame; the next read ends the output.
    if (n == 0) return finish_frame();
    filled_ += n;
    if (layout_.assemble && filled_ < layout_.size) return std::nullopt;
    return finish_frame();
}

std::optional<std::span<const std::uint8_t>> FrameSource::finish_frame() noexcept
{
    const std::size_t n = std::exchange(filled_, 0);
    // A frame that was already waiting in the pipe is late: drop it to catch up.
    if (waited_ < threshold_) {
        ++counters_.skipped;
        return std::nullopt;
    }
    ++counters_.shown;
    counters_.bytes += n;
    return std::span<const std::uint8_t>(buffer_).first(n);
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
