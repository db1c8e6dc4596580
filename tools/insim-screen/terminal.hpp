#pragma once

#include <span>
#include <string>
#include <string_view>

#include "picture.hpp"

namespace insim_screen {

// Hides the cursor and clears the terminal once; the end shows the cursor again.
inline constexpr std::string_view ANSI_BEGIN = "\x1b[?25l\x1b[2J";
inline constexpr std::string_view ANSI_END = "\x1b[0m\x1b[?25h";

// Redraws in place: cursor home, the header line, one line per picture row with
// each cell a space on its 24-bit colour, the footer lines, and clears below.
// Replaces the content of `out`, which keeps its capacity from frame to frame.
void ansi_screen(const Picture& picture, std::string_view header, std::span<const std::string> footer,
                 std::string& out);

// A client's text made safe to print: control bytes, which could steer the
// terminal, become \xHH; everything else is kept, so UTF-8 stays readable.
std::string printable(std::string_view text);

// The picture as plain text, a character per cell by brightness from ' ' (no
// glyph) and '.' (black) to '@' (white), each row ended by a line feed.
std::string plain_picture(const Picture& picture);

}  // namespace insim_screen
