#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "geometry.hpp"

namespace lumaflick {

// The two subtitle lines' buttons: as wide as the picture and at its L,
// directly under it, or above it when there is no room under it; the upper
// line's ClickID right after the picture's last, the lower one's next.
struct SubtitlePlacement {
    std::uint8_t left = 0;
    std::uint8_t top = 0;  // the upper line's T; the lower one's is 5 more
    std::uint8_t width = 0;
    std::uint8_t first_click_id = 0;  // the upper line's
    std::size_t characters = 0;       // a line's, at 2.5 units a character
    friend bool operator==(const SubtitlePlacement&, const SubtitlePlacement&) = default;
};

inline constexpr std::uint8_t SUBTITLE_LINE_HEIGHT = 5;

enum class SubtitleLimit { click_ids, room };

struct SubtitleProblem {
    SubtitleLimit limit;
    std::string text;  // said for a person
};

// Where the lines go for a picture that keeps within LFS's limits, or which
// limit they would break.
std::optional<SubtitleProblem> subtitle_problem(const Geometry& geometry);
// Only for a geometry without a problem.
SubtitlePlacement subtitle_placement(const Geometry& geometry);

// A cue's text (lines separated by line feeds) as the two lines shown, upper
// first; a one-line cue is in the lower. Lines longer than `characters`, or
// more than two, are joined and wrapped greedily at spaces into two; what
// still does not fit is cut at a character boundary.
std::array<std::string, 2> wrap_cue(std::string_view text, std::size_t characters);

}  // namespace lumaflick
