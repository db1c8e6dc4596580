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

// The buttons of the picture's lines: dark, not clickable, at the geometry's
// L, W and H; each line's ClickID and T are set as it is added.
insim::IS_BTN make_button_template(const Geometry& geometry = DEFAULT_GEOMETRY) noexcept;

// How a line's button goes on the wire.
enum class Packing {
    full,      // 252 bytes, whatever the text
    shortest,  // repeated colour codes left out, cut after the text
};

// One frame's button packets, back to back: the block that is written in one go.
class ButtonBlock {
public:
    // Room for a button a row before the block has to grow.
    ButtonBlock(Packing packing, const Geometry& geometry);

    void clear() noexcept { used_ = 0; }
    // Appends the button of line `line` (counted from 0) showing `text`;
    // `compacted` when the text already is as the shortest packing sends it.
    void add(std::size_t line, std::string_view text, bool compacted = false);
    [[nodiscard]] std::span<const std::byte> bytes() const noexcept { return {block_.data(), used_}; }

private:
    Packing packing_;
    Geometry geometry_;
    insim::IS_BTN template_;
    std::vector<std::byte> block_;
    std::size_t used_ = 0;
    std::array<char, insim::BUTTON_TEXT_SIZE> compacted_{};
};

}  // namespace lumaflick
