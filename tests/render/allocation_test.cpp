#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <optional>
#include <vector>

#include "frame.hpp"
#include "picture/frame_update.hpp"

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

// Shows the frames in turn, all rows or those a budget allows, and gives the
// allocations each frame made.
std::vector<std::size_t> allocations_per_frame(FrameUpdate update, const std::vector<std::vector<std::uint8_t>>& frames,
                                               const std::vector<std::size_t>& read_sizes,
                                               std::optional<std::int64_t> allowance = std::nullopt)
{
    std::vector<std::size_t> counts;
    counts.reserve(frames.size());
    std::size_t sent_bytes = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const std::size_t before = allocations;
        if (allowance) {
            update.take(std::span(frames[f]).first(read_sizes[f]), {});
            sent_bytes += update.rows(*allowance, {}, {}).size();
            update.written();
        } else {
            sent_bytes += update.show(std::span(frames[f]).first(read_sizes[f])).size();
        }
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
        bool first_frame_grows;  // the send block, for frames of more than 30 lines
    };
    const Row rows[] = {
        {"default glyphs", {"^0_", "^3_", "^6_", "^7_"}, false},
        {"mixed lengths", {"", "^3", "^6_", "^7_x"}, false},
        {"long glyphs", {"^0_____", "^3_", "^6_", "^7_"}, false},
        {"longer than a word", {"^0_______", "^3_", "^6_", "^7_"}, false},
        {"line feeds, more than 30 lines", {"a\nb", "^3_", "^6_", "^7_"}, true},
    };
    // Fully changed, unchanged, one changed row, a short read, then full again.
    std::vector<std::vector<std::uint8_t>> frames{noise(1), noise(2), noise(2), noise(2), noise(3), noise(4), noise(4)};
    std::swap(frames[3][5 * DEFAULT_GEOMETRY.width], frames[3][5 * DEFAULT_GEOMETRY.width + 1]);
    const std::vector<std::size_t> sizes{FRAME_SIZE, FRAME_SIZE, FRAME_SIZE, FRAME_SIZE, 100, FRAME_SIZE, FRAME_SIZE};

    for (const Row& row : rows) {
        const auto counts = allocations_per_frame(FrameUpdate::grey(row.glyphs, Packing::full), frames, sizes);
        for (std::size_t f = 1; f < counts.size(); ++f) {
            EXPECT_EQ(counts[f], 0U) << row.name << ", frame " << f;
        }
        if (!row.first_frame_grows) {
            EXPECT_EQ(counts[0], 0U) << row.name;
        }
    }

    // Colour frames are three times the size, the short read a partial pixel.
    std::vector<std::vector<std::uint8_t>> rgb;
    for (const auto& frame : frames) {
        rgb.push_back(frame);
        rgb.back().insert(rgb.back().end(), frame.begin(), frame.end());
        rgb.back().insert(rgb.back().end(), frame.rbegin(), frame.rend());
    }
    std::vector<std::size_t> rgb_sizes;
    for (const std::size_t size : sizes) rgb_sizes.push_back(3 * size + (size < FRAME_SIZE ? 1 : 0));
    for (const std::size_t count : allocations_per_frame(FrameUpdate::colour(Packing::full), rgb, rgb_sizes)) {
        EXPECT_EQ(count, 0U) << "colour";
    }
    for (const std::size_t count :
         allocations_per_frame(FrameUpdate::colour(Packing::shortest), rgb, rgb_sizes, std::int64_t{1600})) {
        EXPECT_EQ(count, 0U) << "colour, under a budget";
    }
}

}  // namespace
}  // namespace lumaflick
