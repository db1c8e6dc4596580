#include "button_text.hpp"

#include "lfs_text.hpp"

namespace insim_screen {

namespace {

bool is_code_page(char code) noexcept
{
    switch (code) {
        case 'L': case 'G': case 'C': case 'J': case 'E': case 'T': case 'B': case 'H': case 'S': case 'K':
            return true;
        default: return false;
    }
}

}  // namespace

std::size_t text_to_cells(std::string_view text, std::span<Cell> cells) noexcept
{
    Colour colour = Colour::standard;
    std::size_t count = 0;
    const auto put = [&](char glyph) {
        if (count < cells.size()) cells[count] = Cell{colour, glyph};
        ++count;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '^' || i + 1 == text.size()) {
            put(c);
            continue;
        }
        const char code = text[i + 1];
        if (code >= '0' && code <= '7') {
            colour = static_cast<Colour>(code - '0');
            ++i;
        } else if (code == '8' || code == '9') {
            colour = Colour::standard;
            ++i;
        } else if (is_code_page(code)) {
            ++i;
        } else if (const char glyph = escaped(code); glyph != '\0') {
            put(glyph);
            ++i;
        } else {
            put(c);  // a caret that starts no code is shown as it is
        }
    }
    return count;
}

}  // namespace insim_screen
