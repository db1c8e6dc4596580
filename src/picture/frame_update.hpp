#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "geometry.hpp"
#include "picture/button_grid.hpp"
#include "picture/painter.hpp"
#include "picture/render.hpp"

namespace lumaflick {

// What showing one frame changes on LFS's screen: the text shown in every
// button, and the packets that change it. All of it is sized once; a frame
// allocates nothing.
class FrameUpdate {
public:
    // Four brightness classes drawn with these glyph strings.
    static FrameUpdate grey(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);
    // RGB frames in LFS's eight colours.
    static FrameUpdate colour(Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);
    // Any way of painting; its rows are always lines.
    FrameUpdate(std::unique_ptr<Painter> painter, Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);

    // The bytes of whole pixels a frame holds.
    [[nodiscard]] std::size_t frame_size() const noexcept;

    // Takes the bytes a read gave (whole pixels are drawn, row after row) and
    // gives the packets that show them: a button for every line that differs
    // from the one last shown, in line order. Empty when nothing changed.
    std::span<const std::byte> show(std::span<const std::uint8_t> frame);

private:
    FrameUpdate(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry);
    void show_rows(std::span<const std::uint8_t> frame);
    void show_text(std::span<const std::uint8_t> frame);

    Geometry geometry_;
    ButtonBlock block_;

    // Rows, for painters and for glyph strings that keep a row on one line:
    // the cells and text last shown in each button (the text only where
    // different cells can spell the same text).
    std::unique_ptr<Painter> painter_;
    bool compact_lines_ = false;  // the painter writes lines as the packing sends them
    std::vector<std::uint8_t> cells_;        // this frame's
    std::vector<std::uint8_t> shown_cells_;  // row after row, at a stride of a full row
    std::vector<std::size_t> shown_cell_count_;
    std::vector<char> line_store_;  // a line a row and a spare one
    std::vector<char*> shown_line_;
    std::vector<std::size_t> shown_length_;
    char* spare_line_ = nullptr;

    // Text, for glyph strings with line breaks in them: a row can be many
    // lines, so whole texts are rendered and compared line by line.
    GlyphStrings glyphs_;
    std::string current_;
    std::string previous_;
};

}  // namespace lumaflick
