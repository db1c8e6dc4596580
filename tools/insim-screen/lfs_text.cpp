#include "lfs_text.hpp"

#include <array>
#include <cstring>

#include <iconv.h>

namespace insim_screen {

namespace {

struct Page {
    char letter;
    const char* name;
    bool double_byte;
};

constexpr std::array<Page, 10> PAGES{{
    {'L', "CP1252", false}, {'G', "CP1253", false}, {'C', "CP1251", false}, {'E', "CP1250", false},
    {'T', "CP1254", false}, {'B', "CP1257", false}, {'J', "CP932", true},   {'H', "CP950", true},
    {'S', "CP936", true},   {'K', "CP949", true},
}};

const Page* page_of(char letter) noexcept
{
    for (const Page& page : PAGES) {
        if (page.letter == letter) return &page;
    }
    return nullptr;
}

// CP932's lead bytes; the other double-byte pages lead with 0x81 to 0xFE.
bool is_lead(const Page& page, unsigned char byte) noexcept
{
    if (!page.double_byte) return false;
    if (page.letter == 'J') return (byte >= 0x81 && byte <= 0x9f) || (byte >= 0xe0 && byte <= 0xfc);
    return byte >= 0x81 && byte <= 0xfe;
}

// One character of `page` (one or two bytes) in UTF-8.
void append_decoded(const Page& page, std::string_view bytes, std::string& out)
{
    iconv_t cd = iconv_open("UTF-8", page.name);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out += "\xef\xbf\xbd";
        return;
    }
    std::array<char, 16> in{};
    std::memcpy(in.data(), bytes.data(), bytes.size());
    std::array<char, 16> decoded{};
    char* in_at = in.data();
    char* out_at = decoded.data();
    std::size_t in_left = bytes.size();
    std::size_t out_left = decoded.size();
    if (iconv(cd, &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) {
        out += "\xef\xbf\xbd";
    } else {
        out.append(decoded.data(), static_cast<std::size_t>(out_at - decoded.data()));
    }
    iconv_close(cd);
}

}  // namespace

char escaped(char code) noexcept
{
    constexpr std::string_view codes = "vacdsqtlrh^";
    constexpr std::string_view glyphs = "|*:\\/?\"<>#^";
    const std::size_t at = codes.find(code);
    return at == std::string_view::npos ? '\0' : glyphs[at];
}

bool has_code_pages(std::string_view text) noexcept
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
        if (text[i] == '^' && i + 1 < text.size() && (page_of(text[i + 1]) != nullptr || text[i + 1] == '^')) {
            return true;
        }
    }
    return false;
}

std::string lfs_to_utf8(std::string_view text)
{
    std::string out;
    const Page* page = &PAGES[0];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            const bool pair = is_lead(*page, byte) && i + 1 < text.size();
            append_decoded(*page, text.substr(i, pair ? 2 : 1), out);
            if (pair) ++i;
            continue;
        }
        if (c != '^' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char code = text[++i];
        if (code >= '0' && code <= '9') continue;
        if (const Page* switched = page_of(code)) {
            page = switched;
        } else if (const char glyph = escaped(code); glyph != '\0') {
            out += glyph;
        } else {
            out += c;
            --i;  // a caret that starts no code is shown as it is
        }
    }
    return out;
}

}  // namespace insim_screen
