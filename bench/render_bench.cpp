// One shown frame as the playback loop handles it: the frame update's pixels
// to send block, against the floor of copying a full block.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "frame.hpp"
#include "insim/packets.hpp"
#include "picture/frame_update.hpp"
#include "picture/screens.hpp"

namespace {

using lumaflick::FRAME_SIZE;
using lumaflick::GlyphStrings;
using Frame = std::vector<std::uint8_t>;

const GlyphStrings DEFAULT_GLYPHS{"^0_", "^3_", "^6_", "^7_"};
const GlyphStrings MIXED_GLYPHS{"^0", "^3_", "^6_", "^7__"};

Frame noise(std::uint32_t seed, std::size_t size = FRAME_SIZE)
{
    Frame bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// The same frame with two pixels of row 5 swapped: one row changes, the mean does not.
Frame with_row_5_changed(Frame frame)
{
    std::uint8_t* row = frame.data() + 5 * lumaflick::DEFAULT_GEOMETRY.width;
    std::size_t bright = 0;
    while (row[bright] < 200) {
        ++bright;
    }
    std::size_t dark = 0;
    while (row[dark] > 50) {
        ++dark;
    }
    std::swap(row[bright], row[dark]);
    return frame;
}

// Shows the frames in turn; every frame must send `expected` packets.
void show_in_turn(benchmark::State& state, lumaflick::FrameUpdate update, const std::vector<Frame>& frames,
                  std::size_t expected)
{
    // Every button of these frames carries a text of 16 bytes or more.
    const auto packets = [&](const Frame& frame) {
        const auto block = update.show(frame);
        std::size_t count = 0;
        for (std::size_t at = 0; at < block.size(); at += 4 * std::to_integer<std::size_t>(block[at])) ++count;
        return count;
    };
    for (const Frame& frame : frames) packets(frame);
    for (const Frame& frame : frames) {
        if (packets(frame) != expected) {
            state.SkipWithError("the frames do not change the expected number of rows");
            return;
        }
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(update.show(frames[next]).data());
        next = next + 1 == frames.size() ? 0 : next + 1;
    }
}

lumaflick::FrameUpdate grey(const GlyphStrings& glyphs, lumaflick::Packing packing = lumaflick::Packing::full)
{
    return lumaflick::FrameUpdate::grey(glyphs, packing);
}

void BM_FullyChangedFrame(benchmark::State& state) { show_in_turn(state, grey(DEFAULT_GLYPHS), {noise(1), noise(2)}, 30); }
void BM_OneChangedRow(benchmark::State& state)
{
    show_in_turn(state, grey(DEFAULT_GLYPHS), {noise(1), with_row_5_changed(noise(1))}, 1);
}
void BM_UnchangedFrame(benchmark::State& state) { show_in_turn(state, grey(DEFAULT_GLYPHS), {noise(1)}, 0); }
void BM_FullyChangedFrameMixedGlyphs(benchmark::State& state)
{
    show_in_turn(state, grey(MIXED_GLYPHS), {noise(1), noise(2)}, 30);
}
void BM_FullyChangedColourFrame(benchmark::State& state)
{
    show_in_turn(state, lumaflick::FrameUpdate::colour(lumaflick::Packing::full),
                 {noise(1, 3 * FRAME_SIZE), noise(2, 3 * FRAME_SIZE)}, 30);
}
// Four times the pixels (--resolution 160x60), two buttons a row: the work is
// linear in pixels, so about four times BM_FullyChangedFrame's figure.
constexpr lumaflick::Geometry QUARTER{.width = 160, .rows = 60, .row_height = 3};
void BM_FullyChangedFrame160x60(benchmark::State& state)
{
    show_in_turn(state, lumaflick::FrameUpdate::grey(DEFAULT_GLYPHS, lumaflick::Packing::full, QUARTER),
                 {noise(1, QUARTER.pixels()), noise(2, QUARTER.pixels())}, QUARTER.buttons());
}
void BM_FullyChangedColourFrame160x60(benchmark::State& state)
{
    show_in_turn(state, lumaflick::FrameUpdate::colour(lumaflick::Packing::full, QUARTER),
                 {noise(1, 3 * QUARTER.pixels()), noise(2, 3 * QUARTER.pixels())}, QUARTER.buttons());
}
// The shortest packing on top: the cost of --compact is the difference.
void BM_FullyChangedFrameShortest(benchmark::State& state)
{
    show_in_turn(state, grey(DEFAULT_GLYPHS, lumaflick::Packing::shortest), {noise(1), noise(2)}, 30);
}
void BM_FullyChangedColourFrameShortest(benchmark::State& state)
{
    show_in_turn(state, lumaflick::FrameUpdate::colour(lumaflick::Packing::shortest),
                 {noise(1, 3 * FRAME_SIZE), noise(2, 3 * FRAME_SIZE)}, 30);
}
void BM_UnchangedColourFrame(benchmark::State& state)
{
    show_in_turn(state, lumaflick::FrameUpdate::colour(lumaflick::Packing::full), {noise(1, 3 * FRAME_SIZE)}, 0);
}

// A fully changed frame under a budget, as the player sends it: take, choose
// (each row weighed against what LFS shows, the rows ordered), write, commit.
// With room for every row, the cost of choosing is the difference from
// BM_FullyChangedFrame / BM_FullyChangedColourFrameShortest; with a quarter
// of a picture's bytes, fewer rows are written.
void under_budget(benchmark::State& state, lumaflick::FrameUpdate update, std::size_t pixel_size, std::size_t expected)
{
    using namespace std::chrono_literals;
    const std::vector<Frame> frames{noise(1, pixel_size * FRAME_SIZE), noise(2, pixel_size * FRAME_SIZE)};
    const lumaflick::RowOrderRule rule{33ms, 500ms};
    const auto allowance = static_cast<std::int64_t>(state.range(0));
    std::chrono::steady_clock::time_point now{};
    std::size_t next = 0;
    for (auto _ : state) {
        update.take(frames[next], now);
        const auto block = update.rows(allowance, now, rule);
        benchmark::DoNotOptimize(block.data());
        if (block.size() < expected) state.SkipWithError("fewer rows than the budget allows");
        update.written();
        now += 33ms;
        next = 1 - next;
    }
}
void BM_FullyChangedFrameUnderBudget(benchmark::State& state)
{
    under_budget(state, grey(DEFAULT_GLYPHS), 1, std::min<std::size_t>(30 * sizeof(insim::IS_BTN), static_cast<std::size_t>(state.range(0))));
}
void BM_FullyChangedColourFrameShortestUnderBudget(benchmark::State& state)
{
    under_budget(state, lumaflick::FrameUpdate::colour(lumaflick::Packing::shortest), 3, 1);
}

// A fully changed frame to 20 connections of a host, 5 of which cleared our
// buttons: the other 15 are sent the rows by UCID.
void BM_FullyChangedFrameToFifteenOfTwenty(benchmark::State& state)
{
    lumaflick::FrameUpdate update = grey(DEFAULT_GLYPHS);
    lumaflick::Screens screens(false);
    for (std::uint8_t ucid = 0; ucid < 20; ++ucid) {
        insim::IS_NCN connection;
        connection.UCID = ucid;
        connection.Total = 20;
        connection.ReqI = ucid < 15 ? 0 : lumaflick::Screens::LIST_REQUEST_ID;
        screens.hear(connection);
        insim::IS_BFN clear;
        clear.SubT = insim::BFN_USER_CLEAR;
        clear.UCID = ucid;
        if (ucid >= 15) screens.hear(clear);
    }
    (void)screens.take_due();
    screens.due_written();
    const std::vector<Frame> frames{noise(1), noise(2)};
    std::size_t next = 0;
    for (auto _ : state) {
        const auto rows = update.show(frames[next]);
        benchmark::DoNotOptimize(screens.show(rows).data());
        screens.written_in_place(rows);
        next = 1 - next;
    }
}

// The floor: copying a full frame's send block.
void BM_MemcpyBlock(benchmark::State& state)
{
    std::array<std::uint8_t, lumaflick::DEFAULT_GEOMETRY.rows * sizeof(insim::IS_BTN)> from{};
    std::array<std::uint8_t, lumaflick::DEFAULT_GEOMETRY.rows * sizeof(insim::IS_BTN)> to{};
    from.fill(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(from.data());
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_FullyChangedFrame);
BENCHMARK(BM_UnchangedFrame);
BENCHMARK(BM_OneChangedRow);
BENCHMARK(BM_FullyChangedFrameMixedGlyphs);
BENCHMARK(BM_FullyChangedColourFrame);
BENCHMARK(BM_FullyChangedFrame160x60);
BENCHMARK(BM_FullyChangedColourFrame160x60);
BENCHMARK(BM_UnchangedColourFrame);
BENCHMARK(BM_FullyChangedFrameShortest);
BENCHMARK(BM_FullyChangedColourFrameShortest);
BENCHMARK(BM_FullyChangedFrameUnderBudget)->Arg(1'000'000)->Arg(30 * sizeof(insim::IS_BTN) / 4);
BENCHMARK(BM_FullyChangedColourFrameShortestUnderBudget)->Arg(1'000'000)->Arg(1'600);
BENCHMARK(BM_FullyChangedFrameToFifteenOfTwenty);
BENCHMARK(BM_MemcpyBlock);
