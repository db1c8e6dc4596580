#include "screen.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

#include "button_text.hpp"

namespace insim_screen {

bool ButtonScreen::set(std::uint8_t click_id, Button button)
{
    if (click_id >= MAX_BUTTONS) return false;
    buttons_[click_id] = std::move(button);
    return true;
}

void ButtonScreen::erase(std::uint8_t click_id) noexcept
{
    if (click_id < MAX_BUTTONS) buttons_[click_id].reset();
}

void ButtonScreen::clear() noexcept
{
    for (auto& button : buttons_) button.reset();
}

const Button* ButtonScreen::find(std::uint8_t click_id) const noexcept
{
    if (click_id >= MAX_BUTTONS || !buttons_[click_id]) return nullptr;
    return &*buttons_[click_id];
}

std::size_t ButtonScreen::size() const noexcept
{
    return static_cast<std::size_t>(
        std::count_if(buttons_.begin(), buttons_.end(), [](const auto& b) { return b.has_value(); }));
}

namespace {

constexpr std::uint8_t ISB_LEFT = 64;
constexpr std::uint8_t ISB_RIGHT = 128;

// A button on the screen: half units across, units down.
struct Placed {
    std::size_t left = 0, right = 0, top = 0, bottom = 0;  // the rectangle
    std::size_t first = 0;                                 // the first glyph's left edge
    std::size_t glyph_width = 0;
    std::size_t end = 0;  // where the glyphs end, cut at the rectangle
    std::size_t glyphs = 0;
};

Placed place(const Button& button, std::span<Cell> cells) noexcept
{
    Placed p;
    p.left = 2u * button.L;
    p.right = p.left + 2u * button.W;
    p.top = button.T;
    p.bottom = p.top + button.H;
    p.glyph_width = button.H;
    p.glyphs = std::min(text_to_cells(button.text, cells), cells.size());
    const std::size_t width = p.glyphs * p.glyph_width;
    const std::size_t room = p.right - p.left;
    std::size_t offset = 0;
    if (width < room && (button.BStyle & ISB_LEFT) == 0) {
        offset = (button.BStyle & ISB_RIGHT) != 0 ? room - width : (room - width) / 2;
    }
    p.first = p.left + offset;
    p.end = std::min(p.first + width, p.right);
    return p;
}

template <typename Each>
void for_each_placed(std::span<const ButtonScreen* const> screens, Each each)
{
    std::array<Cell, MAX_BUTTON_TEXT> cells;
    for (const ButtonScreen* screen : screens) {
        for (unsigned id = 0; id < MAX_BUTTONS; ++id) {
            const Button* button = screen->find(static_cast<std::uint8_t>(id));
            if (button == nullptr || button->H == 0) continue;
            each(place(*button, cells), std::span<const Cell>(cells));
        }
    }
}

}  // namespace

Layout layout_of(std::span<const ButtonScreen* const> screens)
{
    std::size_t width = PICTURE_HALF_UNITS;
    std::size_t height = PICTURE_UNITS_DOWN;
    for_each_placed(screens, [&](const Placed& p, std::span<const Cell>) {
        if (p.glyphs == 0) return;
        width = std::max(width, p.end);
        height = std::max(height, p.bottom);
    });
    std::size_t across = width;
    std::size_t down = height;
    for_each_placed(screens, [&](const Placed& p, std::span<const Cell>) {
        for (const std::size_t x : {p.left, p.first, p.end, p.glyph_width}) {
            if (x < width) across = std::gcd(across, x);
        }
        if (p.right < width) across = std::gcd(across, p.right);
        for (const std::size_t y : {p.top, p.bottom}) {
            if (y < height) down = std::gcd(down, y);
        }
    });
    return {across, down, width / across, height / down};
}

void draw_screens(std::span<const ButtonScreen* const> screens, const Layout& layout, Picture& picture)
{
    picture.reset(layout.cell_width, layout.cell_height, layout.columns, layout.rows);
    const std::size_t width = layout.columns * layout.cell_width;
    const std::size_t height = layout.rows * layout.cell_height;
    // Half units [x0, x1) by units [y0, y1), cut at the picture's edges.
    const auto fill = [&](std::size_t x0, std::size_t x1, std::size_t y0, std::size_t y1, Cell cell) {
        x1 = std::min(x1, width);
        y1 = std::min(y1, height);
        for (std::size_t r = y0 / layout.cell_height; r * layout.cell_height < y1; ++r) {
            auto row = picture.row(r);
            for (std::size_t c = x0 / layout.cell_width; c * layout.cell_width < x1; ++c) row[c] = cell;
        }
    };
    for_each_placed(screens, [&](const Placed& p, std::span<const Cell> cells) {
        fill(p.left, p.right, p.top, p.bottom, Cell{});
        for (std::size_t i = 0; i < p.glyphs; ++i) {
            const std::size_t x = p.first + i * p.glyph_width;
            if (x >= p.end) break;
            fill(x, std::min(x + p.glyph_width, p.end), p.top, p.bottom, cells[i]);
        }
    });
}

void draw_screens(std::span<const ButtonScreen* const> screens, Picture& picture)
{
    draw_screens(screens, layout_of(screens), picture);
}

void ButtonScreen::draw(Picture& picture) const
{
    const ButtonScreen* self = this;
    draw_screens(std::span<const ButtonScreen* const>(&self, 1), picture);
}

}  // namespace insim_screen
