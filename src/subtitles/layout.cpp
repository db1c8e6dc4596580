#include <algorithm>
#include "subtitles/layout.hpp"

#include <vector>

#include "text/lfs_text.hpp"

namespace lumaflick {

namespace {

constexpr unsigned BOTH_LINES = 2 * SUBTITLE_LINE_HEIGHT;

unsigned picture_bottom(const Geometry& g) { return g.top + static_cast<unsigned>(g.row_height * g.rows); }

std::size_t count_characters(std::string_view text)
{
    std::size_t count = 0;
    while (!text.empty()) {
        text.remove_prefix(text::next_code_point(text).length);
        ++count;
    }
    return count;
}

// The bytes of the first `characters` characters.
std::size_t prefix_bytes(std::string_view text, std::size_t characters)
{
    std::size_t bytes = 0;
    for (; characters > 0 && bytes < text.size(); --characters) bytes += text::next_code_point(text.substr(bytes)).length;
    return bytes;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

}  // namespace

std::optional<SubtitleProblem> subtitle_problem(const Geometry& g)
{
    const unsigned first = g.first_click_id + static_cast<unsigned>(g.buttons());
    if (first + 1 > LAST_CLICK_ID) {
        return SubtitleProblem{SubtitleLimit::click_ids, "the subtitles' ClickIDs " + std::to_string(first) + " and " +
                                                             std::to_string(first + 1) + " must stay within 0-" +
                                                             std::to_string(LAST_CLICK_ID)};
    }
    if (picture_bottom(g) + BOTH_LINES > SCREEN_UNITS && g.top < BOTH_LINES) {
        return SubtitleProblem{SubtitleLimit::room, "the subtitles' two lines of height 5 fit neither under the picture "
                                                    "(T " + std::to_string(picture_bottom(g)) + ") nor above it (T " +
                                                        std::to_string(g.top) + "): every T + H must stay within 0-" +
                                                        std::to_string(SCREEN_UNITS)};
    }
    return std::nullopt;
}

SubtitlePlacement subtitle_placement(const Geometry& g)
{
    const unsigned bottom = picture_bottom(g);
    SubtitlePlacement placement;
    placement.left = g.left;
    placement.top = static_cast<std::uint8_t>(bottom + BOTH_LINES <= SCREEN_UNITS ? bottom : g.top - BOTH_LINES);
    // A pixel is H/2 units wide; a button's W is one byte.
    placement.width = static_cast<std::uint8_t>(std::min<std::size_t>(g.width * g.row_height / 2, 255));
    placement.first_click_id = static_cast<std::uint8_t>(g.first_click_id + g.buttons());
    placement.characters = placement.width * 2u / 5u;
    return placement;
}

std::array<std::string, 2> wrap_cue(std::string_view text, std::size_t characters)
{
    const std::vector<std::string_view> lines = split(text, '\n');
    bool fits = lines.size() <= 2;
    for (const std::string_view line : lines) fits = fits && count_characters(line) <= characters;
    if (fits) return {lines.size() == 2 ? std::string(lines[0]) : std::string(), std::string(lines.back())};

    // Greedily at spaces; a word longer than a line is cut where the line ends.
    std::array<std::string, 2> wrapped;
    std::size_t line = 0;
    std::size_t used = 0;
    for (const std::string_view line_text : lines) {
        for (std::string_view word : split(line_text, ' ')) {
            if (word.empty()) continue;
            while (!word.empty() && line < 2) {
                const std::size_t length = count_characters(word);
                const std::size_t gap = used == 0 ? 0 : 1;
                if (used + gap + length <= characters) {
                    if (gap != 0) wrapped[line] += ' ';
                    wrapped[line] += word;
                    used += gap + length;
                    word = {};
                } else if (used == 0 || line == 1) {
                    const std::size_t room = characters > used + gap ? characters - used - gap : 0;
                    if (room > 0 && gap != 0) wrapped[line] += ' ';
                    const std::size_t bytes = prefix_bytes(word, room);
                    wrapped[line] += word.substr(0, bytes);
                    word.remove_prefix(bytes);
                    ++line, used = 0;
                } else {
                    ++line, used = 0;
                }
            }
        }
    }
    if (wrapped[1].empty()) std::swap(wrapped[0], wrapped[1]);
    return wrapped;
}

}  // namespace lumaflick
