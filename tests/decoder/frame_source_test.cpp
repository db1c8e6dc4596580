#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "allocation_counter.hpp"
#include "video/decoder.hpp"
#include "video/frame_source.hpp"
#include "scripted_decoder_setup.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using test::ScriptedDecoderSetup;
using Frame = std::array<std::uint8_t, FRAME_SIZE>;

// A frame that ffmpeg releases one 10 ms tick early is still on time; only a
// frame that was already waiting is late.
TEST(SkipThreshold, IsNinetyThreePercentOfAFrameLessOneDecoderTick)
{
    const std::pair<std::uint64_t, std::chrono::milliseconds> cases[] = {
        {1, 920ms}, {24, 28ms}, {30, 21ms}, {60, 5ms}, {93, 0ms}, {100, 0ms}, {931, 0ms},
        {18446744073709551615u, 0ms},
        {0, 920ms},  // refused earlier; must not divide by zero here
    };
    for (const auto& [rate, expected] : cases) EXPECT_EQ(skip_threshold(rate), expected) << "rate " << rate;
}

TEST(StatisticsLine, ReportsKilobytesSkippedAndPercent)
{
    const std::pair<FrameCounters, const char*> cases[] = {
        {{0, 0, 0}, "Read bytes: 0kB, Skipped 0 frames (0%)"},
        {{1023, 1, 0}, "Read bytes: 0kB, Skipped 0 frames (0%)"},
        {{1024, 1, 0}, "Read bytes: 1kB, Skipped 0 frames (0%)"},
        {{72000, 30, 0}, "Read bytes: 70kB, Skipped 0 frames (0%)"},
        {{4800, 2, 1}, "Read bytes: 4kB, Skipped 1 frames (33%)"},
        {{2400, 1, 2}, "Read bytes: 2kB, Skipped 2 frames (66%)"},
        {{24000, 10, 5}, "Read bytes: 23kB, Skipped 5 frames (33%)"},
        {{0, 0, 7}, "Read bytes: 0kB, Skipped 7 frames (100%)"},
    };
    for (const auto& [counters, expected] : cases) EXPECT_EQ(statistics_line(counters), expected);
}

// A scripted decoder running `plan`, read by a frame source at `rate`.
struct Scene {
    explicit Scene(std::string_view plan, std::uint64_t rate = 30) : setup(plan)
    {
        auto started = start_decoder(ScriptedDecoderSetup::program(), {});
        if (!started) {
            ADD_FAILURE() << started.error().debug();
            return;
        }
        process = std::move(*started);
        source.emplace(process.output, skip_threshold(rate));
    }
    ~Scene() { (void)process.child.terminate(); }

    // The next shown frame's size, 0 at end of output; fails the test on an error.
    std::size_t next()
    {
        auto result = source->next(frame);
        if (!result) {
            ADD_FAILURE() << result.error().debug();
            return 0;
        }
        return result->value_or(0);
    }
    [[nodiscard]] bool filled_with(std::size_t n, std::uint8_t value) const
    {
        return std::all_of(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n),
                           [&](std::uint8_t b) { return b == value; });
    }

    ScriptedDecoderSetup setup;
    StartedProcess process;
    std::optional<FrameSource> source;
    Frame frame{};
};

TEST(FrameSource, ShowsFramesThatArriveAfterAPause)
{
    Scene scene("sleep 150\nframe 2400 1\nsleep 150\nframe 2400 2\nsleep 150\nframe 2400 3\n");
    ASSERT_TRUE(scene.source);
    for (std::uint8_t value = 1; value <= 3; ++value) {
        ASSERT_EQ(scene.next(), FRAME_SIZE);
        EXPECT_TRUE(scene.filled_with(FRAME_SIZE, value));
    }
    EXPECT_EQ(scene.next(), 0u);
    const auto& c = scene.source->counters();
    EXPECT_EQ(c.shown, 3u);
    EXPECT_EQ(c.skipped, 0u);
    EXPECT_EQ(c.bytes, 3 * FRAME_SIZE);
}

// Rate 5 (a 176 ms threshold) where frames must be skipped, so that a loaded
// machine cannot stretch a read of waiting data past the threshold.
TEST(FrameSource, SkipsABurstThatWaitedInThePipe)
{
    Scene scene("sleep 600\nframe 2400 1\nframes 4 2400 2\nsleep 1200\nframe 2400 3\n", 5);
    ASSERT_TRUE(scene.source);
    ASSERT_EQ(scene.next(), FRAME_SIZE);
    EXPECT_TRUE(scene.filled_with(FRAME_SIZE, 1));
    // A slow render: the burst piles up meanwhile.
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(scene.next(), FRAME_SIZE);
    EXPECT_TRUE(scene.filled_with(FRAME_SIZE, 3));
    EXPECT_EQ(scene.next(), 0u);
    const auto& c = scene.source->counters();
    EXPECT_EQ(c.shown, 2u);
    EXPECT_EQ(c.skipped, 4u);
    EXPECT_EQ(c.bytes, 2 * FRAME_SIZE);
    EXPECT_EQ(statistics_line(c), "Read bytes: 4kB, Skipped 4 frames (66%)");
}

