#include "subtitles/load.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <asio/cancellation_state.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "video/pipe_stream.hpp"
#include "video/process.hpp"

namespace lumaflick {

namespace {

// What ffmpeg says beyond this is not kept; it is still read, so that it never blocks on a full pipe.
constexpr std::size_t MOST_ERROR_BYTES = 64 * 1024;
// After both pipes ended, how long ffmpeg may take to exit before it is ended.
constexpr std::chrono::seconds EXIT_GRACE{2};

std::string in_quotes(std::string_view text) { return '\'' + std::string(text) + '\''; }

std::filesystem::path utf8_path(const std::string& path)
{
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

Result<std::string> read_file(const std::string& path, std::string_view what)
{
    std::ifstream file(utf8_path(path), std::ios::binary);
    if (!file) {
        return Error::message("cannot read " + std::string(what) + ": " + std::generic_category().message(errno));
    }
    std::string bytes;
    std::array<char, 65536> chunk;
    while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
        bytes.append(chunk.data(), static_cast<std::size_t>(file.gcount()));
        if (bytes.size() > MOST_CUE_BYTES) return Error::message("more than 10 MB in " + std::string(what));
    }
    if (file.bad()) return Error::message("cannot read " + std::string(what));
    return bytes;
}

Status read_file_start(const std::string& path, std::string_view what)
{
    std::ifstream file(utf8_path(path), std::ios::binary);
    char byte = 0;
    if (!file || (!file.read(&byte, 1) && file.bad())) {
        return Error::message("cannot read " + std::string(what) + ": " + std::generic_category().message(errno));
    }
    return ok();
}

// One pipe read to its end on the runtime, each read waking `wake`.
struct Drain {
    Drain(PipeStream pipe, std::size_t most_kept, bool past_most)
        : stream(std::move(pipe)), most(most_kept), keep_reading_past_most(past_most)
    {
    }

    PipeStream stream;
    std::size_t most;
    bool keep_reading_past_most;
    std::string bytes;
    bool reading = false;
    bool ended = false;
    bool over = false;
    std::optional<Error> error;
    // Off the coroutine frame, which is then small enough for Asio's recycled frames.
    std::vector<std::byte> buffer = std::vector<std::byte>(16384);

