#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "picture.hpp"

namespace insim_screen {

// Lays a button text out as picture cells: "^0" to "^7" colour the glyphs after
// them, "^8" and "^9" return to the button's own colour, escapes such as "^v"
// are one glyph, code-page switches ("^L", "^J", ...) take no cell. Every other
// byte is one glyph in the current colour. Fills at most cells.size() cells and
// returns how many the whole text takes.
std::size_t text_to_cells(std::string_view text, std::span<Cell> cells) noexcept;

}  // namespace insim_screen
