#include "picture/frame_update.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "frame.hpp"
#include "insim/packets.hpp"
#include "plain_picture.hpp"

namespace lumaflick {
namespace {

const GlyphStrings DEFAULT_GLYPHS{"^0_", "^3_", "^6_", "^7_"};

std::vector<std::uint8_t> filled(std::size_t size, std::uint8_t value) { return std::vector<std::uint8_t>(size, value); }

using plain::noise;

std::vector<std::uint8_t> gradient(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i % DEFAULT_GEOMETRY.width) * 255 / (DEFAULT_GEOMETRY.width - 1));
    }
    return bytes;
}

std::string repeat(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
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

TEST(ButtonTemplate, HasTheGridValues)
{
    const insim::IS_BTN button = make_button_template();
    const std::array<std::uint8_t, 12> head{63, 45, 1, 255, 0, 0, 32, 0, 0, 0, 240, 6};
    const auto bytes = insim::image(button);
    ASSERT_EQ(bytes.size(), 252U);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(std::to_integer<unsigned>(bytes[i]), i < head.size() ? head[i] : 0U) << "byte " << i;
    }
}

// Every button of a first frame sits where the geometry puts it, full-size
// and packed, in rows and in the texts of glyph strings with line feeds
// (81 lines a row here), whose ClickID and T wrap at 256.
TEST(ButtonTemplate, PlacesEveryLineByTheGeometry)
{
    struct Case {
        Geometry geometry;
        GlyphStrings glyphs;
        std::size_t lines;
    };
    const Case cases[] = {
        {{}, DEFAULT_GLYPHS, 30},
        {{.left = 100, .top = 0, .row_height = 3}, DEFAULT_GLYPHS, 30},
        {{.left = 7, .top = 20, .row_height = 1, .first_click_id = 210}, DEFAULT_GLYPHS, 30},
        {{.left = 0, .top = 10, .row_height = 6, .first_click_id = 200}, {"a\nb", "a\nb", "a\nb", "a\nb"}, 2430},
    };
    for (const Case& c : cases) {
        for (const Packing packing : {Packing::full, Packing::shortest}) {
            SCOPED_TRACE(std::to_string(c.geometry.first_click_id) + " " + std::to_string(c.lines));
            auto update = FrameUpdate::grey(c.glyphs, packing, c.geometry);
            const auto block = update.show(filled(FRAME_SIZE, 0));
            std::size_t line = 0;
            for (std::size_t at = 0; at < block.size(); ++line) {
                const auto* head = reinterpret_cast<const std::uint8_t*>(block.data() + at);
                EXPECT_EQ(head[4], (c.geometry.first_click_id + line) % 256) << "ClickID of line " << line;
                EXPECT_EQ(head[8], c.geometry.left);
                EXPECT_EQ(head[9], (c.geometry.top + c.geometry.row_height * line) % 256) << "T of line " << line;
                EXPECT_EQ(head[10], 40 * c.geometry.row_height);
                EXPECT_EQ(head[11], c.geometry.row_height);
                at += head[0] * 4u;
            }
            EXPECT_EQ(line, c.lines);
        }
    }
}

std::vector<std::byte> shown(FrameUpdate& update, std::span<const std::uint8_t> frame)
{
    const auto block = update.show(frame);
    return {block.begin(), block.end()};
}

