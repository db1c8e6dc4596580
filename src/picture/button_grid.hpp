#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "geometry.hpp"
#include "insim/packets.hpp"

namespace lumaflick {

// The button of the picture's line k (counted from 0): dark, not clickable,
// where the geometry puts button k.
insim::IS_BTN make_button(const Geometry& geometry, std::size_t line) noexcept;
// The fields every line of a one-button-a-row picture shares; ClickID 0.
inline insim::IS_BTN make_button_template(const Geometry& geometry = DEFAULT_GEOMETRY) noexcept
{
    insim::IS_BTN button = make_button(geometry, 0);
    button.ClickID = 0;
    return button;
}

// How a line's button goes on the wire.
enum class Packing {
    full,      // 252 bytes, whatever the text
    shortest,  // repeated colour codes left out, cut after the text
};

// One frame's button packets, back to back: the block that is written in one go.
class ButtonBlock {
public:

    // Room for every button before the block has to grow.
    ButtonBlock(Packing packing, const Geometry& geometry);

    void clear() noexcept { used_ = 0; }
    // Appends the button of line `line` (counted from 0) showing `text`;
    // `compacted` when the text already is as the shortest packing sends it.
    void add(std::size_t line, std::string_view text, bool compacted = false);
    [[nodiscard]] std::span<const std::byte> bytes() const noexcept { return {block_.data(), used_}; }
    // At least the room `other` has grown to.
    void make_room_like(const ButtonBlock& other)
    {
        if (block_.size() < other.block_.size()) block_.resize(other.block_.size());
    }

private:
    Packing packing_;
    Geometry geometry_;
    // Where every button goes, found once; lines past them (glyph strings
    // with line feeds) have theirs found as they come.
    std::vector<ButtonPlace> places_;
    insim::IS_BTN head_{};
    std::vector<std::byte> block_;
    std::size_t used_ = 0;
    std::array<char, insim::BUTTON_TEXT_SIZE> compacted_{};
};

}  // namespace lumaflick
