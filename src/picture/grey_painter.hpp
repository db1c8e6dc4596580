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
    explicit GreyPainter(const GlyphStrings& glyphs);

    [[nodiscard]] std::size_t pixel_size() const noexcept override { return 1; }
    [[nodiscard]] std::size_t cell_size() const noexcept override { return 1; }
    [[nodiscard]] std::size_t longest_glyph() const noexcept override { return table_.longest(); }
    void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept override;
    std::size_t write_line(std::span<const std::uint8_t> cells, char* out) const noexcept override
    {
        return table_.write(cells, out);
    }
    [[nodiscard]] bool distinct_texts() const noexcept override { return distinct_texts_; }
    [[nodiscard]] bool compacts_lines() const noexcept override { return table_.compacts(); }
    std::size_t write_compact_line(std::span<const std::uint8_t> cells, char* out) const noexcept override
    {
        return table_.write_compact(cells, out);
    }

private:
    GlyphTable table_;
    // A cell is the first class with the same glyph string, so that classes
    // drawn alike compare equal.
    std::array<std::uint8_t, 4> same_as_{};
    bool merges_classes_ = false;
    bool distinct_texts_ = false;
};

// False when a glyph string holds a line feed or ends in a carriage return:
// then a row's text is not one line.
bool keeps_rows_as_lines(const GlyphStrings& glyphs) noexcept;

}  // namespace lumaflick
