#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "video/decoder.hpp"
#include "video/frame_source.hpp"
#include "video/shape_probe.hpp"
#include "scripted_decoder_setup.hpp"
#include "test_env.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;

// Makes a 3-second test clip with sound; false when ffmpeg is not installed.
bool make_clip(const std::string& path)
{
    const std::vector<std::string> arguments{
        "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30",
        "-f", "lavfi", "-i", "sine=frequency=440", "-t", "3", "-c:v", "libx264", "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-shortest", "-y", path};
    // Standard output is a pipe only so that its end tells us ffmpeg is done.
    auto started = start_process("ffmpeg", arguments, {.out = Stdio::pipe, .err = Stdio::inherit});
    if (!started) return false;
    std::array<std::byte, 256> sink{};
    for (;;) {
        auto n = started->output.read(sink);
        if (!n || *n == 0) break;
    }
    return true;
}

struct ClipCase {
    std::optional<std::string> s;
    std::optional<std::string> t;
    std::uint64_t min_frames;
    std::uint64_t max_frames;
    std::chrono::milliseconds min_time;  // -re paces the output in real time
    bool colour = false;
};

TEST(RealFfmpeg, DeliversWholeFramesInRealTimeUntilTheEnd)
{
    const test::TempDir dir;
    const std::string clip = (dir.path() / "test clip.mp4").string();
    if (!make_clip(clip)) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(std::filesystem::exists(clip));

    const ClipCase cases[] = {
        {std::nullopt, std::nullopt, 85, 95, 2500ms},  // 3 s at 30 frames a second
        {"1", "1", 27, 33, 800ms},                     // seek 1 s, then 1 s of output
        {"1", "1", 27, 33, 800ms, true},               // rgb24: frames larger than a pipe write keeps whole
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const auto filter = make_filter_string(30, c.colour ? PixelFormat::rgb24 : PixelFormat::gray);
        const FrameLayout layout = c.colour ? COLOUR_FRAMES : GRAY_FRAMES;
        auto decoder = start_decoder("ffmpeg", ffmpeg_arguments(clip, c.s, c.t, filter));
        ASSERT_TRUE(decoder) << decoder.error().debug();
        PipeFrameReader reader(decoder->output);
        SteadyClock clock;
        FrameSource source(reader, clock, skip_threshold(30), layout);
        bool varied = false;
        // Bounded: ffmpeg ends on its own after the clip.
        for (int reads = 0; reads < 1000; ++reads) {
            auto frame = source.next();
            ASSERT_TRUE(frame) << frame.error().debug();
            if (frame->empty()) break;
            EXPECT_EQ(frame->size(), layout.size);
            const auto [low, high] = std::minmax_element(frame->begin(), frame->end());
            varied = varied || *high - *low > 100;
        }
        EXPECT_GE(std::chrono::steady_clock::now() - start, c.min_time);
        const auto& counters = source.counters();
        const auto frames = counters.shown + counters.skipped;
        EXPECT_GE(frames, c.min_frames);
        EXPECT_LE(frames, c.max_frames);
        EXPECT_GT(counters.shown, 0u) << statistics_line(counters);
        EXPECT_EQ(counters.bytes, counters.shown * layout.size);
        EXPECT_TRUE(varied) << "the test pattern did not come through";
        EXPECT_TRUE(decoder->child.terminate());
    }
}

Result<DisplaySize> probe(const std::string& ffmpeg, const std::string& video, std::chrono::milliseconds bound)
{
    asio::io_context context;
    std::optional<Result<DisplaySize>> outcome;
    const auto run = [&]() -> asio::awaitable<void> { outcome = co_await probe_display_size(ffmpeg, video, bound); };
    asio::co_spawn(context, run(), [](std::exception_ptr) {});
    context.run();
    return std::move(*outcome);
}

// The header read from a real ffmpeg's pipe; why a stand-in gave no shape.
TEST(RealFfmpeg, TellsTheDisplaySize)
{
    const test::TempDir dir;
    const std::string clip = (dir.path() / "clip.mp4").string();
    if (!make_clip(clip)) GTEST_SKIP() << "ffmpeg is not installed";
    const auto size = probe("ffmpeg", clip, 10s);
    ASSERT_TRUE(size) << size.error().debug();
    EXPECT_EQ(*size, (DisplaySize{320, 240}));
    for (const auto& [plan, error] : {std::pair{"exit 1\n", "ffmpeg gave no frame (exit status 1)"},
                                      std::pair{"hang 5000\n", "ffmpeg gave no frame within 0.3 s"}}) {
        test::ScriptedDecoderSetup setup(plan);
        const auto none = probe(test::ScriptedDecoderSetup::program(), clip, 300ms);
        ASSERT_FALSE(none) << plan;
        EXPECT_EQ(none.error().text(), error);
    }
}

}  // namespace
}  // namespace lumaflick
