#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "picture.hpp"

namespace insim_screen {

// ClickIDs run from 0 to 239.
inline constexpr std::size_t MAX_BUTTONS = 240;
// A button text has at most 240 bytes, so as many glyphs.
inline constexpr std::size_t MAX_BUTTON_TEXT = 240;

struct Button {
    std::uint8_t L = 0;
    std::uint8_t T = 0;
    std::uint8_t W = 0;
    std::uint8_t H = 0;
    std::uint8_t BStyle = 0;
    std::string text;
    friend bool operator==(const Button&, const Button&) = default;
};

// The buttons a client has put up, keyed by ClickID; a new one with the same
// ClickID replaces the old, as in LFS.
class ButtonScreen {
public:
    // False, and nothing changes, for a ClickID of 240 or more.
    bool set(std::uint8_t click_id, Button button);
    void erase(std::uint8_t click_id) noexcept;
    void clear() noexcept;
    [[nodiscard]] const Button* find(std::uint8_t click_id) const noexcept;
    [[nodiscard]] std::size_t size() const noexcept;

    // As draw_screens does, for this screen alone.
    void draw(Picture& picture) const;

private:
    std::array<std::optional<Button>, MAX_BUTTONS> buttons_;
};

// The cells a picture of some screens is drawn in (see Picture).
struct Layout {
    std::size_t cell_width = ROW_HEIGHT;
    std::size_t cell_height = ROW_HEIGHT;
    std::size_t columns = PICTURE_COLUMNS;
    std::size_t rows = PICTURE_ROWS;
    friend bool operator==(const Layout&, const Layout&) = default;
};

// The coarsest cells on which every button edge and glyph of the screens
// falls, over the player's area and as far as any glyph reaches.
Layout layout_of(std::span<const ButtonScreen* const> screens);

// Every button where LFS puts it: its rectangle from L, T, W and H, its
// glyphs H / 2 units wide and H tall, centred unless BStyle says left or
// right (from the left edge, cut at the right one, when they do not fit). A
// button empties its rectangle; a higher ClickID is drawn over a lower one, a
// later screen over an earlier one.
void draw_screens(std::span<const ButtonScreen* const> screens, const Layout& layout, Picture& picture);
void draw_screens(std::span<const ButtonScreen* const> screens, Picture& picture);

}  // namespace insim_screen
