#pragma once

// What both relays of scripts/bench send per read of a frame: the block
// lumaflick sends for a frame whose every row changed, 30 IS_BTN packets with
// ClickIDs 1 to 30, so that the sink counts one frame.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "geometry.hpp"
#include "insim/packets.hpp"

namespace relay {

inline constexpr lumaflick::Geometry GEOMETRY = lumaflick::DEFAULT_GEOMETRY;
inline constexpr std::size_t FRAME_SIZE = GEOMETRY.pixels();
inline constexpr std::size_t BLOCK_SIZE = GEOMETRY.rows * sizeof(insim::IS_BTN);

using Block = std::array<std::uint8_t, BLOCK_SIZE>;

inline Block full_frame_block()
{
    Block block{};
    for (std::size_t row = 0; row < GEOMETRY.rows; ++row) {
        insim::IS_BTN button{};
        const lumaflick::ButtonPlace place = GEOMETRY.button(row);
        button.ClickID = place.click_id;
        button.BStyle = insim::ISB_DARK;
        button.L = place.left;
        button.T = place.top;
        button.W = place.width;
        button.H = GEOMETRY.row_height;
        for (std::size_t i = 0; i + 3 <= insim::BUTTON_TEXT_SIZE; i += 3) std::memcpy(button.Text.data() + i, "^0_", 3);
        std::memcpy(block.data() + row * sizeof button, &button, sizeof button);
    }
    return block;
}

}  // namespace relay
