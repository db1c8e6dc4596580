#include "picture/grey_painter.hpp"

#include <algorithm>
#include <cstring>

#include "frame.hpp"

namespace lumaflick {

GreyPainter::GreyPainter(const GlyphStrings& glyphs) : glyphs_(glyphs)
{
    for (std::size_t c = 0; c < glyphs_.size(); ++c) {
        const auto first = std::find(glyphs_.begin(), glyphs_.end(), glyphs_[c]);
        same_as_[c] = static_cast<std::uint8_t>(first - glyphs_.begin());
        merges_classes_ = merges_classes_ || same_as_[c] != c;
        lengths_[c] = glyphs_[c].size();
        longest_ = std::max(longest_, lengths_[c]);
        std::memcpy(&words_[c], glyphs_[c].data(), std::min(glyphs_[c].size(), sizeof(std::uint64_t)));
    }
    if (longest_ <= sizeof(std::uint64_t) / 2) {
        for (std::size_t a = 0; a < 4; ++a) {
            for (std::size_t b = 0; b < 4; ++b) {
                const std::string pair = glyphs_[a] + glyphs_[b];
                std::memcpy(&pair_words_[4 * a + b], pair.data(), pair.size());
                pair_lengths_[4 * a + b] = pair.size();
            }
        }
    }
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

std::size_t GreyPainter::write_line(std::span<const std::uint8_t> cells, char* out) const noexcept
{
    char* const start = out;
    if (longest_ <= sizeof(std::uint64_t) / 2) {
        // Two pixels a step: half the stores and half the dependent additions.
        std::size_t i = 0;
        for (; i + 2 <= cells.size(); i += 2) {
            const std::size_t pair = 4 * std::size_t{cells[i]} + cells[i + 1];
            std::memcpy(out, &pair_words_[pair], sizeof(std::uint64_t));
            out += pair_lengths_[pair];
        }
        if (i < cells.size()) {
            std::memcpy(out, &words_[cells[i]], sizeof(std::uint64_t));
            out += lengths_[cells[i]];
        }
    } else if (longest_ <= sizeof(std::uint64_t)) {
        // Each word may spill up to 8 bytes past its glyph; the next one overwrites it.
        for (const std::uint8_t cell : cells) {
            std::memcpy(out, &words_[cell], sizeof(std::uint64_t));
            out += lengths_[cell];
        }
    } else {
        for (const std::uint8_t cell : cells) {
            out = std::copy(glyphs_[cell].begin(), glyphs_[cell].end(), out);
        }
    }
    return static_cast<std::size_t>(out - start);
}

bool keeps_rows_as_lines(const GlyphStrings& glyphs) noexcept
{
    return std::none_of(glyphs.begin(), glyphs.end(), [](const std::string& glyph) {
        return glyph.find('\n') != std::string::npos || glyph.ends_with('\r');
    });
}

}  // namespace lumaflick
