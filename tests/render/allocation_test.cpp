#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "picture/button_grid.hpp"
#include "frame.hpp"
#include "picture/render.hpp"

namespace {
std::size_t allocations = 0;

void* counted_allocation(std::size_t size)
{
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace lumaflick {
namespace {

std::vector<std::uint8_t> noise(std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(FRAME_SIZE);
    for (auto& byte : bytes) {
        seed = seed * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// Runs the frames through the playback loop's per-frame steps and gives the
// allocations each frame made.
std::vector<std::size_t> allocations_per_frame(const GlyphStrings& glyphs, std::size_t capacity,
                                               const std::vector<std::vector<std::uint8_t>>& frames,
                                               const std::vector<std::size_t>& read_sizes)
{
    std::vector<std::size_t> counts;
    counts.reserve(frames.size());
    std::string current;
    std::string previous;
    std::vector<insim::IS_BTN> packets;
    current.reserve(capacity);
    previous.reserve(capacity);
    previous.assign(FRAME_HEIGHT, '\n');
    packets.reserve(FRAME_HEIGHT);
    insim::IS_BTN button = make_button_template();
    std::size_t sent_bytes = 0;

    for (std::size_t f = 0; f < frames.size(); ++f) {
        const std::size_t before = allocations;
        packets.clear();
        button.ClickID = 0;
        button.T = 0;
        current.clear();
        render_frame_text(std::span(frames[f]).first(read_sizes[f]), glyphs, current);
        collect_changed_buttons(current, previous, button, packets);
        if (!packets.empty()) {
            sent_bytes += insim::image(std::span<const insim::IS_BTN>(packets)).size();
        }
        std::swap(current, previous);
        counts.push_back(allocations - before);
    }
    EXPECT_GT(sent_bytes, 0U);
    return counts;
}

TEST(FrameAllocations, NoneAfterTheFirstFullFrame)
{
    struct Row {
        const char* name;
        GlyphStrings glyphs;
        bool first_frame_grows;  // the packet list, for frames of more than 30 lines
    };
    const Row rows[] = {
        {"default glyphs", {"^0_", "^3_", "^6_", "^7_"}, false},
        {"mixed lengths", {"", "^3", "^6_", "^7_x"}, false},
        {"long glyphs", {"^0_____", "^3_", "^6_", "^7_"}, false},
        {"line feeds, more than 30 lines", {"a\nb", "^3_", "^6_", "^7_"}, true},
    };
    // Fully changed, unchanged, one changed row, a short read, then full again.
    std::vector<std::vector<std::uint8_t>> frames{noise(1), noise(2), noise(2), noise(2), noise(3), noise(4), noise(4)};
    std::swap(frames[3][5 * FRAME_WIDTH], frames[3][5 * FRAME_WIDTH + 1]);
    const std::vector<std::size_t> sizes{FRAME_SIZE, FRAME_SIZE, FRAME_SIZE, FRAME_SIZE, 100, FRAME_SIZE, FRAME_SIZE};

    for (const Row& row : rows) {
        const auto counts = allocations_per_frame(row.glyphs, max_frame_text_size(row.glyphs), frames, sizes);
        for (std::size_t f = 1; f < counts.size(); ++f) {
            EXPECT_EQ(counts[f], 0U) << row.name << ", frame " << f;
        }
        if (!row.first_frame_grows) {
            EXPECT_EQ(counts[0], 0U) << row.name;
        }
    }
}

// With the smaller reservation of glyph string 0's length times 2400, each of
// the two swapped texts grows once, and never again.
TEST(FrameAllocations, SmallerReservationSettlesAfterTwoFrames)
{
    const GlyphStrings glyphs{"^0_", "^3_", "^6_", "^7_"};
    const std::vector<std::vector<std::uint8_t>> frames{noise(1), noise(2), noise(3), noise(4), noise(5)};
    const std::vector<std::size_t> sizes(frames.size(), FRAME_SIZE);
    const auto counts = allocations_per_frame(glyphs, FRAME_SIZE * glyphs[0].size(), frames, sizes);
    EXPECT_EQ(counts[0], 1U);
    EXPECT_EQ(counts[1], 1U);
    for (std::size_t f = 2; f < counts.size(); ++f) {
        EXPECT_EQ(counts[f], 0U) << "frame " << f;
    }
}

}  // namespace
}  // namespace lumaflick
