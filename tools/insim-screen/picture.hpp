#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace insim_screen {

// The player's picture: 80 glyphs a row, one row (6 units of T) a button.
inline constexpr std::size_t PICTURE_COLUMNS = 80;
inline constexpr std::size_t PICTURE_ROWS = 30;
inline constexpr std::uint8_t ROW_HEIGHT = 6;

// Positions on the picture: half units across (a glyph of a button H units
// tall is H half units wide) and units down; LFS's screen is 200 × 200 units.
// A picture covers at least the player's area, 240 × 180 units.
inline constexpr std::size_t PICTURE_HALF_UNITS = 480;
inline constexpr std::size_t PICTURE_UNITS_DOWN = 180;

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

// Cells of `cell_width` half units by `cell_height` units from the top left
// of LFS's screen; the player's layout is 80 × 30 cells of 6 × 6 (a glyph each).
class Picture {
public:
    Picture() { reset(ROW_HEIGHT, ROW_HEIGHT, PICTURE_COLUMNS, PICTURE_ROWS); }

    // Empties it, at the given size.
    void reset(std::size_t cell_width, std::size_t cell_height, std::size_t columns, std::size_t rows)
    {
        cell_width_ = cell_width;
        cell_height_ = cell_height;
        columns_ = columns;
        rows_ = rows;
        cells_.assign(columns * rows, Cell{});
    }
    [[nodiscard]] std::size_t columns() const noexcept { return columns_; }
    [[nodiscard]] std::size_t rows() const noexcept { return rows_; }
    [[nodiscard]] std::size_t cell_width() const noexcept { return cell_width_; }
    [[nodiscard]] std::size_t cell_height() const noexcept { return cell_height_; }

    [[nodiscard]] std::span<Cell> row(std::size_t index) noexcept
    {
        return std::span<Cell>(cells_.data() + index * columns_, columns_);
    }
    [[nodiscard]] std::span<const Cell> row(std::size_t index) const noexcept
    {
        return std::span<const Cell>(cells_.data() + index * columns_, columns_);
    }
    [[nodiscard]] const Cell& at(std::size_t row_index, std::size_t column) const noexcept
    {
        return cells_[row_index * columns_ + column];
    }
    void clear() noexcept { std::fill(cells_.begin(), cells_.end(), Cell{}); }

    friend bool operator==(const Picture&, const Picture&) = default;

private:
    std::size_t cell_width_ = 0;
    std::size_t cell_height_ = 0;
    std::size_t columns_ = 0;
    std::size_t rows_ = 0;
    std::vector<Cell> cells_;
};

}  // namespace insim_screen
