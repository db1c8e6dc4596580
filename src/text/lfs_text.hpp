#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace lumaflick::text {

// A character read from UTF-8 and the bytes it took; a byte that starts no
// valid sequence (or a surrogate, or an overlong form) is U+FFFD of one byte.
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;
};
CodePoint next_code_point(std::string_view utf8) noexcept;

inline constexpr std::size_t NO_LIMIT = std::numeric_limits<std::size_t>::max();

// UTF-8 text as LFS shows it, appended to `out`: ASCII as it is, a caret
// doubled so that LFS shows it rather than reading a colour, every other
// character in the code page LFS has switched to, or after a switch (^L, ^G,
// ^C, ^E, ^T, ^B, ^J, ^H, ^S, ^K) to the first that has it; `?` when none
// has it. The text starts in Latin-1 (^L), as every button and message does.
// Only whole characters, with their switch, that fit within `limit` bytes;
// returns the bytes appended.
std::size_t append_lfs(std::string_view utf8, std::string& out, std::size_t limit = NO_LIMIT);
std::string to_lfs(std::string_view utf8, std::size_t limit = NO_LIMIT);

}  // namespace lumaflick::text
