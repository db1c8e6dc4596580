#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.hpp"
#include "geometry.hpp"
#include "video/process.hpp"

namespace lumaflick {

// ffmpeg's names of the two pixel formats we read: one gray byte a pixel, or
// red, green and blue bytes.
enum class PixelFormat { gray, rgb24 };

// "scale=80:30,fps=<rate>,format=gray" (or format=rgb24): the geometry's frame.
std::string make_filter_string(std::uint64_t rate, PixelFormat format = PixelFormat::gray,
                               const Geometry& geometry = DEFAULT_GEOMETRY);

// How much the children say on the console. `errors` puts
// -hide_banner -loglevel error -nostats before their other arguments.
enum class Chatter { usual, errors };

// -re [-ss S] -i V [-t T] -vf F -f rawvideo -
std::vector<std::string> ffmpeg_arguments(const std::string& video, const std::optional<std::string>& s,
                                          const std::optional<std::string>& t, const std::string& filter,
                                          Chatter chatter = Chatter::usual);

// [-ss S] -i V [-t T] -vn -showmode 0, and with `exact`, -af atrim=start=S:
// ffplay alone starts at the video's key frame before S, seconds early.
std::vector<std::string> ffplay_arguments(const std::string& video, const std::optional<std::string>& s,
                                          const std::optional<std::string>& t, bool exact = false,
                                          Chatter chatter = Chatter::usual);

// ffmpeg: stdin null, stdout a pipe (returned in `output`), stderr inherited.
Result<StartedProcess> start_decoder(const std::string& ffmpeg, const std::vector<std::string>& arguments);

// ffplay: standard input and output on the null device; standard error on the
// null device too, or with `keep_last_line` read into a bounded buffer whose
// last line ChildProcess::last_error_line() gives (why it failed, say).
Result<ChildProcess> start_sound(const std::string& ffplay, const std::vector<std::string>& arguments,
                                 bool keep_last_line = false);

}  // namespace lumaflick
