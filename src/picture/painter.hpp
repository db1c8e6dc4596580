#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "insim/packets.hpp"

namespace lumaflick {

// No line can have more pixels than a button has bytes of text.
inline constexpr std::size_t MAX_LINE_PIXELS = insim::BUTTON_TEXT_SIZE;

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

// One way of turning a frame's pixels into lines of text, one line per
// button: a pixel row, or a part of one. The frame update compares rows by their cells, a compact
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

    // How different two rows of cells of one length look: 0 when alike, and
    // more the more cells differ and the further apart their looks are.
    virtual std::uint32_t difference(std::span<const std::uint8_t> now,
                                     std::span<const std::uint8_t> shown) const noexcept = 0;

protected:
    Painter() = default;
    Painter(const Painter&) = default;
    Painter& operator=(const Painter&) = default;
    // By the painter's constructor, once it knows.
    void set_shape(const PainterShape& shape) noexcept { shape_ = shape; }

private:
    PainterShape shape_;
};

// The sum of `weigh(a, b)` over two rows of cells of one length, in chunks of
// a fixed size summed lane by lane: a loop of a fixed count is one the
// compiler vectorises at -O2. A line has at most 720 cells, so no lane of 16
// bits overflows.
template <typename Weigh>
std::uint32_t sum_over_cells(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, Weigh weigh) noexcept
{
    constexpr std::size_t CHUNK = 16;
    const std::size_t n = std::min(a.size(), b.size());
    std::array<std::uint16_t, CHUNK> lanes{};
    std::size_t i = 0;
    for (; i + CHUNK <= n; i += CHUNK) {
        for (std::size_t k = 0; k < CHUNK; ++k) lanes[k] = static_cast<std::uint16_t>(lanes[k] + weigh(a[i + k], b[i + k]));
    }
    std::uint32_t total = 0;
    for (const std::uint16_t lane : lanes) total += lane;
    for (; i < n; ++i) total += weigh(a[i], b[i]);
    return total;
}

}  // namespace lumaflick
