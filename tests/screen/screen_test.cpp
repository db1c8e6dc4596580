#include <gtest/gtest.h>

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

TEST(ButtonScreen, DrawsButtonsAsRowsByTheirTop)
{
    ButtonScreen screen;
    ASSERT_TRUE(screen.set(1, {0, 0, 240, 6, 32, "^1_"}));
    ASSERT_TRUE(screen.set(2, {0, 6, 240, 6, 32, "^2_^2_"}));
    ASSERT_TRUE(screen.set(30, {0, 174, 240, 6, 32, "^7_"}));
    ASSERT_TRUE(screen.set(31, {0, 180, 240, 6, 32, "^7_"}));  // below the picture
    ASSERT_TRUE(screen.set(9, {0, 7, 240, 6, 32, "^4_"}));     // T 7 is still row 1, drawn over ClickID 2
    EXPECT_FALSE(screen.set(240, {0, 0, 240, 6, 32, "^3_"}));
    EXPECT_EQ(screen.size(), 5u);

    Picture picture;
    screen.draw(picture);
    EXPECT_EQ(picture.at(0, 0).colour, Colour::red);
    EXPECT_EQ(picture.at(0, 1).colour, Colour::empty);
    EXPECT_EQ(picture.at(1, 0).colour, Colour::blue);
    EXPECT_EQ(picture.at(1, 1).colour, Colour::empty);  // the whole row is the later button's
    EXPECT_EQ(picture.at(29, 0).colour, Colour::white);
    EXPECT_EQ(picture.at(2, 0).colour, Colour::empty);

    // A new button with the same ClickID replaces the old one.
    ASSERT_TRUE(screen.set(1, {0, 0, 240, 6, 32, "^6_^6_"}));
    screen.draw(picture);
    EXPECT_EQ(picture.at(0, 1).colour, Colour::cyan);
    EXPECT_EQ(screen.size(), 5u);
}

}  // namespace
