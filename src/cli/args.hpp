#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cli/convert.hpp"
#include "geometry.hpp"

namespace lumaflick {

struct Args {
    SocketAddressV4 insim_address;
    std::string password;
    std::uint64_t rate = 0;
    std::string ffmpeg_path;
    std::optional<std::string> ffplay_path;
    std::string video_path;
    std::optional<std::string> s;
    std::optional<std::string> t;
    std::vector<std::string> subpixels;
    std::optional<std::uint64_t> delay;
    bool colour = false;
    bool compact = false;
    bool guests = false;
    std::optional<std::int64_t> av_offset;
    // The picture's size and placement, checked against LFS's limits.
    Geometry geometry;
    // --resolution was given: frames of any size, always read whole.
    bool resolution = false;
    // The picture is fitted to the video's shape within the geometry.
    bool keep_aspect = false;
    // Bytes of buttons a second, at least one button's.
    std::optional<std::uint64_t> bandwidth;
    // ffmpeg and ffplay report errors only; a status line on a terminal.
    bool quiet = false;
    // Cues from a file, or from a track of the video (0 is the first).
    std::optional<std::string> subtitles;
    std::optional<std::uint64_t> subtitle_track;
    friend bool operator==(const Args&, const Args&) = default;
};

// Help, version or a usage error: what to print, where, and the exit status.
struct ParseExit {
    int status = 0;        // 0 for help and version, 2 for usage errors
    std::string out;       // for standard output
    std::string err;       // for standard error
};

// Parses the process's words (the first is the program path).
std::variant<Args, ParseExit> parse_args(std::span<const std::string> words);

}  // namespace lumaflick
