#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "insim/packets.hpp"

namespace lumaflick {

// The button of line k: ClickID k + 1, T 6k (both wrapping), dark, not
// clickable, W 240, H 6.
insim::IS_BTN make_button_template() noexcept;

// How a line's button goes on the wire.
enum class Packing {
    full,      // 252 bytes, whatever the text
    shortest,  // repeated colour codes left out, cut after the text
};

// One frame's button packets, back to back: the block that is written in one go.
class ButtonBlock {
public:
    // Room for `buttons` packets before the block has to grow.
    ButtonBlock(Packing packing, std::size_t buttons);

    void clear() noexcept { used_ = 0; }
    // Appends the button of line `line` (counted from 0) showing `text`;
    // `compacted` when the text already is as the shortest packing sends it.
    void add(std::size_t line, std::string_view text, bool compacted = false);
    [[nodiscard]] std::span<const std::byte> bytes() const noexcept { return {block_.data(), used_}; }

private:
    Packing packing_;
    insim::IS_BTN template_ = make_button_template();
    std::vector<std::byte> block_;
    std::size_t used_ = 0;
    std::array<char, insim::BUTTON_TEXT_SIZE> compacted_{};
};

}  // namespace lumaflick
