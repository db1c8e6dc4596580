#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumaflick {

// A position or a length in a video, as ffmpeg counts them.
using MediaTime = std::chrono::microseconds;

// ffmpeg's duration syntax: [-][HH:]MM:SS[.m...] or [-]S+[.m...][s|ms|us].
// nullopt for anything ffmpeg would refuse too.
std::optional<MediaTime> parse_media_time(std::string_view text);

// Seconds with six decimals ("90.500000"), which ffmpeg reads back exactly.
std::string ffmpeg_time(MediaTime time);

// For people: "1:30.5", "0:07", "1:02:03".
std::string readable_time(MediaTime time);

}  // namespace lumaflick
