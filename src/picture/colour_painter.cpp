#include "picture/colour_painter.hpp"

#include <cstring>
#include <string>

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

// A row's colour codes from its cells.
std::array<std::uint8_t, FRAME_WIDTH> codes_of(std::span<const std::uint8_t> cells, std::size_t pixels) noexcept
{
    std::array<std::uint8_t, FRAME_WIDTH> codes{};
    for (std::size_t p = 0; p < pixels; ++p) {
        codes[p] = static_cast<std::uint8_t>(cells[3 * p] + cells[3 * p + 1] + cells[3 * p + 2]);
    }
    return codes;
}

}  // namespace

ColourPainter::ColourPainter() : table_(CODES)
{
    for (std::size_t i = 0; i < ROW_BYTES; ++i) {
        for (std::size_t row = 0; row < 4; ++row) thresholds_[row][i] = threshold(i / 3, row);
        weights_[i] = static_cast<std::uint8_t>(1U << (i % 3));
    }
}

void ColourPainter::paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept
{
    const std::uint8_t* in = pixels.data();
    std::uint8_t* out = cells.data();
    // Whole rows through a local row: a loop of a fixed count over memory
    // that cannot overlap its input is one the compiler vectorises.
    std::array<std::uint8_t, ROW_BYTES> row_cells{};
    std::size_t i = 0;
    for (std::size_t row = 0; i < pixels.size(); ++row, i += ROW_BYTES) {
        const auto& t = thresholds_[row % 4];
        if (pixels.size() - i >= ROW_BYTES) {
            for (std::size_t x = 0; x < ROW_BYTES; ++x) {
                // A mask, not a branch, so that the loop vectorises.
                row_cells[x] = static_cast<std::uint8_t>(-static_cast<int>(in[i + x] > t[x]) & weights_[x]);
            }
            std::memcpy(out + i, row_cells.data(), ROW_BYTES);
        } else {
            for (std::size_t x = 0; i + x < pixels.size(); ++x) {
                out[i + x] = in[i + x] > t[x] ? weights_[x] : std::uint8_t{0};
            }
        }
    }
}

std::size_t ColourPainter::write_line(std::span<const std::uint8_t> cells, char* out) const noexcept
{
    const std::size_t pixels = cells.size() / 3;
    const auto codes = codes_of(cells, pixels);
    return table_.write(std::span(codes).first(pixels), out);
}

std::size_t ColourPainter::write_compact_line(std::span<const std::uint8_t> cells, char* out) const noexcept
{
    const std::size_t pixels = cells.size() / 3;
    const auto codes = codes_of(cells, pixels);
    return table_.write_compact(std::span(codes).first(pixels), out);
}

}  // namespace lumaflick