    void read(asio::steady_timer& wake)
    {
        reading = true;
        stream.async_read(buffer, [this, &wake](Result<std::size_t> got) {
            reading = false;
            if (!got) {
                error = got.error();
                ended = true;
            } else if (*got == 0) {
                ended = true;
            } else {
                const std::size_t room = bytes.size() < most ? most - bytes.size() : 0;
                bytes.append(reinterpret_cast<const char*>(buffer.data()), std::min(room, *got));
                over = over || *got > room;
                if (over && !keep_reading_past_most) {
                    ended = true;
                } else {
                    read(wake);
                }
            }
            wake.cancel();
        });
    }
};

bool cancelled(const asio::cancellation_state& state)
{
    return state.cancelled() != asio::cancellation_type::none;
}

}  // namespace

bool reads_directly(std::string_view path) noexcept
{
    if (path.size() < 4) return false;
    const std::string_view end = path.substr(path.size() - 4);
    return end[0] == '.' && (end[1] | 0x20) == 's' && (end[2] | 0x20) == 'r' && (end[3] | 0x20) == 't';
}

std::vector<std::string> subtitle_arguments(const std::string& input, std::uint64_t track)
{
    return {"-nostdin", "-v", "error", "-i", input, "-map", "0:s:" + std::to_string(track), "-f", "srt", "-"};
}

std::string ffmpeg_refusal(std::string_view what, std::string_view input, std::optional<std::uint64_t> track,
                           std::string_view errors)
{
    if (errors.find("matches no streams") != std::string_view::npos) {
        if (track) return in_quotes(input) + " has no subtitle track " + std::to_string(*track);
        return in_quotes(input) + " holds no subtitles";
    }
    if (errors.find("only possible from text to text or bitmap to bitmap") != std::string_view::npos) {
        return "subtitle track " + std::to_string(track.value_or(0)) + " of " + in_quotes(input) +
               " holds pictures, not text";
    }
    std::string_view first = errors.substr(0, std::min(errors.find_first_of("\r\n"), errors.size()));
    if (first.empty()) return "ffmpeg could not read " + std::string(what);
    return "ffmpeg could not read " + std::string(what) + ": " + std::string(first);
}

// GCC 12 for Windows inlines Asio's frame allocation into this coroutine and
// then takes its matching delete for a mismatched one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
asio::awaitable<Result<Cues>> load_cues(asio::any_io_executor executor, CueSource source)
{
    co_await asio::this_coro::throw_if_cancelled(false);
    if (!source.file && !source.track) co_return Cues{};
    if (source.file && reads_directly(*source.file)) {
        const std::string what = "the subtitles " + in_quotes(*source.file);
        auto bytes = read_file(*source.file, what);
        if (!bytes) co_return std::move(bytes).error();
        co_return parse_srt(*bytes, what);
    }
    // A file we cannot open is said as such, not in ffmpeg's words; a URL is ffmpeg's to open.
    if (source.file && source.file->find("://") == std::string::npos) {
        if (auto bytes = read_file_start(*source.file, "the subtitles " + in_quotes(*source.file)); !bytes) {
            co_return std::move(bytes).error();
        }
    }

    const std::string& input = source.file ? *source.file : source.video;
    const std::uint64_t track = source.track.value_or(0);
    const std::string what = source.file ? "the subtitles " + in_quotes(input)
                                         : "subtitle track " + std::to_string(track) + " of " + in_quotes(input);
    const std::vector<std::string> arguments = subtitle_arguments(input, track);
    auto started = start_process(source.ffmpeg, arguments, {Stdio::null, Stdio::pipe, Stdio::pipe});
    if (!started) {
        co_return Error::message("cannot start " + in_quotes(source.ffmpeg) + " to read " + what + ": " +
                                 started.error().text());
    }
    ChildProcess child = std::move(started->child);
    auto output = PipeStream::open(executor, std::move(started->output));
    if (!output) co_return std::move(output).error();
    auto errors = PipeStream::open(executor, std::move(started->errors));
    if (!errors) co_return std::move(errors).error();

    asio::steady_timer wake(executor);
    std::error_code woken;  // cancelled by a read, or by the caller
    Drain out{std::move(*output), MOST_CUE_BYTES, false};
    Drain err{std::move(*errors), MOST_ERROR_BYTES, true};
    out.read(wake);
    err.read(wake);
    const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    bool stopped = false;
    // The handlers refer to both drains: nothing returns while a read is pending.
    while (out.reading || err.reading) {
        if (!stopped && (cancelled(state) || out.over)) {
            stopped = true;
            out.stream.close();
            err.stream.close();
            (void)child.terminate();
            continue;
        }
        wake.expires_at(asio::steady_timer::time_point::max());
        co_await wake.async_wait(asio::redirect_error(asio::use_awaitable, woken));
    }
    if (cancelled(state)) co_return Error::message("reading " + what + " was interrupted");
    if (out.over) co_return Error::message("more than 10 MB in " + what);

    std::optional<ExitStatus> status;
    const auto give_up = std::chrono::steady_clock::now() + EXIT_GRACE;
    while (!status && !cancelled(state) && std::chrono::steady_clock::now() < give_up) {
        auto polled = child.poll_exit();
        if (!polled) co_return std::move(polled).error();
        status = *polled;
        if (status) break;
        wake.expires_after(std::chrono::milliseconds(10));
        co_await wake.async_wait(asio::redirect_error(asio::use_awaitable, woken));
    }
    if (!status) {
        (void)child.terminate();
        if (cancelled(state)) co_return Error::message("reading " + what + " was interrupted");
        co_return Error::message("ffmpeg did not end after reading " + what);
    }
    if (!status->success()) {
        co_return Error::message(ffmpeg_refusal(what, input, source.file ? std::nullopt : source.track, err.bytes));
    }
    if (out.error) co_return Error::message("cannot read " + what + " from ffmpeg: " + out.error->text());
    co_return parse_srt(out.bytes, what);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace lumaflick
