#include "video/shape_probe.hpp"

#include <array>
#include <cstdio>
#include <memory>
#include <utility>

#include <asio/cancellation_state.hpp>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "video/pipe_stream.hpp"
#include "video/process.hpp"

namespace lumaflick {

namespace {

// Between polls for the exit status of an ffmpeg that wrote nothing.
constexpr std::chrono::milliseconds EXIT_POLL{10};

// "10" or "0.3": a bound for a person.
std::string seconds(std::chrono::milliseconds bound)
{
    std::string text = std::to_string(bound.count() / 1000);
    if (const auto tenths = bound.count() % 1000 / 100; tenths != 0) text += "." + std::to_string(tenths);
    return text;
}

bool is_space(std::uint8_t c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// What the read on the runtime and the probe share: the read's handler may
// run after the probe has returned (it was cancelled), so it owns nothing
// the probe keeps.
struct ProbeState {
    explicit ProbeState(const asio::any_io_executor& executor) : wake(executor) {}
    asio::steady_timer wake;
    std::array<std::uint8_t, PPM_HEAD_LIMIT> head{};
    std::size_t filled = 0;
    bool reading = false;
    std::optional<Result<std::size_t>> read;
};

}  // namespace

std::vector<std::string> shape_probe_arguments(const std::string& video)
{
    return {"-nostdin", "-v", "error", "-i", video, "-frames:v", "1", "-vf", "scale=iw*sar:ih",
            "-f", "image2pipe", "-c:v", "ppm", "-"};
}

std::optional<Result<DisplaySize>> read_ppm_size(std::span<const std::uint8_t> bytes)
{
    const auto not_ppm = [] { return Result<DisplaySize>(Error::message("ffmpeg's frame is not a PPM image")); };
    if (bytes.size() >= 1 && bytes[0] != 'P') return not_ppm();
    if (bytes.size() < 2) return std::nullopt;
    if (bytes[1] != '6' && bytes[1] != '5') return not_ppm();
    std::array<std::uint64_t, 2> numbers{};
    std::size_t at = 2;
    for (std::uint64_t& number : numbers) {
        // Blanks and comments, then digits ended by a blank.
        for (;;) {
            while (at < bytes.size() && is_space(bytes[at])) ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
                continue;
            }
            break;
        }
        const std::size_t first = at;
        for (; at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9'; ++at) {
            if (number > (std::uint64_t{1} << 31)) return not_ppm();
            number = number * 10 + (bytes[at] - '0');
        }
        if (at == bytes.size()) return std::nullopt;
        if (at == first || !is_space(bytes[at]) || number == 0) return not_ppm();
    }
    return Result<DisplaySize>(DisplaySize{numbers[0], numbers[1]});
}

asio::awaitable<Result<DisplaySize>> probe_display_size(std::string ffmpeg, std::string video,
                                                        std::chrono::milliseconds bound)
{
    auto started = start_process(ffmpeg, shape_probe_arguments(video),
                                 {.in = Stdio::null, .out = Stdio::pipe, .err = Stdio::null});
    if (!started) co_return std::move(started).error();
    ChildProcess& child = started->child;
    const asio::any_io_executor executor = co_await asio::this_coro::executor;
    auto stream = PipeStream::open(executor, std::move(started->output));
    if (!stream) co_return std::move(stream).error();

    const auto state = std::make_shared<ProbeState>(executor);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    // Until a wake-up from the read or `until`; fails once the probe is cancelled (a signal).
    const auto wait = [&](std::chrono::steady_clock::time_point until) -> asio::awaitable<Status> {
        state->wake.expires_at(until);
        std::error_code woken;
        co_await state->wake.async_wait(asio::redirect_error(asio::use_awaitable, woken));
        const asio::cancellation_state cancelled = co_await asio::this_coro::cancellation_state;
        if (cancelled.cancelled() != asio::cancellation_type::none) {
            co_return Error::system(make_error_code(asio::error::operation_aborted));
        }
        co_return ok();
    };

    for (;;) {
        if (!state->reading && !state->read) {
            state->reading = true;
            stream->async_read(std::as_writable_bytes(std::span(state->head).subspan(state->filled)),
                               [state](Result<std::size_t> read) {
                                   state->reading = false;
                                   state->read = std::move(read);
                                   state->wake.cancel();
                               });
        }
        if (auto waited = co_await wait(deadline); !waited) co_return std::move(waited).error();
        if (!state->read) {
            if (std::chrono::steady_clock::now() < deadline) continue;
            co_return Error::message("ffmpeg gave no frame within " + seconds(bound) + " s");
        }
        Result<std::size_t> read = std::move(*state->read);
        state->read.reset();
        if (!read) co_return std::move(read).error();
        if (*read == 0) break;
        state->filled += *read;
        if (auto size = read_ppm_size(std::span(state->head).first(state->filled))) co_return std::move(*size);
        if (state->filled == state->head.size()) co_return Error::message("ffmpeg's frame is not a PPM image");
    }

    // Nothing came: ffmpeg failed, and its status says how. It has closed its
    // output, so it is about to exit.
    stream->close();
    while (std::chrono::steady_clock::now() < deadline) {
        auto exit = child.poll_exit();
        if (!exit) co_return std::move(exit).error();
        if (*exit) co_return Error::message("ffmpeg gave no frame (" + (*exit)->describe() + ")");
        if (auto waited = co_await wait(std::chrono::steady_clock::now() + EXIT_POLL); !waited) {
            co_return std::move(waited).error();
        }
    }
    co_return Error::message("ffmpeg gave no frame");
}

asio::awaitable<Result<Geometry>> fit_to_video(Geometry box, std::string ffmpeg, std::string video)
{
    auto shape = co_await probe_display_size(std::move(ffmpeg), std::move(video));
    if (shape) co_return fit_to_shape(box, *shape);
    const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    if (state.cancelled() != asio::cancellation_type::none) co_return std::move(shape).error();
    std::fprintf(stderr, "lumaflick: the video's shape could not be learnt, so it fills the picture: %s\n",
                 shape.error().text().c_str());
    std::fflush(stderr);
    co_return box;
}

}  // namespace lumaflick
