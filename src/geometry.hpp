#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace lumaflick {

// Where a button of the picture goes, and how its text is aligned in it.
struct ButtonPlace {
    std::uint8_t click_id = 0;
    std::uint8_t left = 0;
    std::uint8_t top = 0;
    std::uint8_t width = 0;
    std::uint8_t style = 0;        // the alignment's BStyle bits, beside ISB_DARK
    std::size_t first_pixel = 0;   // in the frame, counted row after row
    std::size_t pixels = 0;
    friend bool operator==(const ButtonPlace&, const ButtonPlace&) = default;
};

// Where the picture goes and how it divides: the decoder's frame of pixels,
// each row of it one button or several side by side on LFS's screen (200 ×
// 200 button units), and the ClickIDs of those buttons, row by row. Built
// from the options and checked once.
struct Geometry {
    std::size_t width = 80;  // pixels a row
    std::size_t rows = 30;
    std::uint8_t left = 0;
    std::uint8_t top = 0;
    std::uint8_t row_height = 6;  // 1 to 6
    std::uint8_t first_click_id = 1;

    // A button's text holds 80 glyph strings of up to 3 bytes ("^7_").
    static constexpr std::size_t BUTTON_PIXELS = 80;
    // Bits of BStyle: the first button of a split row hugs its right edge, the
    // last its left one, so that narrower glyphs leave no gap between them.
    static constexpr std::uint8_t ALIGN_LEFT = 64;
    static constexpr std::uint8_t ALIGN_RIGHT = 128;

    [[nodiscard]] constexpr std::size_t pixels() const noexcept { return width * rows; }
    [[nodiscard]] constexpr std::size_t buttons_per_row() const noexcept
    {
        return std::max<std::size_t>((width + BUTTON_PIXELS - 1) / BUTTON_PIXELS, 1);
    }
    [[nodiscard]] constexpr std::size_t buttons() const noexcept { return rows * buttons_per_row(); }

