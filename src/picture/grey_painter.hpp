#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "picture/glyph_table.hpp"
#include "picture/painter.hpp"
#include "picture/render.hpp"

namespace lumaflick {

// Four brightness classes from the frame's mean, each drawn with its glyph
// string. Only for glyph strings that keep one line per row (see
// keeps_rows_as_lines); the others take the frame update's text path.
class GreyPainter final : public Painter {
public:
    // Rows `width` pixels wide, written a button (at most 80 pixels) a line.
    GreyPainter(const GlyphStrings& glyphs, std::size_t width);

    void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept override;
    std::size_t write_line(std::span<const std::uint8_t> cells, char* out, bool compact) const noexcept override
    {
        return compact && table_.compacts() ? table_.write_compact(cells, out) : table_.write(cells, out);
    }
    // Classes further apart in brightness look further apart.
    std::uint32_t difference(std::span<const std::uint8_t> now, std::span<const std::uint8_t> shown) const noexcept override
    {
        return sum_over_cells(now, shown, [](std::uint8_t a, std::uint8_t b) {
            return static_cast<std::uint8_t>(a > b ? a - b : b - a);
        });
    }

private:
    GlyphTable table_;
    // A cell is the first class with the same glyph string, so that classes
    // drawn alike compare equal.
    std::array<std::uint8_t, 4> same_as_{};
    bool merges_classes_ = false;
};

// False when a glyph string holds a line feed or ends in a carriage return:
// then a row's text is not one line.
bool keeps_rows_as_lines(const GlyphStrings& glyphs) noexcept;

}  // namespace lumaflick
