#include "picture/grey_painter.hpp"

#include <algorithm>
#include <cstring>

#include "geometry.hpp"

namespace lumaflick {

namespace {

PainterShape grey_shape(const GlyphStrings& glyphs, const GlyphTable& table)
{
    PainterShape shape;
    shape.longest_glyph = table.longest();
    // Distinct glyph strings of one length, one per cell, spell distinct rows.
    shape.distinct_texts = !glyphs[0].empty() && std::all_of(glyphs.begin(), glyphs.end(), [&](const std::string& glyph) {
        return glyph.size() == glyphs[0].size();
    });
    shape.compacts_lines = table.compacts();
    return shape;
}

}  // namespace

GreyPainter::GreyPainter(const GlyphStrings& glyphs, std::size_t width)
    : table_(glyphs, std::min(width, Geometry::BUTTON_PIXELS))
{
    set_shape(grey_shape(glyphs, table_));
    for (std::size_t c = 0; c < glyphs.size(); ++c) {
        const auto first = std::find(glyphs.begin(), glyphs.end(), glyphs[c]);
        same_as_[c] = static_cast<std::uint8_t>(first - glyphs.begin());
        merges_classes_ = merges_classes_ || same_as_[c] != c;
    }
}

void GreyPainter::paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept
{
    const LumaThresholds t = compute_thresholds(pixels);
    const std::uint8_t* in = pixels.data();
    std::uint8_t* out = cells.data();
    std::size_t i = 0;
    // Classes do not depend on the row, so the frame goes in chunks of a fixed
    // size through a local buffer: a loop of a fixed count over memory that
    // cannot overlap its input is one the compiler vectorises at -O2.
    constexpr std::size_t CHUNK = 32;
    std::array<std::uint8_t, CHUNK> chunk{};
    for (; i + CHUNK <= pixels.size(); i += CHUNK) {
        for (std::size_t x = 0; x < CHUNK; ++x) {
            const std::uint8_t v = in[i + x];
            chunk[x] = static_cast<std::uint8_t>((v >= t.low) + (v >= t.mid) + (v >= t.high));
        }
        std::memcpy(out + i, chunk.data(), CHUNK);
    }
    for (; i < pixels.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(glyph_class(in[i], t));
    }
    if (merges_classes_) {
        for (std::size_t p = 0; p < pixels.size(); ++p) out[p] = same_as_[out[p]];
    }
}

bool keeps_rows_as_lines(const GlyphStrings& glyphs) noexcept
{
    return std::none_of(glyphs.begin(), glyphs.end(), [](const std::string& glyph) {
        return glyph.find('\n') != std::string::npos || glyph.ends_with('\r');
    });
}

}  // namespace lumaflick
