#pragma once

#include <cstddef>

#include "geometry.hpp"

namespace lumaflick {

// One raw gray frame as ffmpeg writes it: rows top to bottom, one byte a pixel.
// Its size is the geometry's; this names it where a size must be known before
// any options are read (fixed buffers).
inline constexpr std::size_t FRAME_SIZE = DEFAULT_GEOMETRY.pixels();
// The same frame in rgb24: three bytes a pixel, red, green, blue.
inline constexpr std::size_t COLOUR_FRAME_SIZE = 3 * FRAME_SIZE;

}  // namespace lumaflick
