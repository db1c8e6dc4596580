#include "picture/render.hpp"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMAFLICK_RENDER_X86 1
#include <immintrin.h>
#endif

namespace lumaflick {
namespace {

std::size_t row_count(std::size_t pixels) noexcept { return (pixels + FRAME_WIDTH - 1) / FRAME_WIDTH; }

// Any glyph strings: one table lookup and one copy per pixel, into a text sized
// exactly beforehand so that huge glyph strings never over-reserve.
void render_any(std::span<const std::uint8_t> pixels, const LumaThresholds& thresholds, const GlyphStrings& glyphs,
                std::string& text)
{
    std::array<std::uint8_t, 256> classes{};
    for (unsigned value = 0; value < classes.size(); ++value) {
        classes[value] = static_cast<std::uint8_t>(glyph_class(static_cast<std::uint8_t>(value), thresholds));
    }
    std::array<std::size_t, 4> counts{};
    for (const std::uint8_t pixel : pixels) {
        ++counts[classes[pixel]];
    }
    std::size_t size = row_count(pixels.size());
    for (std::size_t c = 0; c < glyphs.size(); ++c) {
        size += counts[c] * glyphs[c].size();
    }

    const std::size_t start = text.size();
    text.resize(start + size);
    char* out = text.data() + start;
    for (std::size_t row = 0; row < pixels.size(); row += FRAME_WIDTH) {
        const std::size_t end = std::min(row + FRAME_WIDTH, pixels.size());
        for (std::size_t i = row; i < end; ++i) {
            const std::string& glyph = glyphs[classes[pixels[i]]];
            std::memcpy(out, glyph.data(), glyph.size());
            out += glyph.size();
        }
        *out++ = '\n';
    }
}

#if defined(LUMAFLICK_RENDER_X86)

#define LUMAFLICK_AVX2 __attribute__((target("avx2")))

bool has_avx2() noexcept
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported;
}

// Adds whole 32-byte blocks; gives the count of bytes added.
LUMAFLICK_AVX2 std::size_t sum_blocks_avx2(std::span<const std::uint8_t> pixels, std::uint64_t& sum) noexcept
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i lanes = zero;
    std::size_t i = 0;
    for (; i + 32 <= pixels.size(); i += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels.data() + i));
        lanes = _mm256_add_epi64(lanes, _mm256_sad_epu8(bytes, zero));
    }
    std::array<std::uint64_t, 4> parts{};
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(parts.data()), lanes);
    sum += parts[0] + parts[1] + parts[2] + parts[3];
    return i;
}

// For glyph strings of one common length L (1 to 4), all four fit in one
// 16-byte table, so each 16 output bytes take two byte shuffles: one spreads
// the pixels' classes over their L bytes, one looks the bytes up. Comparisons
// give -1 per threshold reached, so a pixel's byte k sits at 4k + 3 - class.
template <std::size_t L>
struct ShufflePatterns {
    // Output byte j of 16 pixels comes from pixel j / L, glyph byte j % L.
    std::array<std::array<std::uint8_t, 16>, L> pixel{};
    std::array<std::array<std::uint8_t, 16>, L> offset{};

    constexpr ShufflePatterns()
    {
        for (std::size_t part = 0; part < L; ++part) {
            for (std::size_t b = 0; b < 16; ++b) {
                const std::size_t j = 16 * part + b;
                pixel[part][b] = static_cast<std::uint8_t>(j / L);
                offset[part][b] = static_cast<std::uint8_t>(4 * (j % L) + 3);
            }
        }
    }
};

template <std::size_t L>
inline constexpr ShufflePatterns<L> shuffle_patterns{};

