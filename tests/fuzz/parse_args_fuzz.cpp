// Arbitrary argument vectors through the command-line parser: the input is cut
// at NUL bytes into words, the first being the program path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/args.hpp"
#include "fuzz_check.hpp"

namespace {

std::vector<std::string> split_words(std::string_view input)
{
    std::vector<std::string> words;
    if (input.empty()) return words;  // argc 0 is possible on POSIX
    for (;;) {
        const auto end = input.find('\0');
        words.emplace_back(input.substr(0, end));
        if (end == std::string_view::npos) return words;
        input.remove_prefix(end + 1);
    }
}

bool valid_utf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

void check_args(const lumaflick::Args& args)
{
    // The driver takes four glyph strings and divides by the rate.
    FUZZ_CHECK(args.subpixels.size() >= 4 && args.subpixels.size() % 4 == 0);
    FUZZ_CHECK(args.rate >= 1);
    FUZZ_CHECK(valid_utf8(args.password) && valid_utf8(args.ffmpeg_path) && valid_utf8(args.video_path));
    for (const auto* optional : {&args.ffplay_path, &args.s, &args.t}) {
        FUZZ_CHECK(!*optional || valid_utf8(**optional));
    }
    for (const auto& glyph : args.subpixels) FUZZ_CHECK(valid_utf8(glyph));
    // Every button of the picture keeps LFS's limits.
    const lumaflick::Geometry& g = args.geometry;
    FUZZ_CHECK(g.pixels() >= 1 && g.first_click_id + g.buttons() - 1 <= 239);
    FUZZ_CHECK(g.row_height >= 1 && g.row_height <= 6 && g.top + g.rows * g.row_height <= 200);
    for (std::size_t k = 0; k < g.buttons(); ++k) {
        const lumaflick::ButtonPlace place = g.button(k);
        FUZZ_CHECK(g.left + place.first_pixel % g.width * g.row_height / 2 <= 200);
        FUZZ_CHECK(place.pixels * g.row_height % 2 == 0);
    }
}

void check_exit(const lumaflick::ParseExit& exit)
{
    FUZZ_CHECK(exit.status == 0 || exit.status == 2);
    if (exit.status == 0) FUZZ_CHECK(!exit.out.empty() && exit.err.empty());
    if (exit.status == 2) FUZZ_CHECK(!exit.err.empty() && exit.out.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto words = split_words(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto outcome = lumaflick::parse_args(words);
    if (const auto* args = std::get_if<lumaflick::Args>(&outcome)) {
        check_args(*args);
    } else {
        check_exit(std::get<lumaflick::ParseExit>(outcome));
    }
    // The parser must keep no state from one call to the next.
    const auto again = lumaflick::parse_args(words);
    FUZZ_CHECK(again.index() == outcome.index());
    if (const auto* args = std::get_if<lumaflick::Args>(&outcome)) FUZZ_CHECK(*args == std::get<lumaflick::Args>(again));
    return 0;
}
