#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "control/command.hpp"
#include "control/media_time.hpp"

namespace lumaflick {

// Started together, ffplay's sound came 11-121 ms before ffmpeg's picture
// (scripts/avsync on our test machines: ffplay sounds ~200 ms after its start,
// ffmpeg's first frame comes ~300 ms after its own). Started this much later,
// the sound is a little behind the picture, the side people notice less.
inline constexpr std::chrono::milliseconds SOUND_START_DELAY{90};

// The -ss and -t of a run of ffmpeg or ffplay.
struct RunTimes {
    std::optional<std::string> s;
    std::optional<std::string> t;
    friend bool operator==(const RunTimes&, const RunTimes&) = default;
};

// How ffplay starts for a run: this long after ffmpeg, from `times`, and
// trimmed to start exactly there when `exact` (ffplay alone seeks only to the
// video's key frame before).
struct SoundStart {
    std::chrono::milliseconds delay{0};
    RunTimes times;
    bool exact = false;
    friend bool operator==(const SoundStart&, const SoundStart&) = default;
};

// Where a playback is in its video. The first run of the children is started
// with -s and -t as given; every later one (after play or seek) from a time of
// ours, with -t shortened so that the end stays where it was.
class Timeline {
public:
    // -s and -t as given; `rate` frames a second. A time that does not read is
    // left to ffmpeg, which refuses it: the start is then 0 and there is no end.
    Timeline(const std::optional<std::string>& s, const std::optional<std::string>& t, std::uint64_t rate);

    // A run of the decoder starts: the first, or one from `at`.
    void run_from(std::optional<MediaTime> at) noexcept;
    // The run's n-th frame (1: its first) was shown.
    void shown(std::uint64_t n) noexcept;

    // The frame after the last one shown, where playing goes on.
    [[nodiscard]] MediaTime next() const noexcept;
    // The last frame shown (the run's start before its first): the
    // picture's own clock, which subtitles follow.
    [[nodiscard]] MediaTime shown_at() const noexcept;
    // Where a seek from `from` lands: never before the start; nullopt at or
    // past the end, which ends the playback.
    [[nodiscard]] std::optional<MediaTime> seek_target(const Command& seek, MediaTime from) const noexcept;
    // ffmpeg's -ss and -t for a run from `at` (nullopt: the first run).
    [[nodiscard]] RunTimes decoder_times(std::optional<MediaTime> at) const;
    // ffplay's start for the same run, its sound moved later by `offset`;
    // nullopt when no sound is left to play before the end.
    [[nodiscard]] std::optional<SoundStart> sound_start(std::optional<MediaTime> at,
                                                        std::chrono::milliseconds offset) const;

    [[nodiscard]] MediaTime start() const noexcept { return start_; }
    // Nothing is left to play from `at`.
    [[nodiscard]] bool past_end(MediaTime at) const noexcept { return end_ && at >= *end_; }

private:
    [[nodiscard]] MediaTime frame_time(std::uint64_t frames) const noexcept;
    [[nodiscard]] std::optional<std::string> length_from(MediaTime at) const;

    std::optional<std::string> s_;
    std::optional<std::string> t_;
    std::uint64_t rate_;
    MediaTime start_{0};
    std::optional<MediaTime> end_;
    MediaTime run_start_{0};
    std::uint64_t shown_in_run_ = 0;
};

}  // namespace lumaflick
