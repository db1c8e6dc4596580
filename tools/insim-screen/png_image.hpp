#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "failure.hpp"
#include "picture.hpp"

namespace insim_screen {

// A snapshot draws a glyph of the player's (3 by 6 units) as a block of this
// many pixels, and any picture at that scale.
inline constexpr std::size_t CELL_WIDTH = 8;
inline constexpr std::size_t CELL_HEIGHT = 16;

struct RgbImage {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;  // r, g, b per pixel, rows from the top
};

RgbImage picture_image(const Picture& picture);

Status write_png(const std::string& path, const RgbImage& image);
Result<RgbImage> read_png(const std::string& path);

using CellColours = std::array<Colour, PICTURE_COLUMNS * PICTURE_ROWS>;

// The colour of every cell of a snapshot, row by row, read at the cell's
// centre; nothing when the size or a colour is not a snapshot's.
std::optional<CellColours> snapshot_colours(const RgbImage& image);

}  // namespace insim_screen
