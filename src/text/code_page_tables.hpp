#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumaflick::text {

// A character of the Basic Multilingual Plane and its bytes in a code page:
// one byte, or lead byte × 256 + trail byte.
struct CodeEntry {
    std::uint16_t unicode;
    std::uint16_t code;
};

// The letter that switches LFS to a code page (^L, ^G, ...) and its
// characters beyond ASCII, ordered by `unicode`.
struct CodePageTable {
    char letter;
    std::span<const CodeEntry> entries;
};

inline constexpr std::size_t CODE_PAGE_COUNT = 10;

// In the order in which a character that the current page lacks looks for
// one: L, G, C, E, T, B, J, H, S, K. Generated from a platform's converter
// by tools/lfs-code-pages.
extern const std::array<CodePageTable, CODE_PAGE_COUNT> CODE_PAGES;

}  // namespace lumaflick::text
