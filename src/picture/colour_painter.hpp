#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "picture/glyph_table.hpp"
#include "picture/painter.hpp"

namespace lumaflick {

// RGB pixels in LFS's eight colours, ^0 to ^7 (code = R + 2G + 4B), each
// channel dithered with a 4×4 ordered (Bayer) pattern. The pattern is fixed in
// place, so a still picture stays still and only changed rows are sent.
class ColourPainter final : public Painter {
public:
    // Rows `width` pixels wide, written a button (at most 80 pixels) a line.
    explicit ColourPainter(std::size_t width);

    void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept override;
    // A pixel's cells are its three channels, each 0 or its weight in the code.
    std::size_t write_line(std::span<const std::uint8_t> cells, char* out, bool compact) const noexcept override;
    // The distance of two of the eight colours is the number of channels in
    // which they differ: one from black to red, three from black to white.
    std::uint32_t difference(std::span<const std::uint8_t> now, std::span<const std::uint8_t> shown) const noexcept override
    {
        return sum_over_cells(now, shown, [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a != b); });
    }

private:
    std::size_t row_bytes_;
    // For each row of the pattern, every byte's threshold, and its weight.
    std::array<std::vector<std::uint8_t>, 4> thresholds_;
    std::vector<std::uint8_t> weights_;
    // A row's colour codes, written while a line is.
    mutable std::vector<std::uint8_t> codes_;
    GlyphTable table_;
};

}  // namespace lumaflick
