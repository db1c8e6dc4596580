#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "error.hpp"
#include "frame.hpp"
#include "video/process.hpp"

namespace lumaflick {

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

// Reads frames from the decoder's pipe and drops those that were already
// waiting (read faster than the threshold), so the picture catches up.
class FrameSource {
public:
    FrameSource(PipeReader& pipe, std::chrono::milliseconds threshold) noexcept;

    // The byte count (1 to FRAME_SIZE) of the next frame to show, in the first
    // bytes of `frame`; std::nullopt at end of output.
    Result<std::optional<std::size_t>> next(std::span<std::uint8_t, FRAME_SIZE> frame);

    [[nodiscard]] const FrameCounters& counters() const noexcept { return counters_; }

private:
    PipeReader* pipe_;
    std::chrono::steady_clock::duration threshold_;
    FrameCounters counters_;
};

// "Read bytes: <kB>kB, Skipped <n> frames (<percent>%)"; 0% when nothing was read.
std::string statistics_line(const FrameCounters& counters);

}  // namespace lumaflick
