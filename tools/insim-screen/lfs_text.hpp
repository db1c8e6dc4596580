#pragma once

#include <string>
#include <string_view>

namespace insim_screen {

// A text as LFS shows it, in UTF-8 for people: ^L, ^G, ^C, ^E, ^T, ^B, ^J,
// ^H, ^S and ^K switch code pages (Latin-1 to begin with), decoded with the
// system's iconv; ^^ and LFS's other escapes (^v, ^a, ...) are their
// characters; colour codes ^0 to ^9 take no room and are left out. A byte
// that does not decode becomes U+FFFD.
std::string lfs_to_utf8(std::string_view text);

// The character of LFS's escape ^code (^v is '|', ^^ is '^', ...), or '\0'
// when ^code is no escape.
char escaped(char code) noexcept;

// Whether the text needs decoding to be read: bytes beyond ASCII or a switch.
bool has_code_pages(std::string_view text) noexcept;

}  // namespace insim_screen
