#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "error.hpp"
#include "subtitles/cues.hpp"

namespace lumaflick {

// Where the cues come from: a file of subtitles, or a track of the video.
struct CueSource {
    std::string ffmpeg;
    std::optional<std::string> file;     // read directly when it ends in .srt, else through ffmpeg
    std::optional<std::uint64_t> track;  // of `video`, through ffmpeg; 0 is the first
    std::string video;
};

// More is refused, from a file or from ffmpeg.
inline constexpr std::size_t MOST_CUE_BYTES = 10 * 1024 * 1024;

// An .srt file is read directly; other files are not.
bool reads_directly(std::string_view path) noexcept;

// -nostdin -v error -i INPUT -map 0:s:TRACK -f srt -
std::vector<std::string> subtitle_arguments(const std::string& input, std::uint64_t track);

// Why ffmpeg gave no cues, from what it said on its standard error:
// "'FILE' has no subtitle track 3", "subtitle track 0 of 'FILE' holds
// pictures, not text", or its own first line. `track` is nullopt for a file
// of subtitles.
std::string ffmpeg_refusal(std::string_view what, std::string_view input, std::optional<std::uint64_t> track,
                           std::string_view errors);

// Every cue, read whole before playback, or the error that names the file or
// track and the reason. ffmpeg's output and error are read on the runtime;
// cancelling the coroutine ends ffmpeg and gives an error. A source with
// neither a file nor a track gives no cues. Pass a named source: GCC 12
// destroys a temporary argument of a coroutine twice.
asio::awaitable<Result<Cues>> load_cues(asio::any_io_executor executor, CueSource source);

}  // namespace lumaflick
