#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "button_text.hpp"
#include "screen.hpp"

namespace {

using namespace insim_screen;

// Cells written compactly: a colour digit ('s' for the button's own colour) then the glyph.
std::string cells_text(std::string_view text, std::size_t room = PICTURE_COLUMNS)
{
    std::vector<Cell> cells(room);
    const std::size_t count = text_to_cells(text, cells);
    std::string out;
    for (std::size_t i = 0; i < std::min(count, room); ++i) {
        const auto colour = cells[i].colour;
        out += colour == Colour::standard ? 's' : static_cast<char>('0' + static_cast<int>(colour));
        out += cells[i].glyph;
    }
    return out;
}

TEST(ButtonText, ColourCodesColourTheGlyphsAfterThem)
{
    struct Case {
        std::string_view text;
        std::string cells;
    };
    const std::vector<Case> cases{
        {"^0_^3_^6_^7_", "0_3_6_7_"},
        {"ab^1c", "sasb1c"},
        {"^2a^8b^5c^9d", "2asb5csd"},
        {"^1^4x", "4x"},
        {"^v^a^^^d", "s|s*s^s\\"},     // escapes are one glyph
        {"^4^Lx^Jy", "4x4y"},          // code-page switches take no cell
        {"^zq", "s^szsq"},             // a caret that starts no code is a glyph
        {"x^", "sxs^"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(cells_text(c.text), c.cells) << c.text;
}

TEST(ButtonText, FillsNoMoreCellsThanThereIsRoomFor)
{
    std::string text;
    for (int i = 0; i < 81; ++i) text += "^1_";
    std::vector<Cell> row(PICTURE_COLUMNS);
    EXPECT_EQ(text_to_cells(text, row), 81u);
    EXPECT_EQ(cells_text(text, 2), "1_1_");
}

std::string row_of(std::string_view code, std::size_t glyphs)
{
    std::string text;
    for (std::size_t i = 0; i < glyphs; ++i) text += "^" + std::string(code) + "_";
    return text;
}

// Buttons drawn where LFS puts them, probed in half units across and units
// down, whatever cells the picture chose.
TEST(ButtonScreen, DrawsEachButtonByItsPosition)
{
    struct Probe {
        std::size_t x, y;
        Colour colour;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint8_t, Button>> buttons;
        std::size_t width, height;  // the picture's, half units by units
        std::vector<Probe> probes;
    };
    const Colour e = Colour::empty;
    const std::vector<Case> cases{
        {"the player's rows, a ClickID replaced",
         {{1, {0, 0, 240, 6, 32, "^3_"}}, {1, {0, 0, 240, 6, 32, row_of("1", 80)}}, {30, {0, 174, 240, 6, 32, row_of("7", 80)}}},
         480, 180, {{0, 0, Colour::red}, {479, 5, Colour::red}, {0, 6, e}, {479, 179, Colour::white}}},
        {"centred in another rectangle", {{5, {20, 50, 30, 6, 32, "^2_^3_"}}}, 480, 180,
         {{63, 50, e}, {64, 50, Colour::green}, {69, 55, Colour::green}, {70, 50, Colour::yellow}, {76, 50, e},
          {64, 56, e}, {64, 49, e}}},
        {"H 3 is half size", {{1, {0, 0, 12, 3, 32, "^1_^2_^1_^2_^1_^2_^1_^2_"}}}, 480, 180,
         {{2, 2, Colour::red}, {3, 0, Colour::green}, {23, 2, Colour::green}, {24, 0, e}, {0, 3, e}}},
        {"H 1", {{1, {0, 0, 1, 1, 32, "^1_^2_"}}}, 480, 180, {{0, 0, Colour::red}, {1, 0, Colour::green}, {0, 1, e}}},
        {"an odd half unit from the centre", {{1, {0, 0, 240, 6, 32, "^1_"}}}, 480, 180,
         {{236, 0, e}, {237, 0, Colour::red}, {242, 5, Colour::red}, {243, 0, e}}},
        {"left and right styles", {{1, {10, 0, 30, 6, 32 | 64, "^1_"}}, {2, {10, 6, 30, 6, 32 | 128, "^2_"}}}, 480, 180,
         {{20, 0, Colour::red}, {26, 0, e}, {73, 6, e}, {74, 6, Colour::green}, {79, 6, Colour::green}}},
        {"too wide: from the left edge, cut at the right", {{1, {0, 0, 240, 6, 32, row_of("1", 80) + "^2_"}}}, 480, 180,
         {{0, 0, Colour::red}, {479, 0, Colour::red}}},
        {"a higher ClickID over a lower one, its rectangle emptied",
         {{2, {0, 6, 240, 6, 32, row_of("2", 80)}}, {9, {0, 7, 240, 6, 32 | 64, "^4_"}}}, 480, 180,
         {{0, 6, Colour::green}, {0, 7, Colour::blue}, {6, 6, Colour::green}, {6, 7, e}, {0, 12, Colour::blue},
          {0, 13, e}}},
        {"beyond the player's area", {{1, {250, 190, 5, 6, 32 | 64, "^5_"}}}, 506, 196,
         {{500, 190, Colour::violet}, {505, 195, Colour::violet}, {499, 190, e}}},
    };
    for (const auto& c : cases) {
        ButtonScreen screen;
        for (const auto& [id, button] : c.buttons) ASSERT_TRUE(screen.set(id, button)) << c.name;
        Picture picture;
        screen.draw(picture);
        EXPECT_EQ(picture.columns() * picture.cell_width(), std::max<std::size_t>(c.width, 480)) << c.name;
        EXPECT_EQ(picture.rows() * picture.cell_height(), std::max<std::size_t>(c.height, 180)) << c.name;
        for (const auto& p : c.probes) {
            EXPECT_EQ(picture.at(p.y / picture.cell_height(), p.x / picture.cell_width()).colour, p.colour)
                << c.name << " at " << p.x << "," << p.y;
        }
    }
}

}  // namespace
