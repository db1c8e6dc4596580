#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumaflick {

// One way of turning a frame's pixels into lines of text, one line per pixel
// row. The frame update compares rows by their cells, a compact form of the
// row computed for every frame, and writes the text only of rows whose cells
// changed: rows with equal cells must give equal text.
class Painter {
public:
    virtual ~Painter() = default;

    // Bytes of one pixel in the decoder's frames.
    [[nodiscard]] virtual std::size_t pixel_size() const noexcept = 0;
    // Cells of one pixel.
    [[nodiscard]] virtual std::size_t cell_size() const noexcept = 0;
    // The longest text of one pixel.
    [[nodiscard]] virtual std::size_t longest_glyph() const noexcept = 0;

    // The cells of whole pixels (pixel_size() bytes each), row after row, into
    // `cells`, which holds cell_size() bytes for each of those pixels.
    virtual void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept = 0;

    // Writes the text of a row with these cells and gives its length. `out`
    // has room for longest_glyph() bytes per pixel plus 8 bytes of slack.
    virtual std::size_t write_line(std::span<const std::uint8_t> cells, char* out) const noexcept = 0;

    // True when rows of different cells always have different text, so that
    // comparing cells is comparing lines.
    [[nodiscard]] virtual bool distinct_texts() const noexcept = 0;
    // True when the painter can write a line as the shortest packing sends
    // it: each colour code that repeats the one in force left out.
    [[nodiscard]] virtual bool compacts_lines() const noexcept = 0;
    // Only when compacts_lines(); as write_line().
    virtual std::size_t write_compact_line(std::span<const std::uint8_t> cells, char* out) const noexcept = 0;

protected:
    Painter() = default;
    Painter(const Painter&) = default;
    Painter& operator=(const Painter&) = default;
};

}  // namespace lumaflick
