#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "error.hpp"
#include "geometry.hpp"

namespace lumaflick {

// ffmpeg alone tells a video's display size (ffprobe often does not ship with
// it): one frame, scaled by its sample aspect ratio and rotated as ffmpeg
// plays it, written as a PPM image whose header holds the size.
std::vector<std::string> shape_probe_arguments(const std::string& video);

// The width and height of a PPM header at the front of `bytes`: nullopt while
// more bytes are needed, an error when they are not one.
std::optional<Result<DisplaySize>> read_ppm_size(std::span<const std::uint8_t> bytes);

// A header longer than this is not one ffmpeg writes.
inline constexpr std::size_t PPM_HEAD_LIMIT = 256;
// Long enough for a first start of ffmpeg.exe under wine and a slow first frame.
inline constexpr std::chrono::seconds SHAPE_PROBE_BOUND{10};

// Runs `ffmpeg` on `video` until its frame's header is read (or `bound`
// passes), then ends it: the display size, or why there is none.
asio::awaitable<Result<DisplaySize>> probe_display_size(std::string ffmpeg, std::string video,
                                                        std::chrono::milliseconds bound = SHAPE_PROBE_BOUND);

// `box` fitted to the video's shape; when the shape cannot be learnt, `box`
// itself, after one line on standard error that says why. An error only
// when the playback is cancelled (a signal) meanwhile.
asio::awaitable<Result<Geometry>> fit_to_video(Geometry box, std::string ffmpeg, std::string video);

}  // namespace lumaflick
