#include "playback.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "cli/args.hpp"
#include "picture/button_grid.hpp"
#include "video/decoder.hpp"
#include "frame.hpp"
#include "video/frame_source.hpp"
#include "insim/connection.hpp"
#include "insim/packets.hpp"
#include "picture/render.hpp"

namespace lumaflick {

namespace {

using namespace std::chrono_literals;

// Flushed at once: the user watches the console for "Runnin'".
void print_line(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

asio::awaitable<void> sleep_for(std::chrono::milliseconds duration)
{
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    std::error_code ignored;  // nothing cancels it
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
}

// A --delay of any 64-bit size must not overflow the clock's arithmetic;
// thirty years is as good as forever.
std::chrono::milliseconds start_delay(std::uint64_t milliseconds)
{
    constexpr std::uint64_t longest = 1'000'000'000'000;
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(milliseconds, longest)));
}

}  // namespace

asio::awaitable<Status> run_playback(Args args, std::chrono::milliseconds keepalive_interval)
{
    const GlyphStrings glyphs{args.subpixels[0], args.subpixels[1], args.subpixels[2], args.subpixels[3]};

    constexpr std::array<std::uint8_t, 4> localhost{127, 0, 0, 1};
    std::vector<std::uint16_t> flags;
    if (args.insim_address.address == localhost) flags.push_back(insim::ISF_LOCAL);
    auto init = insim::make_init_packet(flags, args.password, insim::display_name("Lumaflick"));
    if (!init) co_return std::move(init).error();

    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4(args.insim_address.address),
                                           args.insim_address.port);
    auto connection = co_await insim::InSimConnection::connect(endpoint, *init);
    if (!connection) co_return std::move(connection).error();

    if (args.delay) {
        print_line("Prepare yourself, we're startin' in!");
        // A delay longer than the keep-alive interval must not let LFS drop us.
        auto remaining = start_delay(*args.delay);
        while (remaining > keepalive_interval) {
            co_await sleep_for(keepalive_interval);
            if (auto sent = co_await connection->send(insim::IS_TINY{}); !sent) co_return std::move(sent).error();
            remaining -= keepalive_interval;
        }
        co_await sleep_for(remaining);
    }

    const std::string filter = make_filter_string(args.rate);
    auto decoder = start_decoder(args.ffmpeg_path, ffmpeg_arguments(args.video_path, args.s, args.t, filter));
    if (!decoder) co_return std::move(decoder).error();
    ChildProcess ffmpeg = std::move(decoder->child);
    PipeReader output = std::move(decoder->output);

    std::optional<ChildProcess> ffplay;
    if (args.ffplay_path) {
        auto sound = start_sound(*args.ffplay_path, ffplay_arguments(args.video_path, args.s, args.t));
        if (!sound) co_return std::move(sound).error();
        ffplay = std::move(*sound);
    }

    // Room for a whole frame, so that rendering never grows the texts.
    const std::size_t capacity = max_frame_text_size(glyphs);
    std::string current;
    current.reserve(capacity);
    std::string previous;
    previous.reserve(capacity);
    previous.assign(FRAME_HEIGHT, '\n');

    print_line("Runnin'");

    std::array<std::uint8_t, FRAME_SIZE> frame{};
    insim::IS_BTN button = make_button_template();
    FrameSource source(output, skip_threshold(args.rate));
    std::vector<insim::IS_BTN> packets;
    packets.reserve(FRAME_HEIGHT);
    auto last_write = std::chrono::steady_clock::now();

    for (;;) {
        packets.clear();
        auto next = source.next(frame);
        if (!next) co_return std::move(next).error();
        if (!*next) break;
        const std::size_t bytes = **next;

        button.ClickID = 0;
        button.T = 0;
        current.clear();
        render_frame_text(std::span<const std::uint8_t>(frame).first(bytes), glyphs, current);
        collect_changed_buttons(current, previous, button, packets);

        if (!packets.empty()) {
            if (auto sent = co_await connection->send_buttons(packets); !sent) co_return std::move(sent).error();
            last_write = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last_write >= keepalive_interval) {
            // A still picture sends nothing, and LFS would drop a silent connection.
            if (auto sent = co_await connection->send(insim::IS_TINY{}); !sent) co_return std::move(sent).error();
            last_write = std::chrono::steady_clock::now();
        }
        // The shown text becomes the previous one; swapping keeps both buffers.
        std::swap(current, previous);
    }

    const std::string line = statistics_line(source.counters());
    auto message = insim::make_message_packet(line);
    if (!message) co_return std::move(message).error();
    if (auto sent = co_await connection->send(*message); !sent) co_return std::move(sent).error();
    co_await sleep_for(500ms);
    print_line(line);

    output.close();
    if (auto stopped = ffmpeg.terminate(); !stopped) co_return std::move(stopped).error();
    if (ffplay) {
        if (auto stopped = ffplay->terminate(); !stopped) co_return std::move(stopped).error();
    }
    co_return ok();
}

}  // namespace lumaflick
