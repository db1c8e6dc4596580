#include "screen.hpp"

#include <algorithm>
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

void ButtonScreen::draw(Picture& picture) const noexcept
{
    picture.clear();
    for (const auto& button : buttons_) {
        if (!button) continue;
        const std::size_t row_index = button->T / ROW_HEIGHT;
        if (row_index >= PICTURE_ROWS) continue;
        auto row = picture.row(row_index);
        std::fill(row.begin(), row.end(), Cell{});
        text_to_cells(button->text, row);
    }
}

}  // namespace insim_screen
