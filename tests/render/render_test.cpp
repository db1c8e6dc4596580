#include "picture/render.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumaflick {
namespace {

const GlyphStrings DEFAULT_GLYPHS{"^0_", "^3_", "^6_", "^7_"};

std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t value) { return std::vector<std::uint8_t>(size, value); }

// Deterministic bytes that reach every class.
std::vector<std::uint8_t> noise(std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

std::vector<std::uint8_t> gradient(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i % FRAME_WIDTH) * 255 / (FRAME_WIDTH - 1));
    }
    return bytes;
}

// The plain reading of the rules: rows of 80, one glyph string per pixel, a line feed after each row.
std::string reference_text(std::span<const std::uint8_t> pixels, const GlyphStrings& glyphs)
{
    const LumaThresholds thresholds = compute_thresholds(pixels);
    std::string text;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        text += glyphs[glyph_class(pixels[i], thresholds)];
        if (i % FRAME_WIDTH == FRAME_WIDTH - 1 || i + 1 == pixels.size()) {
            text += '\n';
        }
    }
    return text;
}

std::string render(std::span<const std::uint8_t> pixels, const GlyphStrings& glyphs)
{
    std::string text;
    render_frame_text(pixels, glyphs, text);
    return text;
}

std::string repeat(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(ComputeThresholds, FollowTheMeanWithADarkFloor)
{
    struct Row {
        std::vector<std::uint8_t> pixels;
        LumaThresholds expected;
    };
    const Row rows[] = {
        {filled(FRAME_SIZE, 0), {32, 64, 159}},
        {filled(FRAME_SIZE, 15), {32, 64, 159}},
        {filled(FRAME_SIZE, 16), {8, 16, 135}},
        {filled(FRAME_SIZE, 17), {8, 17, 136}},
        {filled(FRAME_SIZE, 64), {32, 64, 159}},
        {filled(FRAME_SIZE, 100), {50, 100, 177}},
        {filled(FRAME_SIZE, 128), {64, 128, 191}},
        {filled(FRAME_SIZE, 200), {100, 200, 227}},
        {filled(FRAME_SIZE, 255), {127, 255, 255}},
        // The mean rounds down: (15 + 16) / 2 is 15, (16 + 17) / 2 is 16.
        {{15, 16}, {32, 64, 159}},
        {{16, 17}, {8, 16, 135}},
        // A sum beyond 16 bits, and one byte that is not a multiple of 16 long.
        {filled(FRAME_SIZE - 1, 255), {127, 255, 255}},
        {{200}, {100, 200, 227}},
        // No bytes at all count as black rather than dividing by zero.
        {{}, {32, 64, 159}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "bytes " << row.pixels.size() << ", first "
                                          << (row.pixels.empty() ? -1 : int{row.pixels.front()}));
        const LumaThresholds got = compute_thresholds(row.pixels);
        EXPECT_EQ(got.low, row.expected.low);
        EXPECT_EQ(got.mid, row.expected.mid);
        EXPECT_EQ(got.high, row.expected.high);
    }
}

TEST(ComputeThresholds, UsesOnlyTheGivenBytes)
{
    std::vector<std::uint8_t> frame = filled(FRAME_SIZE, 255);
    std::fill_n(frame.begin(), 100, std::uint8_t{100});
    EXPECT_EQ(compute_thresholds(std::span(frame).first(100)), (LumaThresholds{50, 100, 177}));
}

TEST(GlyphClass, ThresholdValuesBelongToTheUpperClass)
{
    struct Row {
        LumaThresholds thresholds;
        std::uint8_t value;
        unsigned expected;
    };
    const Row rows[] = {
        {{50, 100, 177}, 0, 0},   {{50, 100, 177}, 49, 0},  {{50, 100, 177}, 50, 1},  {{50, 100, 177}, 99, 1},
        {{50, 100, 177}, 100, 2}, {{50, 100, 177}, 176, 2}, {{50, 100, 177}, 177, 3}, {{50, 100, 177}, 255, 3},
        {{32, 64, 159}, 31, 0},   {{32, 64, 159}, 32, 1},   {{32, 64, 159}, 63, 1},   {{32, 64, 159}, 64, 2},
        {{32, 64, 159}, 158, 2},  {{32, 64, 159}, 159, 3},
        // A white frame leaves class 2 empty.
        {{127, 255, 255}, 126, 0}, {{127, 255, 255}, 127, 1}, {{127, 255, 255}, 254, 1}, {{127, 255, 255}, 255, 3},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(glyph_class(row.value, row.thresholds), row.expected)
            << "value " << int{row.value} << " with mid " << int{row.thresholds.mid};
    }
}

TEST(RenderFrameText, KnownFrames)
{
    struct Row {
        const char* name;
        std::vector<std::uint8_t> pixels;
        GlyphStrings glyphs;
        std::string expected;
    };
    const std::string black_line = repeat("^0_", FRAME_WIDTH) + "\n";
    const std::string white_line = repeat("^7_", FRAME_WIDTH) + "\n";
    const Row rows[] = {
        {"all black", filled(FRAME_SIZE, 0), DEFAULT_GLYPHS, repeat(black_line, FRAME_HEIGHT)},
        {"all white", filled(FRAME_SIZE, 255), DEFAULT_GLYPHS, repeat(white_line, FRAME_HEIGHT)},
        {"short read", filled(100, 0), DEFAULT_GLYPHS, black_line + repeat("^0_", 20) + "\n"},
        {"one byte", filled(1, 255), DEFAULT_GLYPHS, "^7_\n"},
        {"empty glyphs", noise(FRAME_SIZE, 1), GlyphStrings{}, std::string(FRAME_HEIGHT, '\n')},
        {"line feed inside a glyph", filled(FRAME_SIZE, 0), GlyphStrings{"a\nb", "x", "y", "z"},
         repeat(repeat("a\nb", FRAME_WIDTH) + "\n", FRAME_HEIGHT)},
        {"bytes copied raw", filled(2, 0), GlyphStrings{std::string("\0\xff", 2), "", "", ""},
         std::string("\0\xff\0\xff\n", 5)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(render(row.pixels, row.glyphs), row.expected) << row.name;
    }
}

// Every length of glyph string, equal or mixed, over frames of every shape,
// must give the text of the plain rules and fit the reserved size.
TEST(RenderFrameText, MatchesThePlainRules)
{
    const GlyphStrings glyph_sets[] = {
        DEFAULT_GLYPHS,
        {"a", "b", "c", "d"},
        {"ab", "cd", "ef", "gh"},
        {"^0_", "^3_", "^6_", "^7_"},
        {"abcd", "efgh", "ijkl", "mnop"},
        {"abcde", "fghij", "klmno", "pqrst"},
        {"", "x", "yy", "zzz"},
        {"1", "22", "333", "4444"},
        {"^0_", "^3_", "^6_", ""},
        {"\r\n", "\n", "a\nb", "^7_"},
        {std::string(300, 'L'), "", "^6_", "m"},
    };
    const std::size_t sizes[] = {1, 15, 16, 17, 79, 80, 81, 100, 160, 2399, FRAME_SIZE};
    for (std::size_t g = 0; g < std::size(glyph_sets); ++g) {
        const GlyphStrings& glyphs = glyph_sets[g];
        for (const std::size_t size : sizes) {
            for (const auto& pixels : {noise(size, static_cast<std::uint32_t>(size + g)), gradient(size),
                                       filled(size, 0), filled(size, 255)}) {
                const std::string text = render(pixels, glyphs);
                ASSERT_EQ(text, reference_text(pixels, glyphs)) << "glyph set " << g << ", " << size << " bytes";
                ASSERT_LE(text.size(), max_frame_text_size(glyphs));
            }
        }
    }
}

TEST(RenderFrameText, AppendsToTheTextAndIgnoresBytesAfterTheRead)
{
    std::vector<std::uint8_t> frame = noise(FRAME_SIZE, 7);
    const std::span<const std::uint8_t> read = std::span(frame).first(100);
    const std::vector<std::uint8_t> fresh(read.begin(), read.end());

    std::string text = "kept";
    render_frame_text(read, DEFAULT_GLYPHS, text);
    EXPECT_EQ(text, "kept" + reference_text(fresh, DEFAULT_GLYPHS));
}

TEST(MaxFrameTextSize, CoversTheLongestGlyphOnEveryPixel)
{
    EXPECT_EQ(max_frame_text_size(DEFAULT_GLYPHS), 7230U);
    EXPECT_EQ(max_frame_text_size(GlyphStrings{}), FRAME_HEIGHT);
    EXPECT_EQ(max_frame_text_size(GlyphStrings{"a", "bb", "cccc", ""}), 4 * FRAME_SIZE + FRAME_HEIGHT);
}

}  // namespace
}  // namespace lumaflick
