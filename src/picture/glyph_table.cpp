#include "picture/glyph_table.hpp"

#include <algorithm>
#include <cstring>

#include "insim/packets.hpp"

namespace lumaflick {

namespace {

constexpr std::size_t WORD = sizeof(std::uint64_t);

bool is_code(std::string_view glyph) noexcept
{
    return glyph.size() >= 2 && glyph[0] == '^' && glyph[1] >= '0' && glyph[1] <= '9';
}

std::uint64_t word_of(std::string_view bytes) noexcept
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data(), std::min(bytes.size(), WORD));
    return word;
}

}  // namespace

GlyphTable::GlyphTable(std::span<const std::string> glyphs, std::size_t width)
    : glyphs_(glyphs.begin(), glyphs.end()), count_(glyphs.size())
{
    compacts_ = true;
    for (const std::string& glyph : glyphs_) {
        longest_ = std::max(longest_, glyph.size());
        compacts_ = compacts_ && is_code(glyph) && glyph.find('^', 2) == std::string::npos;
        words_.push_back(word_of(glyph));
        lengths_.push_back(static_cast<std::uint8_t>(std::min(glyph.size(), WORD)));
    }
    compacts_ = compacts_ && width * longest_ <= insim::BUTTON_TEXT_SIZE;
    if (longest_ > WORD / 2) return;

    // Four glyphs of 2 to 4 bytes fit two words, and two words never reach past
    // the room of four glyphs and the 8 bytes of slack. With more than four
    // glyph strings the table would outgrow the caches a frame finds cold.
    // Indexed in steps of 4, an index is shifts rather than a chain of
    // multiplications; with fewer glyphs some entries stay unused.
    if (count_ <= 4 && longest_ >= 2) {
        quad_words_.resize(2 * 256);
        quad_lengths_.resize(256);
        for (std::size_t quad = 0; quad < 256; ++quad) {
            std::string text;
            for (int shift = 6; shift >= 0; shift -= 2) {
                const std::size_t glyph = quad >> shift & 3;
                if (glyph < count_) text += glyphs_[glyph];
            }
            quad_words_[2 * quad] = word_of(text);
            if (text.size() > WORD) quad_words_[2 * quad + 1] = word_of(std::string_view(text).substr(WORD));
            quad_lengths_[quad] = static_cast<std::uint8_t>(text.size());
        }
    }

    // The text of glyph b right after glyph a, compacted or not.
    const auto after = [&](std::size_t a, std::size_t b) {
        const std::string& glyph = glyphs_[b];
        return glyphs_[a][1] == glyph[1] ? glyph.substr(2) : glyph;
    };
    for (std::size_t a = 0; a < count_; ++a) {
        for (std::size_t b = 0; b < count_; ++b) {
            const std::string pair = glyphs_[a] + glyphs_[b];
            pair_words_.push_back(word_of(pair));
            pair_lengths_.push_back(static_cast<std::uint8_t>(pair.size()));
            if (!compacts_) continue;
            const std::string single = after(a, b);
            after_words_.push_back(word_of(single));
            after_lengths_.push_back(static_cast<std::uint8_t>(single.size()));
            for (std::size_t c = 0; c < count_; ++c) {
                const std::string two = single + after(b, c);
                after_pair_words_.push_back(word_of(two));
                after_pair_lengths_.push_back(static_cast<std::uint8_t>(two.size()));
            }
        }
    }
}

std::size_t GlyphTable::write(std::span<const std::uint8_t> indices, char* out) const noexcept
{
    // The tables in locals: stores through `out` may alias any member, which
    // would reload them after every glyph.
    char* const start = out;
    const std::uint8_t* index = indices.data();
    const std::uint8_t* const end = index + indices.size();
    const std::size_t count = count_;
    if (!quad_words_.empty()) {
        // Four pixels a step, where the table is small.
        const std::uint64_t* const quad_words = quad_words_.data();
        const std::uint8_t* const quad_lengths = quad_lengths_.data();
        for (; end - index >= 4; index += 4) {
            const std::size_t quad =
                std::size_t{index[0]} << 6 | std::size_t{index[1]} << 4 | std::size_t{index[2]} << 2 | index[3];
            std::memcpy(out, quad_words + 2 * quad, 2 * WORD);
            out += quad_lengths[quad];
        }
    }
    if (longest_ <= WORD / 2) {
        // Two pixels a step: half the stores and half the dependent additions.
        const std::uint64_t* const pair_words = pair_words_.data();
        const std::uint8_t* const pair_lengths = pair_lengths_.data();
        for (; end - index >= 2; index += 2) {
            const std::size_t pair = count * index[0] + index[1];
            std::memcpy(out, pair_words + pair, WORD);
            out += pair_lengths[pair];
        }
    }
    if (longest_ <= WORD) {
        // Each word may spill past its glyph; the next one overwrites it.
        const std::uint64_t* const words = words_.data();
        const std::uint8_t* const lengths = lengths_.data();
        for (; index != end; ++index) {
            std::memcpy(out, words + *index, WORD);
            out += lengths[*index];
        }
    } else {
        for (; index != end; ++index) out = std::copy(glyphs_[*index].begin(), glyphs_[*index].end(), out);
    }
    return static_cast<std::size_t>(out - start);
}

std::size_t GlyphTable::write_compact(std::span<const std::uint8_t> indices, char* out) const noexcept
{
    if (indices.empty()) return 0;
    char* const start = out;
    const std::uint8_t* index = indices.data();
    const std::uint8_t* const end = index + indices.size();
    const std::size_t count = count_;
    const std::uint64_t* const words = after_pair_words_.data();
    const std::uint8_t* const lengths = after_pair_lengths_.data();
    // The first glyph keeps its code; each later one depends on the one before.
    std::memcpy(out, &words_[*index], WORD);
    out += lengths_[*index];
    for (; end - index >= 3; index += 2) {
        const std::size_t triple = (count * index[0] + index[1]) * count + index[2];
        std::memcpy(out, words + triple, WORD);
        out += lengths[triple];
    }
    if (end - index == 2) {
        const std::size_t pair = count * index[0] + index[1];
        std::memcpy(out, &after_words_[pair], WORD);
        out += after_lengths_[pair];
    }
    return static_cast<std::size_t>(out - start);
}

}  // namespace lumaflick
