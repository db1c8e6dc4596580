#include "picture/colour_painter.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "geometry.hpp"

namespace lumaflick {

namespace {

// Ordered-dither ranks of a 4×4 tile; a channel is on where it exceeds
// (rank + 0.5) × 16, so 0 stays off, 255 stays on and 128 lights half the tile.
constexpr std::array<std::array<std::uint8_t, 4>, 4> BAYER{{{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}}};

constexpr std::uint8_t threshold(std::size_t column, std::size_t row) noexcept
{
    return static_cast<std::uint8_t>(16 * BAYER[row % 4][column % 4] + 8);
}

const std::array<std::string, 8> CODES{"^0_", "^1_", "^2_", "^3_", "^4_", "^5_", "^6_", "^7_"};

}  // namespace

ColourPainter::ColourPainter(std::size_t width)
    : row_bytes_(3 * std::max<std::size_t>(width, 1)), weights_(row_bytes_),
      codes_(std::min(width, Geometry::BUTTON_PIXELS)), table_(CODES, codes_.size())
{
    set_shape({.pixel_size = 3, .cell_size = 3, .longest_glyph = 3, .distinct_texts = true, .compacts_lines = true});
    for (std::size_t row = 0; row < 4; ++row) {
        thresholds_[row].resize(row_bytes_);
        for (std::size_t i = 0; i < row_bytes_; ++i) thresholds_[row][i] = threshold(i / 3, row);
    }
    for (std::size_t i = 0; i < row_bytes_; ++i) weights_[i] = static_cast<std::uint8_t>(1U << (i % 3));
}

void ColourPainter::paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept
{
    const std::uint8_t* in = pixels.data();
    std::uint8_t* out = cells.data();
    const std::size_t row_bytes = row_bytes_;
    const std::uint8_t* weights = weights_.data();
    // A row goes in chunks of a fixed size through a local buffer: a loop of
    // a fixed count over memory that cannot overlap its input is one the
    // compiler vectorises at -O2. The rest of a row, and a short last row,
    // go byte by byte.
    constexpr std::size_t CHUNK = 48;
    std::array<std::uint8_t, CHUNK> chunk{};
    for (std::size_t row = 0, i = 0; i < pixels.size(); ++row, i += row_bytes) {
        const std::uint8_t* t = thresholds_[row % 4].data();
        const std::size_t bytes = std::min(row_bytes, pixels.size() - i);
        std::size_t x = 0;
        for (; x + CHUNK <= bytes; x += CHUNK) {
            for (std::size_t k = 0; k < CHUNK; ++k) {
                // A mask, not a branch, so that the loop vectorises.
                chunk[k] = static_cast<std::uint8_t>(-static_cast<int>(in[i + x + k] > t[x + k]) & weights[x + k]);
            }
            std::memcpy(out + i + x, chunk.data(), CHUNK);
        }
        for (; x < bytes; ++x) out[i + x] = in[i + x] > t[x] ? weights[x] : std::uint8_t{0};
    }
}

std::size_t ColourPainter::write_line(std::span<const std::uint8_t> cells, char* out, bool compact) const noexcept
{
    const std::size_t pixels = std::min(cells.size() / 3, codes_.size());
    for (std::size_t p = 0; p < pixels; ++p) {
        codes_[p] = static_cast<std::uint8_t>(cells[3 * p] + cells[3 * p + 1] + cells[3 * p + 2]);
    }
    const auto codes = std::span<const std::uint8_t>(codes_).first(pixels);
    return compact ? table_.write_compact(codes, out) : table_.write(codes, out);
}

}  // namespace lumaflick
