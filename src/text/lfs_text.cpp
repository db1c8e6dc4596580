#include "text/lfs_text.hpp"

#include <algorithm>
#include <optional>

#include "text/code_page_tables.hpp"

namespace lumaflick::text {

namespace {

std::optional<std::uint16_t> code_in(const CodePageTable& page, char32_t unicode) noexcept
{
    const auto found = std::lower_bound(page.entries.begin(), page.entries.end(), unicode,
                                        [](const CodeEntry& e, char32_t u) { return e.unicode < u; });
    if (found == page.entries.end() || found->unicode != unicode) return std::nullopt;
    return found->code;
}

}  // namespace

CodePoint next_code_point(std::string_view utf8) noexcept
{
    constexpr CodePoint invalid{0xfffd, 1};
    if (utf8.empty()) return {0, 0};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2, value = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3, value = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return invalid;
    }
    if (utf8.size() < length) return invalid;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return invalid;
        value = value << 6 | (byte(i) & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return invalid;
    return {value, length};
}

std::size_t append_lfs(std::string_view utf8, std::string& out, std::size_t limit)
{
    const std::size_t start = out.size();
    std::size_t current = 0;  // Latin-1
    char piece[4];
    while (!utf8.empty()) {
        const CodePoint c = next_code_point(utf8);
        utf8.remove_prefix(c.length);
        std::size_t size = 0;
        if (c.value < 0x80) {
            piece[size++] = static_cast<char>(c.value);
            if (c.value == '^') piece[size++] = '^';
        } else {
            std::optional<std::uint16_t> code;
            if (c.value <= 0xffff) {
                code = code_in(CODE_PAGES[current], c.value);
                for (std::size_t page = 0; !code && page < CODE_PAGE_COUNT; ++page) {
                    if (page == current) continue;
                    code = code_in(CODE_PAGES[page], c.value);
                    if (code) {
                        current = page;
                        piece[size++] = '^';
                        piece[size++] = CODE_PAGES[page].letter;
                    }
                }
            }
            if (!code) {
                piece[size++] = '?';
            } else {
                if (*code > 0xff) piece[size++] = static_cast<char>(*code >> 8);
                piece[size++] = static_cast<char>(*code & 0xff);
            }
        }
        if (out.size() - start + size > limit) break;
        out.append(piece, size);
    }
    return out.size() - start;
}

std::string to_lfs(std::string_view utf8, std::size_t limit)
{
    std::string out;
    append_lfs(utf8, out, limit);
    return out;
}

}  // namespace lumaflick::text
