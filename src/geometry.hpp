#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lumaflick {

// Where the picture goes and how it divides: the decoder's frame of pixels,
// one button a row of it on LFS's screen (200 × 200 button units), and the
// ClickIDs of those buttons. Built from the options and checked once.
struct Geometry {
    std::size_t width = 80;  // pixels a row
    std::size_t rows = 30;
    std::uint8_t left = 0;
    std::uint8_t top = 0;
    std::uint8_t row_height = 6;  // 1 to 6
    std::uint8_t first_click_id = 1;

    [[nodiscard]] constexpr std::size_t pixels() const noexcept { return width * rows; }
    // A row of underscores 40 units wide per unit of height keeps the
    // picture's proportions at any height (240 at the full 6).
    [[nodiscard]] constexpr std::uint8_t button_width() const noexcept
    {
        return static_cast<std::uint8_t>(40 * row_height);
    }
    // Line k's ClickID and T. Glyph strings with line feeds make more lines
    // than rows, which wrap at 256.
    [[nodiscard]] constexpr std::uint8_t click_id(std::size_t line) const noexcept
    {
        return static_cast<std::uint8_t>(first_click_id + line);
    }
    [[nodiscard]] constexpr std::uint8_t row_top(std::size_t line) const noexcept
    {
        return static_cast<std::uint8_t>(top + row_height * line);
    }
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

inline constexpr Geometry DEFAULT_GEOMETRY{};

// LFS's limits: ClickIDs 0 to 239, positions 0 to 200.
inline constexpr unsigned LAST_CLICK_ID = 239;
inline constexpr unsigned SCREEN_UNITS = 200;

enum class GeometryLimit { click_ids, row_height, left, rows };

struct GeometryProblem {
    GeometryLimit limit;
    std::string text;  // said for a person
};

// Which of LFS's limits a placement breaks, if any: the options' numbers as
// given, before they are narrowed to the packets' bytes.
inline std::optional<GeometryProblem> geometry_problem(std::uint64_t left, std::uint64_t top, std::uint64_t row_height,
                                                       std::uint64_t first_click_id,
                                                       std::uint64_t rows = DEFAULT_GEOMETRY.rows)
{
    const auto text = [](std::uint64_t n) { return std::to_string(n); };
    if (first_click_id + rows - 1 > LAST_CLICK_ID) {
        return GeometryProblem{GeometryLimit::click_ids, "the picture's ClickIDs " + text(first_click_id) + " to " +
                                                             text(first_click_id + rows - 1) + " must stay within 0-" +
                                                             text(LAST_CLICK_ID)};
    }
    if (row_height < 1 || row_height > 6) {
        return GeometryProblem{GeometryLimit::row_height, "the row height must lie within 1-6"};
    }
    if (left > SCREEN_UNITS) {
        return GeometryProblem{GeometryLimit::left, "L " + text(left) + " must lie within 0-" + text(SCREEN_UNITS)};
    }
    if (const std::uint64_t bottom = top + row_height * rows; bottom > SCREEN_UNITS) {
        return GeometryProblem{GeometryLimit::rows, "the last row would reach T + H = " + text(bottom) +
                                                        ", but every row's T and T + H must stay within 0-" +
                                                        text(SCREEN_UNITS)};
    }
    return std::nullopt;
}

}  // namespace lumaflick