    // Button k, counted row by row. A pixel is H/2 units wide, so 80 of them
    // take 40 × H. Glyph strings with line feeds make more lines than a frame
    // has buttons; with one button a row, those go on below, with ClickIDs
    // and T wrapping at 256.
    [[nodiscard]] constexpr ButtonPlace button(std::size_t k) const noexcept
    {
        const std::size_t per_row = buttons_per_row();
        const std::size_t row = k / per_row;
        const std::size_t column = k % per_row;
        const std::size_t first = column * BUTTON_PIXELS;
        ButtonPlace place;
        place.click_id = static_cast<std::uint8_t>(first_click_id + k);
        place.left = static_cast<std::uint8_t>(left + first * row_height / 2);
        place.top = static_cast<std::uint8_t>(top + row_height * row);
        place.pixels = std::min(width - std::min(first, width), BUTTON_PIXELS);
        place.width = static_cast<std::uint8_t>(place.pixels * row_height / 2);
        place.first_pixel = row * width + first;
        if (per_row > 1) {
            place.style = column == 0 ? ALIGN_RIGHT : column + 1 == per_row ? ALIGN_LEFT : std::uint8_t{0};
        }
        return place;
    }
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

inline constexpr Geometry DEFAULT_GEOMETRY{};

// LFS's limits: ClickIDs 0 to 239, positions 0 to 200.
inline constexpr unsigned LAST_CLICK_ID = 239;
inline constexpr unsigned SCREEN_UNITS = 200;
inline constexpr unsigned MOST_ROW_HEIGHT = 6;

enum class GeometryLimit { pixels, click_ids, row_height, left, rows, button_left, whole_units };

struct GeometryProblem {
    GeometryLimit limit;
    std::string text;  // said for a person
};

// The options' numbers as given, before they are narrowed to the packets' bytes.
struct GeometryRequest {
    std::uint64_t left = 0;
    std::uint64_t top = 0;
    std::uint64_t row_height = DEFAULT_GEOMETRY.row_height;
    std::uint64_t first_click_id = DEFAULT_GEOMETRY.first_click_id;
    std::uint64_t width = DEFAULT_GEOMETRY.width;
    std::uint64_t rows = DEFAULT_GEOMETRY.rows;
};

// Which of LFS's limits a placement breaks, if any.
inline std::optional<GeometryProblem> geometry_problem(const GeometryRequest& r)
{
    const auto text = [](std::uint64_t n) { return std::to_string(n); };
    if (r.width < 1 || r.rows < 1) {
        return GeometryProblem{GeometryLimit::pixels, "the picture must be at least 1x1 pixels"};
    }
    const std::uint64_t per_row = (r.width + Geometry::BUTTON_PIXELS - 1) / Geometry::BUTTON_PIXELS;
    if (per_row > LAST_CLICK_ID + 1 || r.rows > LAST_CLICK_ID + 1) {
        return GeometryProblem{GeometryLimit::click_ids, "the picture's " + text(r.rows) + " rows of " + text(per_row) +
                                                             " buttons need more ClickIDs than 0-" +
                                                             text(LAST_CLICK_ID) + " hold"};
    }
    // Saturated, so that a huge first ClickID cannot wrap into range.
    const std::uint64_t count = r.rows * per_row;
    const std::uint64_t last = r.first_click_id > std::numeric_limits<std::uint64_t>::max() - count
                                    ? std::numeric_limits<std::uint64_t>::max()
                                    : r.first_click_id + count - 1;
    if (last > LAST_CLICK_ID) {
        return GeometryProblem{GeometryLimit::click_ids, "the picture's ClickIDs " + text(r.first_click_id) + " to " +
                                                             text(last) + " must stay within 0-" + text(LAST_CLICK_ID)};
    }
    if (r.row_height < 1 || r.row_height > MOST_ROW_HEIGHT) {
        return GeometryProblem{GeometryLimit::row_height, "the row height must lie within 1-6"};
    }
    if (r.left > SCREEN_UNITS) {
        return GeometryProblem{GeometryLimit::left, "L " + text(r.left) + " must lie within 0-" + text(SCREEN_UNITS)};
    }
    if (const std::uint64_t bottom = r.top + r.row_height * r.rows; bottom > SCREEN_UNITS) {
        return GeometryProblem{GeometryLimit::rows, "the last row would reach T + H = " + text(bottom) +
                                                        ", but every row's T and T + H must stay within 0-" +
                                                        text(SCREEN_UNITS)};
    }
    if (const std::uint64_t last_left = r.left + (per_row - 1) * Geometry::BUTTON_PIXELS * r.row_height / 2;
        last_left > SCREEN_UNITS) {
        return GeometryProblem{GeometryLimit::button_left, "the last button of a row would start at L = " +
                                                               text(last_left) + ", but every button's L must lie "
                                                               "within 0-" + text(SCREEN_UNITS)};
    }
    // Only the last button of a row can hold fewer than 80 pixels.
    if (const std::uint64_t last_pixels = r.width - (per_row - 1) * Geometry::BUTTON_PIXELS;
        last_pixels * r.row_height % 2 != 0) {
        return GeometryProblem{GeometryLimit::whole_units,
                               "a button of " + text(last_pixels) + (last_pixels == 1 ? " pixel" : " pixels") +
                                   " at row height " + text(r.row_height) +
                                   " would not be whole units wide: an odd number of pixels in a button needs an "
                                   "even row height"};
    }
    return std::nullopt;
}

// The largest row height from 1 to 6 at which the placement keeps every
// limit, if any does.
inline std::optional<std::uint8_t> largest_row_height(GeometryRequest request)
{
    for (std::uint64_t h = MOST_ROW_HEIGHT; h >= 1; --h) {
        request.row_height = h;
        if (!geometry_problem(request)) return static_cast<std::uint8_t>(h);
    }
    return std::nullopt;
}

// A video's display size: its pixels with the sample aspect ratio and the
// rotation applied. Only the ratio counts.
struct DisplaySize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    friend bool operator==(const DisplaySize&, const DisplaySize&) = default;
};

// The largest picture of the video's shape inside `box` (a checked
// geometry), centred in it: with a = width / height and pixels H/2 wide and H
// tall, the width fits first, rows = COLS / 2a; if that is too many, the
// height does, cols = 2 × ROWS × a, made even when the row height is odd, so
// that buttons stay whole units wide. The spare units are split evenly, the
// odd one below or to the right. Sizes up to 2^31 keep the products in 64 bits.
inline Geometry fit_to_shape(const Geometry& box, DisplaySize shape) noexcept
{
    constexpr std::uint64_t most = std::uint64_t{1} << 31;
    if (shape.width == 0 || shape.height == 0 || shape.width > most || shape.height > most) return box;
    const std::uint64_t h = box.row_height;
    Geometry fitted = box;
    if (const std::uint64_t rows = box.width * shape.height / (2 * shape.width); rows <= box.rows) {
        fitted.rows = std::max<std::uint64_t>(rows, 1);
    } else {
        std::uint64_t cols = 2 * box.rows * shape.width / shape.height;
        if (h % 2 != 0) cols -= cols % 2;
        fitted.width = std::clamp<std::uint64_t>(cols, h % 2 != 0 ? 2 : 1, box.width);
    }
    fitted.left = static_cast<std::uint8_t>(box.left + (box.width - fitted.width) * h / 2 / 2);
    fitted.top = static_cast<std::uint8_t>(box.top + (box.rows - fitted.rows) * h / 2);
    // Centring moves the last button of a row right; its L must stay on the screen.
    const std::uint64_t last_left = fitted.left + (fitted.buttons_per_row() - 1) * Geometry::BUTTON_PIXELS * h / 2;
    if (last_left > SCREEN_UNITS) fitted.left = static_cast<std::uint8_t>(fitted.left - (last_left - SCREEN_UNITS));
    return fitted;
}

}  // namespace lumaflick
