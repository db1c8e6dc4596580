// One shown frame as the playback loop handles it: render, compare with the
// previous text, and the packet list that is written as the send block.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "picture/button_grid.hpp"
#include "frame.hpp"
#include "insim/packets.hpp"
#include "picture/render.hpp"

namespace {

using lumaflick::FRAME_HEIGHT;
using lumaflick::FRAME_SIZE;
using lumaflick::FRAME_WIDTH;
using lumaflick::GlyphStrings;
using Frame = std::vector<std::uint8_t>;

const GlyphStrings DEFAULT_GLYPHS{"^0_", "^3_", "^6_", "^7_"};
const GlyphStrings MIXED_GLYPHS{"^0", "^3_", "^6_", "^7__"};

Frame noise(std::uint32_t seed)
{
    Frame bytes(FRAME_SIZE);
    for (auto& byte : bytes) {
        seed = seed * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// The same frame with two pixels of row 5 swapped: one row changes, the mean does not.
Frame with_row_5_changed(Frame frame)
{
    std::uint8_t* row = frame.data() + 5 * FRAME_WIDTH;
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

// The playback loop's state and per-frame steps.
class Screen {
public:
    explicit Screen(const GlyphStrings& glyphs) : glyphs_(glyphs)
    {
        const std::size_t capacity = lumaflick::max_frame_text_size(glyphs_);
        current_.reserve(capacity);
        previous_.reserve(capacity);
        previous_.assign(FRAME_HEIGHT, '\n');
        packets_.reserve(FRAME_HEIGHT);
    }

    // The number of packets in the send block.
    std::size_t show(std::span<const std::uint8_t> pixels)
    {
        packets_.clear();
        button_.ClickID = 0;
        button_.T = 0;
        current_.clear();
        lumaflick::render_frame_text(pixels, glyphs_, current_);
        lumaflick::collect_changed_buttons(current_, previous_, button_, packets_);
        if (!packets_.empty()) {
            const auto block = insim::image(std::span<const insim::IS_BTN>(packets_));
            benchmark::DoNotOptimize(block.data());
        }
        std::swap(current_, previous_);
        return packets_.size();
    }

private:
    GlyphStrings glyphs_;
    std::string current_;
    std::string previous_;
    std::vector<insim::IS_BTN> packets_;
    insim::IS_BTN button_ = lumaflick::make_button_template();
};

// Shows the frames in turn; every frame must send `expected` packets.
void show_in_turn(benchmark::State& state, const GlyphStrings& glyphs, const std::vector<Frame>& frames,
                  std::size_t expected)
{
    Screen screen(glyphs);
    for (const Frame& frame : frames) {
        screen.show(frame);
    }
    for (const Frame& frame : frames) {
        if (screen.show(frame) != expected) {
            state.SkipWithError("the frames do not change the expected number of rows");
            return;
        }
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(screen.show(frames[next]));
        next = next + 1 == frames.size() ? 0 : next + 1;
    }
}

void BM_FullyChangedFrame(benchmark::State& state) { show_in_turn(state, DEFAULT_GLYPHS, {noise(1), noise(2)}, 30); }
void BM_OneChangedRow(benchmark::State& state)
{
    show_in_turn(state, DEFAULT_GLYPHS, {noise(1), with_row_5_changed(noise(1))}, 1);
}
void BM_UnchangedFrame(benchmark::State& state) { show_in_turn(state, DEFAULT_GLYPHS, {noise(1)}, 0); }
void BM_FullyChangedFrameMixedGlyphs(benchmark::State& state)
{
    show_in_turn(state, MIXED_GLYPHS, {noise(1), noise(2)}, 30);
}

// The parts on their own.
void BM_RenderOnly(benchmark::State& state)
{
    const Frame frame = noise(1);
    std::string text;
    text.reserve(lumaflick::max_frame_text_size(DEFAULT_GLYPHS));
    for (auto _ : state) {
        text.clear();
        lumaflick::render_frame_text(frame, DEFAULT_GLYPHS, text);
        benchmark::DoNotOptimize(text.data());
    }
}

void compare_only(benchmark::State& state, const std::string& current, const std::string& previous)
{
    std::vector<insim::IS_BTN> packets;
    packets.reserve(FRAME_HEIGHT);
    insim::IS_BTN button = lumaflick::make_button_template();
    for (auto _ : state) {
        packets.clear();
        button.ClickID = 0;
        button.T = 0;
        lumaflick::collect_changed_buttons(current, previous, button, packets);
        benchmark::DoNotOptimize(packets.data());
    }
}

std::string text_of(const Frame& frame)
{
    std::string text;
    lumaflick::render_frame_text(frame, DEFAULT_GLYPHS, text);
    return text;
}

void BM_CompareFullyChanged(benchmark::State& state) { compare_only(state, text_of(noise(1)), text_of(noise(2))); }
void BM_CompareUnchanged(benchmark::State& state) { compare_only(state, text_of(noise(1)), text_of(noise(1))); }

// The floor: copying a full frame's send block.
void BM_MemcpyBlock(benchmark::State& state)
{
    std::array<std::uint8_t, FRAME_HEIGHT * sizeof(insim::IS_BTN)> from{};
    std::array<std::uint8_t, FRAME_HEIGHT * sizeof(insim::IS_BTN)> to{};
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
BENCHMARK(BM_RenderOnly);
BENCHMARK(BM_CompareFullyChanged);
BENCHMARK(BM_CompareUnchanged);
BENCHMARK(BM_MemcpyBlock);
