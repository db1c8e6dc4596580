#include "playback.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "cli/args.hpp"
#include "video/decoder.hpp"
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

// The picture as the options ask for it.
FrameUpdate make_frame_update(const Args& args)
{
    const Packing packing = args.compact ? Packing::shortest : Packing::full;
    if (args.colour) return FrameUpdate::colour(packing);
    return FrameUpdate::grey({args.subpixels[0], args.subpixels[1], args.subpixels[2], args.subpixels[3]}, packing);
}

}  // namespace

asio::awaitable<Status> run_playback(Args args, std::chrono::milliseconds keepalive_interval)
{
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

    const std::string filter = make_filter_string(args.rate, args.colour ? PixelFormat::rgb24 : PixelFormat::gray);
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

    FrameUpdate update = make_frame_update(args);
    PipeFrameReader reader(output);
    SteadyClock clock;
    FrameSource source(reader, clock, skip_threshold(args.rate), args.colour ? COLOUR_FRAMES : GRAY_FRAMES);

    for (;;) {
        auto frame = source.next();
        if (!frame) co_return std::move(frame).error();
        if (frame->empty()) break;

        const auto block = update.show(*frame);
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
