#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumaflick {

// Writes rows of glyph strings, given each pixel's glyph index. Short glyph
// strings go out a machine word at a time, two pixels a word where they fit,
// and four pixels two words where there are few of them.
class GlyphTable {
public:
    // For rows `width` glyphs long.
    GlyphTable(std::span<const std::string> glyphs, std::size_t width);

    [[nodiscard]] std::size_t longest() const noexcept { return longest_; }

    // Writes the glyph string of every index and gives the length. `out` has
    // room for longest() bytes per index plus 8 bytes of slack.
    std::size_t write(std::span<const std::uint8_t> indices, char* out) const noexcept;

    // True when every glyph string is a colour code ^0-^9 and a tail without
    // carets, and a whole row fits a button: then a line can be written with
    // each code that repeats the one in force left out, as LFS draws it alike.
    [[nodiscard]] bool compacts() const noexcept { return compacts_; }
    // Only when compacts(); as write().
    std::size_t write_compact(std::span<const std::uint8_t> indices, char* out) const noexcept;

private:
    std::vector<std::string> glyphs_;
    std::size_t count_ = 0;
    std::size_t longest_ = 0;
    bool compacts_ = false;
    // Glyph strings of up to 8 bytes as words; of up to 4, also in pairs;
    // and, when there are at most 4 of 2 to 4 bytes, in fours.
    std::vector<std::uint64_t> words_;
    std::vector<std::uint8_t> lengths_;
    std::vector<std::uint64_t> pair_words_;  // [a][b]
    std::vector<std::uint8_t> pair_lengths_;
    std::vector<std::uint64_t> quad_words_;  // [a][b][c][d], two words each
    std::vector<std::uint8_t> quad_lengths_;
    // Compacted, after a glyph of index p: [p][a] and [p][a][b].
    std::vector<std::uint64_t> after_words_;
    std::vector<std::uint8_t> after_lengths_;
    std::vector<std::uint64_t> after_pair_words_;
    std::vector<std::uint8_t> after_pair_lengths_;
};

}  // namespace lumaflick