// Rows wider than 80 pixels: each button holds its part of the row as the
// plain rules draw it, where the geometry puts it, aligned towards its
// neighbours; a change within one button sends that button alone.
TEST(FrameUpdate, SplitsWideRowsIntoButtons)
{
    const Geometry g{.width = 170, .rows = 5, .left = 10, .top = 4, .row_height = 2, .first_click_id = 20};
    const std::uint8_t lefts[] = {10, 90, 170}, widths[] = {80, 80, 10}, styles[] = {32 | 128, 32, 32 | 64};
    for (const std::size_t pixel_size : {1, 3}) {
        SCOPED_TRACE(pixel_size);
        auto update = pixel_size == 3 ? FrameUpdate::colour(Packing::full, g)
                                      : FrameUpdate::grey(DEFAULT_GLYPHS, Packing::full, g);
        auto frame = noise(g.pixels() * pixel_size, 7);
        // Two pixels of button 10 that trade places later, keeping the mean.
        const std::size_t at = (3 * g.width + 100) * pixel_size;
        std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(at), pixel_size, 0);
        std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(at + pixel_size), pixel_size, 255);
        const std::string text = pixel_size == 3 ? plain::colour_text(frame, g.width)
                                                 : plain::grey_text(frame, DEFAULT_GLYPHS, g.width);
        const auto lines = plain::lines_of(text);
        const auto block = shown(update, frame);
        ASSERT_EQ(block.size(), 15 * sizeof(insim::IS_BTN));
        for (std::size_t k = 0; k < 15; ++k) {
            const auto* head = reinterpret_cast<const std::uint8_t*>(block.data() + k * sizeof(insim::IS_BTN));
            const std::vector<std::uint8_t> expected{63, 45, 1, 255, static_cast<std::uint8_t>(20 + k), 0, styles[k % 3],
                                                     0, lefts[k % 3], static_cast<std::uint8_t>(4 + 2 * (k / 3)),
                                                     widths[k % 3], 2};
            EXPECT_EQ(std::vector<std::uint8_t>(head, head + 12), expected) << "button " << k;
            const char* button_text = reinterpret_cast<const char*>(head) + 12;
            EXPECT_EQ(std::string(button_text, strnlen(button_text, 240)), lines.at(k)) << "button " << k;
        }
        std::swap_ranges(frame.begin() + static_cast<std::ptrdiff_t>(at),
                         frame.begin() + static_cast<std::ptrdiff_t>(at + pixel_size),
                         frame.begin() + static_cast<std::ptrdiff_t>(at + pixel_size));
        const auto changed = shown(update, frame);
        ASSERT_EQ(changed.size(), sizeof(insim::IS_BTN));
        EXPECT_EQ(std::to_integer<int>(changed[4]), 30);
    }
}

// Geometries are {width, rows, left, top, row height}.
TEST(FitToShape, TheLargestPictureOfTheShapeCentredInTheBox)
{
    const Geometry box{};
    const Geometry quarter{.width = 160, .rows = 60, .row_height = 3};
    const Geometry right_edge{.width = 100, .rows = 10, .left = 160, .row_height = 1};
    const struct {
        Geometry box;
        DisplaySize shape;
        Geometry expected;
    } cases[] = {
        {box, {1280, 720}, {80, 22, 0, 24, 6}},
        {box, {720, 1280}, {33, 30, 70, 0, 6}},
        {box, {1, 1}, {60, 30, 30, 0, 6}},
        {box, {100000, 1}, {80, 1, 0, 87, 6}},
        {box, {1, 100000}, {1, 30, 118, 0, 6}},
        {quarter, {1280, 720}, {160, 45, 0, 22, 3}},
        {quarter, {720, 1280}, {66, 60, 70, 0, 3}},  // 67 pixels would be 100.5 units
        {right_edge, {9, 2}, {90, 10, 160, 0, 1}},   // centring would put L at 202
        {box, {0, 720}, box},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fit_to_shape(c.box, c.shape), c.expected) << c.shape.width << "x" << c.shape.height;
    }
}

