#include "control/timeline.hpp"

#include <algorithm>

namespace lumaflick {

Timeline::Timeline(const std::optional<std::string>& s, const std::optional<std::string>& t, std::uint64_t rate)
    : s_(s), t_(t), rate_(std::max<std::uint64_t>(rate, 1))
{
    if (s) start_ = std::max(parse_media_time(*s).value_or(MediaTime{0}), MediaTime{0});
    if (t) {
        if (const auto length = parse_media_time(*t)) end_ = start_ + std::max(*length, MediaTime{0});
    }
    run_start_ = start_;
}

void Timeline::run_from(std::optional<MediaTime> at) noexcept
{
    run_start_ = at.value_or(start_);
    shown_in_run_ = 0;
}

void Timeline::shown(std::uint64_t n) noexcept { shown_in_run_ = n; }

// Rounded down, so that ffmpeg's exact seek keeps the frame that lies at
// this time rather than dropping it for a microsecond.
MediaTime Timeline::frame_time(std::uint64_t frames) const noexcept
{
    const std::uint64_t seconds = frames / rate_;
    const std::uint64_t rest = frames % rate_;
    return MediaTime(static_cast<std::int64_t>(seconds * 1'000'000 + rest * 1'000'000 / rate_));
}

MediaTime Timeline::next() const noexcept { return run_start_ + frame_time(shown_in_run_); }

MediaTime Timeline::shown_at() const noexcept
{
    return run_start_ + frame_time(shown_in_run_ > 0 ? shown_in_run_ - 1 : 0);
}

std::optional<MediaTime> Timeline::seek_target(const Command& seek, MediaTime from) const noexcept
{
    const MediaTime target = std::max(seek.relative ? from + seek.time : seek.time, start_);
    if (end_ && target >= *end_) return std::nullopt;
    return target;
}

std::optional<std::string> Timeline::length_from(MediaTime at) const
{
    if (!end_) return std::nullopt;
    return ffmpeg_time(*end_ - at);
}

RunTimes Timeline::decoder_times(std::optional<MediaTime> at) const
{
    if (!at) return {s_, t_};
    return {ffmpeg_time(*at), length_from(*at)};
}

std::optional<SoundStart> Timeline::sound_start(std::optional<MediaTime> at, std::chrono::milliseconds offset) const
{
    const std::chrono::milliseconds later = SOUND_START_DELAY + offset;
    if (later >= std::chrono::milliseconds::zero()) {
        if (!at) return SoundStart{later, {s_, t_}, false};
        return SoundStart{later, decoder_times(at), true};
    }
    // Earlier than ffmpeg's own start: ffplay starts with it, that much further on.
    const MediaTime from = at.value_or(start_) - later;
    if (end_ && from >= *end_) return std::nullopt;
    return SoundStart{std::chrono::milliseconds::zero(), {ffmpeg_time(from), length_from(from)}, true};
}

}  // namespace lumaflick
