#pragma once

#include <span>

#include "png_image.hpp"
#include "screen.hpp"

namespace insim_screen {

// Draws the words of text buttons (subtitles) over a snapshot of `screens`:
// each such button dark, its text centred in light glyphs H units tall, from
// GNU Unifont's bitmaps (the Debian package unifont) when they are installed,
// else as boxes. The image is at a snapshot's scale, from the screen's top left.
void draw_words(RgbImage& image, std::span<const ButtonScreen* const> screens);

// A button holds words rather than picture glyphs: a letter, a digit or a
// character beyond ASCII other than a block or box drawing one (UTF-8 text).
bool holds_words(std::string_view text) noexcept;

}  // namespace insim_screen
