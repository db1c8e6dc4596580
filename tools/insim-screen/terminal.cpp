#include "terminal.hpp"

#include <algorithm>
#include <cstdio>

namespace insim_screen {

namespace {

void append_line(std::string_view text, std::string& out)
{
    out += "\x1b[0m";
    // At most the picture's width of characters; UTF-8 continuation bytes take no column.
    std::size_t end = 0;
    for (std::size_t columns = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xc0) != 0x80 && columns++ == PICTURE_COLUMNS) break;
    }
    out.append(text.substr(0, end));
    out += "\x1b[K\n";
}

char plain_glyph(Colour colour) noexcept
{
    switch (colour) {
        case Colour::black: return '.';
        case Colour::blue: return ':';
        case Colour::red: return '-';
        case Colour::violet: return '=';
        case Colour::green: return '+';
        case Colour::cyan: return '*';
        case Colour::yellow: return '#';
        case Colour::white: return '@';
        case Colour::standard: return 'o';
        case Colour::empty: break;
    }
    return ' ';
}

// A finer picture than the player's is shown a cell of every `step` across
// and down, so that it keeps to a terminal of reasonable size.
constexpr std::size_t MOST_COLUMNS = 2 * PICTURE_COLUMNS;
constexpr std::size_t MOST_ROWS = 2 * PICTURE_ROWS;

struct Steps {
    std::size_t across;
    std::size_t down;
};

Steps steps(const Picture& picture) noexcept
{
    return {(picture.columns() + MOST_COLUMNS - 1) / MOST_COLUMNS, (picture.rows() + MOST_ROWS - 1) / MOST_ROWS};
}

template <typename Each>
void for_each_shown_row(const Picture& picture, Each each)
{
    const Steps step = steps(picture);
    for (std::size_t r = 0; r < picture.rows(); r += step.down) each(picture.row(r), step.across);
}

}  // namespace

void ansi_screen(const Picture& picture, std::string_view header, std::span<const std::string> footer,
                 std::string& out)
{
    out.assign("\x1b[H");
    append_line(header, out);
    char escape[32];
    for_each_shown_row(picture, [&](std::span<const Cell> row, std::size_t step) {
        bool first = true;
        Colour current = Colour::empty;
        for (std::size_t c = 0; c < row.size(); c += step) {
            const Cell& cell = row[c];
            if (first || cell.colour != current) {
                const Rgb rgb = colour_rgb(cell.colour);
                std::snprintf(escape, sizeof escape, "\x1b[48;2;%u;%u;%um", unsigned{rgb.r}, unsigned{rgb.g},
                              unsigned{rgb.b});
                out += escape;
                current = cell.colour;
                first = false;
            }
            out += ' ';
        }
        // No erase-line here: on an 80-column terminal it would take the last cell.
        out += "\x1b[0m\n";
    });
    for (const auto& line : footer) append_line(line, out);
    out += "\x1b[0m\x1b[J";
}

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
            continue;
        }
        constexpr const char* hex = "0123456789abcdef";
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 0xf];
    }
    return out;
}

std::string plain_picture(const Picture& picture)
{
    std::string out;
    for_each_shown_row(picture, [&](std::span<const Cell> row, std::size_t step) {
        for (std::size_t c = 0; c < row.size(); c += step) out += plain_glyph(row[c].colour);
        out += '\n';
    });
    return out;
}

}  // namespace insim_screen