// ffmpeg's -re hands out 30 fps frames 30 or 40 ms apart on its 10 ms tick; a
// reader that keeps up must show the 30 ms ones too. One or two may still be
// dropped when the loaded machine delays a read.
TEST(FrameSource, ShowsFramesThatComeATickEarly)
{
    Scene scene("sleep 150\n" + [] {
        std::string plan;
        for (int i = 0; i < 12; ++i) plan += "frame 2400 " + std::to_string(i) + "\nsleep 30\n";
        return plan;
    }());
    ASSERT_TRUE(scene.source);
    while (scene.next() != 0) {
    }
    const auto& c = scene.source->counters();
    EXPECT_EQ(c.shown + c.skipped, 12u);
    EXPECT_LE(c.skipped, 2u);
}

TEST(FrameSource, NeverSkipsAtRatesAbove930)
{
    Scene scene("frames 5 2400 9\n", 931);
    ASSERT_TRUE(scene.source);
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(scene.next(), FRAME_SIZE);
    EXPECT_EQ(scene.next(), 0u);
    EXPECT_EQ(scene.source->counters().shown, 5u);
    EXPECT_EQ(scene.source->counters().skipped, 0u);
}

TEST(FrameSource, AShortReadIsOneFrameOfThatSize)
{
    Scene scene("sleep 150\nframe 1000 5\n");
    ASSERT_TRUE(scene.source);
    scene.frame.fill(0xEE);
    ASSERT_EQ(scene.next(), 1000u);
    EXPECT_TRUE(scene.filled_with(1000, 5));
    EXPECT_TRUE(std::all_of(scene.frame.begin() + 1000, scene.frame.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(scene.next(), 0u);
    EXPECT_EQ(scene.source->counters().bytes, 1000u);
    EXPECT_EQ(scene.source->counters().shown, 1u);
}

TEST(FrameSource, ReadsAtMostOneFrameAtATime)
{
    // 3000 bytes in one write: 2400 shown, the 600 left over were waiting and are skipped.
    Scene scene("sleep 600\nframe 3000 7\n", 5);
    ASSERT_TRUE(scene.source);
    ASSERT_EQ(scene.next(), FRAME_SIZE);
    EXPECT_EQ(scene.next(), 0u);
    const auto& c = scene.source->counters();
    EXPECT_EQ(c.shown, 1u);
    EXPECT_EQ(c.skipped, 1u);
    EXPECT_EQ(c.bytes, FRAME_SIZE);
}

TEST(FrameSource, EndsWhenTheDecoderWritesNothing)
{
    const char* plans[] = {
        "",                      // exits at once
        "exit 1\n",              // fails at once
        "close\nhang 5000\n",    // closes its output but lives on
        "sleep 150\nclose\n",    // closes after a while
    };
    for (const char* plan : plans) {
        Scene scene(plan);
        ASSERT_TRUE(scene.source);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(scene.next(), 0u) << plan;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << plan;
        EXPECT_EQ(statistics_line(scene.source->counters()), "Read bytes: 0kB, Skipped 0 frames (0%)") << plan;
        EXPECT_TRUE(scene.process.child.terminate()) << plan;
    }
}

TEST(FrameSource, PassesAReadErrorUp)
{
    PipeReader closed;
    FrameSource source(closed, 31ms);
    Frame frame{};
    auto result = source.next(frame);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_system());
    EXPECT_EQ(source.counters().shown + source.counters().skipped, 0u);
}

TEST(FrameSource, AllocatesNothingPerRead)
{
    Scene scene("sleep 600\nframe 2400 1\nframes 3 2400 2\nsleep 1200\nframe 2400 3\n", 5);
    ASSERT_TRUE(scene.source);
    ASSERT_EQ(scene.next(), FRAME_SIZE);
    std::this_thread::sleep_for(300ms);
    test::start_counting_allocations();
    const std::size_t shown = scene.next();
    const std::size_t end = scene.next();
    EXPECT_EQ(test::stop_counting_allocations(), 0u);
    EXPECT_EQ(shown, FRAME_SIZE);
    EXPECT_EQ(end, 0u);
    EXPECT_EQ(scene.source->counters().skipped, 3u);
}

}  // namespace
}  // namespace lumaflick
