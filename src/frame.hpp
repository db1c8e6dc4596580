#pragma once

#include <cstddef>

namespace lumaflick {

// One raw gray frame as ffmpeg writes it: rows top to bottom, one byte a pixel.
inline constexpr std::size_t FRAME_WIDTH = 80;
inline constexpr std::size_t FRAME_HEIGHT = 30;
inline constexpr std::size_t FRAME_SIZE = FRAME_WIDTH * FRAME_HEIGHT;
// The same frame in rgb24: three bytes a pixel, red, green, blue.
inline constexpr std::size_t COLOUR_FRAME_SIZE = 3 * FRAME_SIZE;

}  // namespace lumaflick
