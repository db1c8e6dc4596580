#include "picture/grey_painter.hpp"

#include <algorithm>
#include <cstring>

#include "frame.hpp"

namespace lumaflick {

GreyPainter::GreyPainter(const GlyphStrings& glyphs) : table_(glyphs)
{
    for (std::size_t c = 0; c < glyphs.size(); ++c) {
        const auto first = std::find(glyphs.begin(), glyphs.end(), glyphs[c]);
        same_as_[c] = static_cast<std::uint8_t>(first - glyphs.begin());
        merges_classes_ = merges_classes_ || same_as_[c] != c;
    }
    // Distinct glyph strings of one length, one per cell, spell distinct rows.
    distinct_texts_ = !glyphs[0].empty() && std::all_of(glyphs.begin(), glyphs.end(), [&](const std::string& glyph) {
        return glyph.size() == glyphs[0].size();
    });
}

void GreyPainter::paint(std::span<const std::uint8_t> pixels, std::span<std::uint8_t> cells) noexcept
{
    const LumaThresholds t = compute_thresholds(pixels);
    const std::uint8_t* in = pixels.data();
    std::uint8_t* out = cells.data();
    std::size_t i = 0;
    // Whole rows through a local row: a loop of a fixed count over memory
    // that cannot overlap its input is one the compiler vectorises.
    std::array<std::uint8_t, FRAME_WIDTH> row{};
    for (; i + FRAME_WIDTH <= pixels.size(); i += FRAME_WIDTH) {
        for (std::size_t x = 0; x < FRAME_WIDTH; ++x) {
            const std::uint8_t v = in[i + x];
            row[x] = static_cast<std::uint8_t>((v >= t.low) + (v >= t.mid) + (v >= t.high));
        }
        std::memcpy(out + i, row.data(), row.size());
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
