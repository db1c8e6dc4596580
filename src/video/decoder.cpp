#include "video/decoder.hpp"

namespace lumaflick {

namespace {

std::vector<std::string> leading(Chatter chatter)
{
    if (chatter == Chatter::usual) return {};
    return {"-hide_banner", "-loglevel", "error", "-nostats"};
}

}  // namespace

std::string make_filter_string(std::uint64_t rate, PixelFormat format, const Geometry& geometry)
{
    return "scale=" + std::to_string(geometry.width) + ":" + std::to_string(geometry.rows) +
           ",fps=" + std::to_string(rate) + (format == PixelFormat::rgb24 ? ",format=rgb24" : ",format=gray");
}

std::vector<std::string> ffmpeg_arguments(const std::string& video, const std::optional<std::string>& s,
                                          const std::optional<std::string>& t, const std::string& filter,
                                          Chatter chatter)
{
    std::vector<std::string> arguments = leading(chatter);
    arguments.emplace_back("-re");
    // Before the input, -ss seeks it; after the input, -t limits the output.
    if (s) arguments.insert(arguments.end(), {"-ss", *s});
    arguments.insert(arguments.end(), {"-i", video});
    if (t) arguments.insert(arguments.end(), {"-t", *t});
    arguments.insert(arguments.end(), {"-vf", filter, "-f", "rawvideo", "-"});
    return arguments;
}

std::vector<std::string> ffplay_arguments(const std::string& video, const std::optional<std::string>& s,
                                          const std::optional<std::string>& t, bool exact, Chatter chatter)
{
    std::vector<std::string> arguments = leading(chatter);
    if (s) arguments.insert(arguments.end(), {"-ss", *s});
    arguments.insert(arguments.end(), {"-i", video});
    if (t) arguments.insert(arguments.end(), {"-t", *t});
    arguments.insert(arguments.end(), {"-vn", "-showmode", "0"});
    if (exact && s) arguments.insert(arguments.end(), {"-af", "atrim=start=" + *s});
    return arguments;
}

Result<StartedProcess> start_decoder(const std::string& ffmpeg, const std::vector<std::string>& arguments)
{
    return start_process(ffmpeg, arguments, {.in = Stdio::null, .out = Stdio::pipe, .err = Stdio::inherit});
}

Result<ChildProcess> start_sound(const std::string& ffplay, const std::vector<std::string>& arguments,
                                 bool keep_last_line)
{
    auto started = start_process(ffplay, arguments,
                                 {.in = Stdio::null, .out = Stdio::null,
                                  .err = keep_last_line ? Stdio::last_line : Stdio::null});
    if (!started) return std::move(started).error();
    return std::move(started->child);
}

}  // namespace lumaflick
