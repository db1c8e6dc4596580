#include "cli/command_line_windows.hpp"

#include <windows.h>

#include "cli/command_line.hpp"

namespace lumaflick {

namespace {

constexpr bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }
constexpr bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void append_code_point(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string wide_to_wtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (is_high_surrogate(c) && i + 1 < text.size()) {
            const char32_t next = static_cast<char16_t>(text[i + 1]);
            if (is_low_surrogate(next)) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            }
        }
        append_code_point(out, c);
    }
    return out;
}

std::vector<std::string> split_windows_command_line(std::wstring_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;

    // The program word has no escapes (Windows paths cannot hold a quote but
    // often end in a backslash): quotes only switch blanks on and off.
    std::wstring word;
    for (bool quoted = false; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
        if (line[i] == L'"') {
            quoted = !quoted;
        } else {
            word += line[i];
        }
    }
    if (!line.empty()) words.push_back(wide_to_wtf8(word));

    for (;;) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size()) break;

        word.clear();
        bool quoted = false;
        while (i < line.size() && (quoted || !is_blank(line[i]))) {
            if (line[i] == L'\\') {
                std::size_t backslashes = 0;
                while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
                if (i < line.size() && line[i] == L'"') {
                    // 2n backslashes and a quote: n backslashes and a quote
                    // that toggles; 2n+1: n backslashes and a literal quote.
                    word.append(backslashes / 2, L'\\');
                    if (backslashes % 2 == 1) {
                        word += L'"';
                        ++i;
                    }
                } else {
                    word.append(backslashes, L'\\');
                }
            } else if (line[i] == L'"') {
                // Inside quotes, "" is a literal quote and the quoting goes on.
                if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    word += L'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                word += line[i++];
            }
        }
        words.push_back(wide_to_wtf8(word));
    }
    return words;
}

std::vector<std::string> process_command_line(int, char**)
{
    // The C runtime's argv is in the ANSI code page and loses what it cannot
    // represent; the wide command line has every character.
    const wchar_t* line = ::GetCommandLineW();
    return split_windows_command_line(line == nullptr ? std::wstring_view{} : std::wstring_view{line});
}

}  // namespace lumaflick
