#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace insim_screen {

// The player's picture: 80 glyphs a row, one row (6 units of T) a button.
inline constexpr std::size_t PICTURE_COLUMNS = 80;
inline constexpr std::size_t PICTURE_ROWS = 30;
inline constexpr std::uint8_t ROW_HEIGHT = 6;

// LFS colour codes ^0 to ^7, the button's own colour (^8, ^9), and no glyph at all.
enum class Colour : std::uint8_t { black, red, green, yellow, blue, violet, cyan, white, standard, empty };

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

Rgb colour_rgb(Colour colour) noexcept;

struct Cell {
    Colour colour = Colour::empty;
    char glyph = ' ';
    friend bool operator==(const Cell&, const Cell&) = default;
};

class Picture {
public:
    [[nodiscard]] std::span<Cell, PICTURE_COLUMNS> row(std::size_t index) noexcept
    {
        return std::span<Cell, PICTURE_COLUMNS>(cells_.data() + index * PICTURE_COLUMNS, PICTURE_COLUMNS);
    }
    [[nodiscard]] std::span<const Cell, PICTURE_COLUMNS> row(std::size_t index) const noexcept
    {
        return std::span<const Cell, PICTURE_COLUMNS>(cells_.data() + index * PICTURE_COLUMNS, PICTURE_COLUMNS);
    }
    [[nodiscard]] const Cell& at(std::size_t row_index, std::size_t column) const noexcept
    {
        return cells_[row_index * PICTURE_COLUMNS + column];
    }
    void clear() noexcept { cells_.fill(Cell{}); }

    friend bool operator==(const Picture&, const Picture&) = default;

private:
    std::array<Cell, PICTURE_COLUMNS * PICTURE_ROWS> cells_{};
};

}  // namespace insim_screen
