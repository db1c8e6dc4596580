#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "geometry.hpp"

namespace lumaflick {

struct LumaThresholds {
    std::uint8_t low = 0;
    std::uint8_t mid = 0;
    std::uint8_t high = 0;
    friend bool operator==(const LumaThresholds&, const LumaThresholds&) = default;
};

// The four glyph strings, darkest class first.
using GlyphStrings = std::array<std::string, 4>;

// Thresholds from the mean of the bytes (a mean below 16 uses 64; no bytes
// count as black).
LumaThresholds compute_thresholds(std::span<const std::uint8_t> pixels) noexcept;

// 0 to 3; a value equal to a threshold belongs to the upper class.
unsigned glyph_class(std::uint8_t value, const LumaThresholds& thresholds) noexcept;

// Appends one line per button of each run of `width` pixels (a row), each
// followed by a line feed.
void render_frame_text(std::span<const std::uint8_t> pixels, const GlyphStrings& glyphs, std::string& text,
                       std::size_t width = DEFAULT_GEOMETRY.width);

// The longest text one frame can give with these glyph strings. A text whose
// capacity is at least this never grows while frames are rendered into it.
std::size_t max_frame_text_size(const GlyphStrings& glyphs, const Geometry& geometry = DEFAULT_GEOMETRY) noexcept;

}  // namespace lumaflick