// Known frames, in the order they are shown: what each sends.
TEST(FrameUpdate, SendsOnlyChangedRows)
{
    auto update = FrameUpdate::grey(DEFAULT_GLYPHS, Packing::full);
    const std::string black = repeat("^0_", DEFAULT_GEOMETRY.width);
    const auto black_frame = filled(FRAME_SIZE, 0);

    // The first full frame fills the grid: ClickIDs 1 to 30, T 0 to 174, in one block.
    const auto first = shown(update, black_frame);
    ASSERT_EQ(first.size(), 30 * sizeof(insim::IS_BTN));
    std::vector<std::byte> expected;
    for (std::size_t line = 0; line < DEFAULT_GEOMETRY.rows; ++line) {
        const auto packet = plain::button(line, black);
        const auto bytes = insim::image(packet);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(first, expected);
    EXPECT_TRUE(shown(update, black_frame).empty()) << "an unchanged frame sends nothing";

    // Only row 5 brightens (the mean stays below 16): one packet, ClickID 6, T 30.
    auto row5 = black_frame;
    row5[5 * DEFAULT_GEOMETRY.width] = 255;
    const auto one = shown(update, row5);
    ASSERT_EQ(one.size(), sizeof(insim::IS_BTN));
    EXPECT_EQ(std::to_integer<int>(one[4]), 6);
    EXPECT_EQ(std::to_integer<int>(one[9]), 30);
    EXPECT_EQ(std::to_integer<char>(one[12 + 1]), '7');

    // A read of 100 bytes has two rows, and only the shorter second one
    // changed; the next full frame redraws it and the rows below it, which
    // now count as empty.
    const auto short_read = shown(update, std::span(black_frame).first(100));
    ASSERT_EQ(short_read.size(), sizeof(insim::IS_BTN));
    EXPECT_EQ(std::to_integer<int>(short_read[4]), 2);
    EXPECT_EQ(shown(update, black_frame).size(), 29 * sizeof(insim::IS_BTN));
}

// Glyph strings and frames of every shape, through both the row and the text
// path, must send exactly what the plain rules send.
TEST(FrameUpdate, AgreesWithThePlainRules)
{
    const GlyphStrings glyph_sets[] = {
        DEFAULT_GLYPHS,
        {"a", "b", "c", "d"},
        {"abcd", "efgh", "ijkl", "mnop"},
        {"abcde", "fghij", "klmno", "pqrst"},
        {"abcdefghi", "j", "kl", "mno"},
        {"", "x", "yy", "zzz"},
        {"a", "aa", "", "b"},          // different classes, same text
        {"^1", "^1_", "^2^^", "^3"},  // codes of several lengths, an escaped caret
        {"^1_", "^1_", "^2_", "^8"},  // codes written compacted
        {"^0^0_", "^3_^3", "_^6", "^7^"},
        {"^0__", "^3__", "^6__", "^7__"},  // cut at 240 before compaction
        {"^0_", "^0_", "^6_", "^6_"},  // classes drawn alike
        {"", "", "", ""},
        {"x\r", "y", "z", "w"},        // a row may end in a carriage return
        {"\r\n", "\n", "a\nb", "^7_"},
        {"a\nb", "c", "d", "e"},       // more than 256 lines: ClickID and T wrap
        {std::string(300, 'L'), "", "^6_", "m"},
    };
    std::vector<std::vector<std::uint8_t>> frames{noise(FRAME_SIZE, 1), noise(FRAME_SIZE, 1), noise(FRAME_SIZE, 2),
                                                  noise(100, 3),        gradient(FRAME_SIZE),  filled(1, 255),
                                                  filled(FRAME_SIZE, 0), filled(FRAME_SIZE, 255), noise(2399, 4),
                                                  noise(FRAME_SIZE, 4)};
    std::swap(frames[2][5 * DEFAULT_GEOMETRY.width], frames[2][5 * DEFAULT_GEOMETRY.width + 40]);
    for (const Packing packing : {Packing::full, Packing::shortest}) {
        for (std::size_t g = 0; g < std::size(glyph_sets); ++g) {
            auto update = FrameUpdate::grey(glyph_sets[g], packing);
            std::string previous(DEFAULT_GEOMETRY.rows, '\n');
            for (std::size_t f = 0; f < frames.size(); ++f) {
                const std::string current = plain::grey_text(frames[f], glyph_sets[g]);
                ASSERT_EQ(shown(update, frames[f]),
                          plain::changed_buttons(current, previous, packing == Packing::shortest))
                    << "glyph set " << g << ", frame " << f << (packing == Packing::shortest ? ", shortest" : "");
                previous = current;
            }
        }
    }
}

std::vector<std::uint8_t> solid(std::size_t pixels, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < pixels; ++i) rgb.insert(rgb.end(), {r, g, b});
    return rgb;
}

