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
#include "video/decoder.hpp"
#include "frame.hpp"
#include "video/frame_source.hpp"
#include "insim/connection.hpp"
#include "insim/packets.hpp"
#include "picture/frame_update.hpp"

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

[[noreturn]] void finish_parse(const ParseExit& exit)
{
    std::fputs(exit.out.c_str(), stdout);
    std::fflush(stdout);
    std::fputs(exit.err.c_str(), stderr);
    std::fflush(stderr);
    std::exit(exit.status);
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

asio::awaitable<Status> run_playback(std::vector<std::string> words, std::chrono::milliseconds keepalive_interval)
{
    auto parsed = parse_args(words);
    if (const auto* exit = std::get_if<ParseExit>(&parsed)) finish_parse(*exit);
    const Args args = std::move(std::get<Args>(parsed));

    constexpr std::array<std::uint8_t, 4> localhost{127, 0, 0, 1};
    std::vector<std::uint16_t> flags;
    if (args.insim_address.address == localhost) flags.push_back(insim::ISF_LOCAL);
    auto init = insim::make_init_packet(flags, args.password, insim::display_name("Lumaflick"));
    if (!init) co_return std::move(init).error();

    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4(args.insim_address.address),
                                           args.insim_address.port);
    auto connection = co_await insim::InSimConnection::connect(endpoint, *init);
    if (!connection) co_return std::move(connection).error();
    // LFS counts its 70 seconds from the last packet it received.
    auto last_write = std::chrono::steady_clock::now();

    if (args.delay) {
        print_line("Prepare yourself, we're startin' in!");
        // A delay longer than the keep-alive interval must not let LFS drop us.
        auto remaining = start_delay(*args.delay);
        while (remaining > keepalive_interval) {
            co_await sleep_for(keepalive_interval);
            if (auto sent = co_await connection->send(insim::IS_TINY{}); !sent) co_return std::move(sent).error();
            last_write = std::chrono::steady_clock::now();
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

    print_line("Runnin'");

    const GlyphStrings glyphs{args.subpixels[0], args.subpixels[1], args.subpixels[2], args.subpixels[3]};
    FrameUpdate update = FrameUpdate::grey(glyphs, Packing::full);
    std::array<std::uint8_t, FRAME_SIZE> frame{};
    FrameSource source(output, skip_threshold(args.rate));

    for (;;) {
        auto next = source.next(frame);
        if (!next) co_return std::move(next).error();
        if (!*next) break;

        const auto block = update.show(std::span<const std::uint8_t>(frame).first(**next));
        if (!block.empty()) {
            if (auto sent = co_await connection->send_bytes(block); !sent) co_return std::move(sent).error();
            last_write = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last_write >= keepalive_interval) {
            // A still picture sends nothing, and LFS would drop a silent connection.
            if (auto sent = co_await connection->send(insim::IS_TINY{}); !sent) co_return std::move(sent).error();
            last_write = std::chrono::steady_clock::now();
        }
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