// Both 128-bit lanes hold the same 16 bytes.
LUMAFLICK_AVX2 inline __m256i broadcast16(const std::uint8_t* bytes) noexcept
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// Shuffles work within 128-bit lanes, so a 256-bit step renders two runs of
// 16 pixels side by side and stores each lane's bytes where its run goes.
template <std::size_t L>
LUMAFLICK_AVX2 void render_uniform_avx2(std::span<const std::uint8_t> pixels, const LumaThresholds& thresholds,
                                        const GlyphStrings& glyphs, char* out) noexcept
{
    std::array<std::uint8_t, 16> table{};
    for (std::size_t c = 0; c < 4; ++c) {
        for (std::size_t k = 0; k < L; ++k) {
            table[4 * k + 3 - c] = static_cast<std::uint8_t>(glyphs[c][k]);
        }
    }
    const __m256i glyph_bytes = broadcast16(table.data());
    __m256i pixel_pattern[L];
    __m256i offset_pattern[L];
#pragma GCC unroll 4
    for (std::size_t part = 0; part < L; ++part) {
        pixel_pattern[part] = broadcast16(shuffle_patterns<L>.pixel[part].data());
        offset_pattern[part] = broadcast16(shuffle_patterns<L>.offset[part].data());
    }
    const __m256i low = _mm256_set1_epi8(static_cast<char>(thresholds.low));
    const __m256i mid = _mm256_set1_epi8(static_cast<char>(thresholds.mid));
    const __m256i high = _mm256_set1_epi8(static_cast<char>(thresholds.high));

    // Minus the class of each byte: v >= t exactly when max(v, t) == v (unsigned).
    const auto minus_class = [&](__m256i v) LUMAFLICK_AVX2 {
        const __m256i at_low = _mm256_cmpeq_epi8(_mm256_max_epu8(v, low), v);
        const __m256i at_mid = _mm256_cmpeq_epi8(_mm256_max_epu8(v, mid), v);
        const __m256i at_high = _mm256_cmpeq_epi8(_mm256_max_epu8(v, high), v);
        return _mm256_add_epi8(_mm256_add_epi8(at_low, at_mid), at_high);
    };
    const auto glyph_part = [&](__m256i classes, std::size_t part) LUMAFLICK_AVX2 {
        const __m256i index = _mm256_add_epi8(_mm256_shuffle_epi8(classes, pixel_pattern[part]), offset_pattern[part]);
        return _mm256_shuffle_epi8(glyph_bytes, index);
    };

    for (std::size_t row = 0; row < pixels.size(); row += FRAME_WIDTH) {
        const std::size_t end = std::min(row + FRAME_WIDTH, pixels.size());
        std::size_t i = row;
        for (; i + 32 <= end; i += 32) {
            const __m256i classes =
                minus_class(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels.data() + i)));
#pragma GCC unroll 4
            for (std::size_t part = 0; part < L; ++part) {
                const __m256i bytes = glyph_part(classes, part);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), _mm256_castsi256_si128(bytes));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * (L + part)), _mm256_extracti128_si256(bytes, 1));
            }
            out += 32 * L;
        }
        if (i + 16 <= end) {
            const __m256i classes = minus_class(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels.data() + i))));
#pragma GCC unroll 4
            for (std::size_t part = 0; part < L; ++part) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part),
                                 _mm256_castsi256_si128(glyph_part(classes, part)));
            }
            out += 16 * L;
            i += 16;
        }
        for (; i < end; ++i) {
            std::memcpy(out, glyphs[glyph_class(pixels[i], thresholds)].data(), L);
            out += L;
        }
        *out++ = '\n';
    }
}

// False when the glyph strings or the processor do not suit the shuffle path.
bool render_uniform(std::span<const std::uint8_t> pixels, const LumaThresholds& thresholds, const GlyphStrings& glyphs,
                    std::string& text)
{
    const std::size_t length = glyphs[0].size();
    const bool uniform = std::all_of(glyphs.begin(), glyphs.end(),
                                     [length](const std::string& glyph) { return glyph.size() == length; });
    if (!uniform || length == 0 || length > 4 || !has_avx2()) {
        return false;
    }
    const std::size_t start = text.size();
    text.resize(start + pixels.size() * length + row_count(pixels.size()));
    char* out = text.data() + start;
    switch (length) {
    case 1: render_uniform_avx2<1>(pixels, thresholds, glyphs, out); break;
    case 2: render_uniform_avx2<2>(pixels, thresholds, glyphs, out); break;
    case 3: render_uniform_avx2<3>(pixels, thresholds, glyphs, out); break;
    default: render_uniform_avx2<4>(pixels, thresholds, glyphs, out); break;
    }
    return true;
}

#else

bool render_uniform(std::span<const std::uint8_t>, const LumaThresholds&, const GlyphStrings&, std::string&)
{
    return false;
}

#endif

std::uint64_t sum_bytes(std::span<const std::uint8_t> pixels) noexcept
{
    std::uint64_t sum = 0;
    std::size_t i = 0;
#if defined(LUMAFLICK_RENDER_X86)
    if (has_avx2()) {
        i = sum_blocks_avx2(pixels, sum);
    }
#endif
    for (; i < pixels.size(); ++i) {
        sum += pixels[i];
    }
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

void render_frame_text(std::span<const std::uint8_t> pixels, const GlyphStrings& glyphs, std::string& text)
{
    const LumaThresholds thresholds = compute_thresholds(pixels);
    if (!render_uniform(pixels, thresholds, glyphs, text)) {
        render_any(pixels, thresholds, glyphs, text);
    }
}

std::size_t max_frame_text_size(const GlyphStrings& glyphs) noexcept
{
    std::size_t longest = 0;
    for (const std::string& glyph : glyphs) {
        longest = std::max(longest, glyph.size());
    }
    return FRAME_SIZE * longest + FRAME_HEIGHT;
}

}  // namespace lumaflick
