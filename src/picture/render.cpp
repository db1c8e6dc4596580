#include "picture/render.hpp"

#include <algorithm>
#include <cstring>

namespace lumaflick {
namespace {

// Bytes summed at a time in 32 bits: a loop of a fixed count is one the compiler vectorises.
constexpr std::size_t SUM_CHUNK = 64;

// A row's lines: one a button.
std::size_t lines_of(std::size_t pixels) noexcept
{
    return (pixels + Geometry::BUTTON_PIXELS - 1) / Geometry::BUTTON_PIXELS;
}

// Any glyph strings: one table lookup and one copy per pixel, into a text sized
// exactly beforehand so that huge glyph strings never over-reserve.
void render_any(std::span<const std::uint8_t> pixels, const LumaThresholds& thresholds, const GlyphStrings& glyphs,
                std::size_t width, std::string& text)
{
    std::array<std::uint8_t, 256> classes{};
    for (unsigned value = 0; value < classes.size(); ++value) {
        classes[value] = static_cast<std::uint8_t>(glyph_class(static_cast<std::uint8_t>(value), thresholds));
    }
    std::array<std::size_t, 4> counts{};
    for (const std::uint8_t pixel : pixels) {
        ++counts[classes[pixel]];
    }
    std::size_t size = 0;
    for (std::size_t row = 0; row < pixels.size(); row += width) {
        size += lines_of(std::min(width, pixels.size() - row));
    }
    for (std::size_t c = 0; c < glyphs.size(); ++c) {
        size += counts[c] * glyphs[c].size();
    }

    const std::size_t start = text.size();
    text.resize(start + size);
    char* out = text.data() + start;
    for (std::size_t row = 0; row < pixels.size(); row += width) {
        const std::size_t row_end = std::min(row + width, pixels.size());
        for (std::size_t line = row; line < row_end; line += Geometry::BUTTON_PIXELS) {
            const std::size_t end = std::min(line + Geometry::BUTTON_PIXELS, row_end);
            for (std::size_t i = line; i < end; ++i) {
                const std::string& glyph = glyphs[classes[pixels[i]]];
                std::memcpy(out, glyph.data(), glyph.size());
                out += glyph.size();
            }
            *out++ = '\n';
        }
    }
}

std::uint64_t sum_bytes(std::span<const std::uint8_t> pixels) noexcept
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + SUM_CHUNK <= pixels.size(); i += SUM_CHUNK) {
        std::uint32_t chunk = 0;
        for (std::size_t x = 0; x < SUM_CHUNK; ++x) chunk += pixels[i + x];
        sum += chunk;
    }
    for (; i < pixels.size(); ++i) sum += pixels[i];
    return sum;
}

}  // namespace

LumaThresholds compute_thresholds(std::span<const std::uint8_t> pixels) noexcept
{
    const std::uint64_t mean = pixels.empty() ? 0 : sum_bytes(pixels) / pixels.size();
    const unsigned mid = mean >= 16 ? static_cast<unsigned>(mean) : 64U;
    return LumaThresholds{
        .low = static_cast<std::uint8_t>(mid / 2),
        .mid = static_cast<std::uint8_t>(mid),
        .high = static_cast<std::uint8_t>(mid + (255 - mid) / 2),
    };
}

unsigned glyph_class(std::uint8_t value, const LumaThresholds& thresholds) noexcept
{
    // low <= mid <= high always holds, so counting the thresholds reached gives the class.
    return unsigned{value >= thresholds.low} + unsigned{value >= thresholds.mid} + unsigned{value >= thresholds.high};
}

void render_frame_text(std::span<const std::uint8_t> pixels, const GlyphStrings& glyphs, std::string& text,
                       std::size_t width)
{
    render_any(pixels, compute_thresholds(pixels), glyphs, std::max<std::size_t>(width, 1), text);
}

std::size_t max_frame_text_size(const GlyphStrings& glyphs, const Geometry& geometry) noexcept
{
    std::size_t longest = 0;
    for (const std::string& glyph : glyphs) {
        longest = std::max(longest, glyph.size());
    }
    return geometry.pixels() * longest + geometry.buttons();
}

}  // namespace lumaflick
