#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "picture.hpp"

namespace insim_screen {

// ClickIDs run from 0 to 239.
inline constexpr std::size_t MAX_BUTTONS = 240;

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

    // Row = T / 6 from the top; cells from the left edge. A button clears its
    // whole row, and a higher ClickID on the same row is drawn over a lower one.
    void draw(Picture& picture) const noexcept;

private:
    std::array<std::optional<Button>, MAX_BUTTONS> buttons_;
};

}  // namespace insim_screen