// The text of each packet in a block of full-size packets.
std::vector<std::string> texts_of(std::span<const std::byte> block)
{
    std::vector<std::string> texts;
    for (std::size_t at = 0; at + sizeof(insim::IS_BTN) <= block.size(); at += sizeof(insim::IS_BTN)) {
        const auto* text = reinterpret_cast<const char*>(block.data() + at + 12);
        texts.emplace_back(text, strnlen(text, insim::BUTTON_TEXT_SIZE));
    }
    return texts;
}

TEST(ColourFrameUpdate, SolidAreasAndHalfGrey)
{
    struct Row {
        std::uint8_t r, g, b;
        char code;
    };
    const Row rows[] = {{255, 0, 0, '1'}, {0, 255, 0, '2'}, {0, 0, 255, '4'}, {255, 255, 255, '7'}, {0, 0, 0, '0'},
                        {255, 255, 0, '3'}, {255, 0, 255, '5'}, {0, 255, 255, '6'}};
    for (const Row& row : rows) {
        auto update = FrameUpdate::colour(Packing::full);
        const auto texts = texts_of(update.show(solid(FRAME_SIZE, row.r, row.g, row.b)));
        ASSERT_EQ(texts.size(), DEFAULT_GEOMETRY.rows);
        for (const auto& text : texts) EXPECT_EQ(text, repeat(std::string{'^', row.code, '_'}, DEFAULT_GEOMETRY.width));
    }

    // 50 % grey lights exactly two of every four pixels in each row and
    // column of the pattern, white and black only.
    auto update = FrameUpdate::colour(Packing::full);
    const auto texts = texts_of(update.show(solid(FRAME_SIZE, 128, 128, 128)));
    ASSERT_EQ(texts.size(), DEFAULT_GEOMETRY.rows);
    for (std::size_t y = 0; y < DEFAULT_GEOMETRY.rows; ++y) {
        for (std::size_t x = 0; x < DEFAULT_GEOMETRY.width; x += 4) {
            const std::string tile = texts[y].substr(3 * x, 12);
            EXPECT_EQ(std::count(tile.begin(), tile.end(), '7'), 2) << "row " << y << ": " << tile;
            EXPECT_EQ(std::count(tile.begin(), tile.end(), '0'), 2) << "row " << y << ": " << tile;
        }
    }
    EXPECT_EQ(texts[0].substr(0, 12), "^7_^0_^7_^0_");
}

// RGB frames of every shape, partial pixels and rows included, must send
// exactly what the plain rules send; a still picture sends nothing.
TEST(ColourFrameUpdate, AgreesWithThePlainRules)
{
    const std::size_t rgb_size = 3 * FRAME_SIZE;
    std::vector<std::vector<std::uint8_t>> frames{noise(rgb_size, 1), noise(rgb_size, 1), noise(rgb_size, 2),
                                                  noise(rgb_size - 1, 3), noise(100, 4), noise(2, 5),
                                                  gradient(rgb_size), solid(FRAME_SIZE, 200, 30, 90),
                                                  noise(rgb_size, 6)};
    // One channel of one pixel of row 5 switched off, or on if it was off.
    frames[2] = frames[1];
    auto& green = frames[2][3 * (5 * DEFAULT_GEOMETRY.width + 7) + 1];
    green = 0;
    if (plain::colour_text(frames[2]) == plain::colour_text(frames[1])) green = 255;
    for (const Packing packing : {Packing::full, Packing::shortest}) {
        auto update = FrameUpdate::colour(packing);
        EXPECT_EQ(update.frame_size(), rgb_size);
        std::string previous(DEFAULT_GEOMETRY.rows, '\n');
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const std::string current = plain::colour_text(frames[f]);
            const auto block = shown(update, frames[f]);
            ASSERT_EQ(block, plain::changed_buttons(current, previous, packing == Packing::shortest)) << "frame " << f;
            if (f == 1) {
                EXPECT_TRUE(block.empty());
            }
            if (f == 2 && packing == Packing::full) {
                EXPECT_EQ(block.size(), sizeof(insim::IS_BTN));
            }
            previous = current;
        }
    }
}

}  // namespace
}  // namespace lumaflick
