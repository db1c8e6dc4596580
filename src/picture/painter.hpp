#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "insim/packets.hpp"

namespace lumaflick {

// No row can have more pixels than a button has bytes of text, which lets
// painters keep a row on the stack, where the compiler sees it alias nothing.
inline constexpr std::size_t MAX_ROW_PIXELS = insim::BUTTON_TEXT_SIZE;

// What a painter's pixels and lines are like; fixed when it is made.
struct PainterShape {
    std::size_t pixel_size = 1;     // bytes of one pixel in the decoder's frames
    std::size_t cell_size = 1;      // cells of one pixel
    std::size_t longest_glyph = 1;  // the longest text of one pixel
    // Rows of different cells always have different text, so that comparing
    // cells is comparing lines.
    bool distinct_texts = false;
    // Lines can be written as the shortest packing sends them: each colour
    // code that repeats the one in force left out.
    bool compacts_lines = false;
};

// One way of turning a frame's pixels into lines of text, one line per pixel
// row of any width. The frame update compares rows by their cells, a compact
// form of the row computed for every frame, and writes the text only of rows
// whose cells changed: rows with equal cells must give equal text.
class Painter {
public:
    virtual ~Painter() = default;

    [[nodiscard]] const PainterShape& shape() const noexcept { return shape_; }

    // The cells of whole pixels (pixel_size bytes each), row after row, into
    // `cells`, which holds cell_size bytes for each of those pixels.
    virtual void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept = 0;

    // Writes the text of a row with these cells and gives its length; with
    // `compact`, as the shortest packing sends it when the shape allows.
    // `out` has room for longest_glyph bytes per pixel plus 8 bytes of slack.
    virtual std::size_t write_line(std::span<const std::uint8_t> cells, char* out, bool compact) const noexcept = 0;

protected:
    Painter() = default;
    Painter(const Painter&) = default;
    Painter& operator=(const Painter&) = default;
    // By the painter's constructor, once it knows.
    void set_shape(const PainterShape& shape) noexcept { shape_ = shape; }

private:
    PainterShape shape_;
};

}  // namespace lumaflick
