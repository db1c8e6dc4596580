#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "allocation_counter.hpp"
#include "video/decoder.hpp"
#include "video/frame_source.hpp"
#include "scripted_decoder_setup.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// A frame that ffmpeg releases one 10 ms tick early is still on time; only a
// frame that was already waiting is late.
TEST(SkipThreshold, IsNinetyThreePercentOfAFrameLessOneDecoderTick)
{
    const std::pair<std::uint64_t, milliseconds> cases[] = {
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

// One write of the decoder: `bytes` for which the first read of them blocks
// `wait`; a read of fewer bytes leaves the rest waiting, as a pipe does.
struct Write {
    milliseconds wait;
    std::size_t bytes;
};
constexpr Write FAIL{0ms, 0};  // the read fails

// Byte i of the output is i % 251, so that a frame's bytes tell where it began.
std::uint8_t stream_byte(std::size_t i) { return static_cast<std::uint8_t>(i % 251); }

struct ScriptedOutput final : FrameReader, Clock {
    explicit ScriptedOutput(std::vector<Write> script) : writes(std::move(script)) {}

    Result<std::size_t> read(std::span<std::byte> buffer) override
    {
        if (next == writes.size()) return std::size_t{0};
        Write& w = writes[next];
        if (w.bytes == 0) return Error::system(std::make_error_code(std::errc::io_error));
        time += w.wait;
        w.wait = 0ms;
        const std::size_t n = std::min(w.bytes, buffer.size());
        for (std::size_t i = 0; i < n; ++i) buffer[i] = std::byte{stream_byte(offset + i)};
        offset += n;
        w.bytes -= n;
        if (w.bytes == 0) ++next;
        return n;
    }
    std::chrono::steady_clock::time_point now() noexcept override { return time; }

    std::vector<Write> writes;
    std::size_t next = 0;
    std::size_t offset = 0;
    std::chrono::steady_clock::time_point time{};
};

// A shown frame: where in the output it began, and its size.
struct Shown {
    std::size_t offset;
    std::size_t size;
};

struct Case {
    const char* name;
    FrameLayout layout;
    milliseconds threshold;
    std::vector<Write> writes;
    std::vector<Shown> shown;
    std::uint64_t skipped;
    bool fails = false;  // ends with the error rather than the end of output
};

// Uneven pieces of whole colour frames, as a reader that fell behind gets them.
const std::vector<Write> PIECES = {{40ms, 1}, {0ms, 4095}, {0ms, 3000}, {0ms, 104},  // one frame
                                   {40ms, 5000}, {0ms, 5000}, {0ms, 4400}};          // two frames
constexpr auto C = COLOUR_FRAME_SIZE;

const Case CASES[] = {
    {"on_time_frames_are_shown", GRAY_FRAMES, 21ms,
     {{150ms, 2400}, {30ms, 2400}, {40ms, 2400}, {21ms, 2400}},
     {{0, 2400}, {2400, 2400}, {4800, 2400}, {7200, 2400}}, 0},
    {"a_burst_that_waited_is_skipped", GRAY_FRAMES, 176ms,
     {{600ms, 2400}, {0ms, 2400}, {0ms, 2400}, {0ms, 2400}, {175ms, 2400}, {1200ms, 2400}},
     {{0, 2400}, {12000, 2400}}, 4},
    {"no_skipping_at_threshold_zero", GRAY_FRAMES, 0ms,
     {{0ms, 2400}, {0ms, 2400}, {0ms, 2400}}, {{0, 2400}, {2400, 2400}, {4800, 2400}}, 0},
    {"a_short_read_is_a_frame", GRAY_FRAMES, 21ms, {{150ms, 1000}, {40ms, 2400}}, {{0, 1000}, {1000, 2400}}, 0},
    {"one_read_is_at_most_one_frame", GRAY_FRAMES, 21ms, {{150ms, 3000}}, {{0, 2400}}, 1},
    {"gray_takes_pieces_as_they_come", GRAY_FRAMES, 21ms, PIECES,
     {{0, 1}, {7200, 2400}}, 12},
    {"nothing_at_all", GRAY_FRAMES, 21ms, {}, {}, 0},
    {"a_read_error_is_passed_up", GRAY_FRAMES, 21ms, {{40ms, 2400}, FAIL}, {{0, 2400}}, 0, true},
    {"colour_frames_are_assembled", COLOUR_FRAMES, 21ms, PIECES, {{0, C}, {C, C}}, 1},
    // A grey frame of a chosen size can be larger than a pipe keeps whole.
    {"sized_grey_frames_are_assembled", frame_layout({.width = 160, .rows = 60}, false, true), 21ms, PIECES,
     {{0, 9600}}, 2},
    {"colour_times_only_the_first_piece", COLOUR_FRAMES, 21ms,
     {{40ms, 100}, {500ms, C - 100}, {0ms, 1}, {500ms, C - 1}, {20ms, C}},
     {{0, C}}, 2},
    {"colour_ends_mid_frame", COLOUR_FRAMES, 21ms, {{40ms, C}, {40ms, 3000}}, {{0, C}, {C, 3000}}, 0},
    {"colour_drops_a_late_short_last_frame", COLOUR_FRAMES, 21ms, {{40ms, C}, {0ms, 3000}}, {{0, C}}, 1},
    {"colour_error_mid_frame", COLOUR_FRAMES, 21ms, {{40ms, C}, {40ms, 5}, FAIL}, {{0, C}}, 0, true},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Frames : public ::testing::TestWithParam<Case> {};

TEST_P(Frames, FollowTheSkipRuleAndKeepTheirBytesInPlace)
{
    const Case& c = GetParam();
    ScriptedOutput output(c.writes);
    FrameSource source(output, output, c.threshold, c.layout);
    std::uint64_t bytes = 0;
    std::size_t allocations = 0;
    for (const Shown& expected : c.shown) {
        test::start_counting_allocations();
        auto frame = source.next();
        allocations += test::stop_counting_allocations();
        ASSERT_TRUE(frame) << frame.error().debug();
        ASSERT_EQ(frame->size(), expected.size);
        for (std::size_t i = 0; i < expected.size; ++i) {
            ASSERT_EQ((*frame)[i], stream_byte(expected.offset + i)) << "byte " << i << " of " << expected.offset;
        }
        bytes += expected.size;
    }
    auto last = source.next();
    if (c.fails) {
        ASSERT_FALSE(last);
        EXPECT_TRUE(last.error().is_system());
    } else {
        ASSERT_TRUE(last) << last.error().debug();
        EXPECT_TRUE(last->empty());
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(source.counters().shown, c.shown.size());
    EXPECT_EQ(source.counters().skipped, c.skipped);
    EXPECT_EQ(source.counters().bytes, bytes);
}

INSTANTIATE_TEST_SUITE_P(Scripted, Frames, ::testing::ValuesIn(CASES),
                         [](const auto& p) { return std::string(p.param.name); });

// The production reader and clock on a real pipe: end of output while the
// decoder lives on, and colour frames larger than a pipe write keeps whole.
// A threshold of 0 never skips, so the machine's timing does not matter.
TEST(FrameSource, ReadsTheDecoderPipe)
{
    const std::pair<const char*, std::vector<std::size_t>> cases[] = {
        {"close\nhang 5000\n", {}},
        {"frame 7200 1\nframe 7200 2\nframe 100 3\n", {C, C, 100}},
    };
    for (const auto& [plan, sizes] : cases) {
        test::ScriptedDecoderSetup setup(plan);
        auto decoder = start_decoder(test::ScriptedDecoderSetup::program(), {});
        ASSERT_TRUE(decoder) << decoder.error().debug();
        PipeFrameReader reader(decoder->output);
        SteadyClock clock;
        FrameSource source(reader, clock, 0ms, COLOUR_FRAMES);
        for (std::size_t i = 0; i <= sizes.size(); ++i) {
            auto frame = source.next();
            ASSERT_TRUE(frame) << frame.error().debug();
            ASSERT_EQ(frame->size(), i < sizes.size() ? sizes[i] : 0) << plan;
            EXPECT_EQ(std::count(frame->begin(), frame->end(), i + 1), std::ssize(*frame)) << plan;
        }
        EXPECT_TRUE(decoder->child.terminate());
    }
}

}  // namespace
}  // namespace lumaflick
