#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "frame.hpp"
#include "picture/glyph_table.hpp"
#include "picture/painter.hpp"

namespace lumaflick {

// RGB pixels in LFS's eight colours, ^0 to ^7 (code = R + 2G + 4B), each
// channel dithered with a 4×4 ordered (Bayer) pattern. The pattern is fixed in
// place, so a still picture stays still and only changed rows are sent.
class ColourPainter final : public Painter {
public:
    ColourPainter();

    [[nodiscard]] std::size_t pixel_size() const noexcept override { return 3; }
    // A pixel's cells are its three channels, each 0 or its weight in the code.
    [[nodiscard]] std::size_t cell_size() const noexcept override { return 3; }
    [[nodiscard]] std::size_t longest_glyph() const noexcept override { return 3; }
    void paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept override;
    std::size_t write_line(std::span<const std::uint8_t> cells, char* out) const noexcept override;
    [[nodiscard]] bool distinct_texts() const noexcept override { return true; }
    [[nodiscard]] bool compacts_lines() const noexcept override { return true; }
    std::size_t write_compact_line(std::span<const std::uint8_t> cells, char* out) const noexcept override;

private:
    static constexpr std::size_t ROW_BYTES = 3 * FRAME_WIDTH;
    // For each row of the pattern, every byte's threshold and weight.
    std::array<std::array<std::uint8_t, ROW_BYTES>, 4> thresholds_{};
    std::array<std::uint8_t, ROW_BYTES> weights_{};
    GlyphTable table_;
};

}  // namespace lumaflick
