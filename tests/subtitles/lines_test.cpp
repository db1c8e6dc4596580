#include "subtitles/layout.hpp"
#include "subtitles/subtitle_lines.hpp"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

using std::chrono::milliseconds;

TEST(WrapCue, TwoLinesAtMost)
{
    const struct {
        std::string text;
        std::size_t characters;
        std::string upper;
        std::string lower;
    } cases[] = {
        {"one line", 10, "", "one line"},
        {"upper\nlower", 10, "upper", "lower"},
        {"exactly 10\n0123456789", 10, "exactly 10", "0123456789"},
        // Too long, or too many: joined, then greedily at spaces.
        {"the quick brown fox", 10, "the quick", "brown fox"},
        {"a\nb\nc", 10, "", "a b c"},
        {"one\ntwo\nthree four five", 10, "one two", "three four"},
        {"aaa bbbb cc dd ee ff gg", 8, "aaa bbbb", "cc dd ee"},
        // A word longer than a line is cut there and goes on; the rest is cut off.
        {"abcdefghijklmn", 10, "abcdefghij", "klmn"},
        {"ab cdefghijklmnopqrstuvwxyz", 10, "ab", "cdefghijkl"},
        {"abcdefghijklmnopqrstuvwxyz", 10, "abcdefghij", "klmnopqrst"},
        // Characters, not bytes: ten Cyrillic letters fit ten.
        {"\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4\xd0\xb5\xd0\xb6\xd0\xb7\xd0\xb8\xd0\xb9 x", 10,
         "\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4\xd0\xb5\xd0\xb6\xd0\xb7\xd0\xb8\xd0\xb9", "x"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 2, "\xe6\x97\xa5\xe6\x9c\xac", "\xe8\xaa\x9e"},
    };
    for (const auto& c : cases) {
        const auto lines = wrap_cue(c.text, c.characters);
        EXPECT_EQ(lines[0], c.upper) << c.text;
        EXPECT_EQ(lines[1], c.lower) << c.text;
    }
}

Geometry geometry(std::uint8_t top, std::uint8_t row_height, std::uint8_t first_click_id, std::size_t rows = 30)
{
    Geometry g;
    g.left = 7;
    g.top = top;
    g.row_height = row_height;
    g.first_click_id = first_click_id;
    g.rows = rows;
    return g;
}

TEST(SubtitlePlacement, UnderThePictureElseAboveElseAProblem)
{
    const struct {
        Geometry geometry;
        std::uint8_t top;
        std::uint8_t width;
        std::uint8_t first_click_id;
        std::size_t characters;
    } placed[] = {
        {geometry(0, 6, 1), 180, 240, 31, 96},
        {geometry(10, 6, 1), 190, 240, 31, 96},
        {geometry(11, 6, 1), 1, 240, 31, 96},
        {geometry(20, 6, 208), 10, 240, 238, 96},
        {geometry(0, 1, 1), 30, 40, 31, 16},
        {geometry(170, 1, 1), 160, 40, 31, 16},
    };
    for (const auto& c : placed) {
        ASSERT_FALSE(subtitle_problem(c.geometry)) << subtitle_problem(c.geometry)->text;
        const SubtitlePlacement p = subtitle_placement(c.geometry);
        EXPECT_EQ(p, (SubtitlePlacement{7, c.top, c.width, c.first_click_id, c.characters}));
    }
    const struct {
        Geometry geometry;
        SubtitleLimit limit;
        std::string text;
    } problems[] = {
        {geometry(0, 6, 209), SubtitleLimit::click_ids, "the subtitles' ClickIDs 239 and 240 must stay within 0-239"},
        {geometry(5, 6, 1, 31), SubtitleLimit::room,
         "the subtitles' two lines of height 5 fit neither under the picture (T 191) nor above it (T 5): every T + H "
         "must stay within 0-200"},
    };
    for (const auto& c : problems) {
        const auto problem = subtitle_problem(c.geometry);
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->limit, c.limit);
        EXPECT_EQ(problem->text, c.text);
    }
}

struct Shown {
    std::uint8_t click_id;
    std::uint8_t top;
    std::string text;
    friend bool operator==(const Shown&, const Shown&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Shown& s)
    {
        return out << int{s.click_id} << "@" << int{s.top} << " '" << s.text << "'";
    }
};

// Every button of a block, whatever its packing; checks what is the same for all.
std::vector<Shown> decode(std::span<const std::byte> block)
{
    std::vector<Shown> shown;
    while (!block.empty()) {
        insim::IS_BTN button{};
        const std::size_t size = std::to_integer<std::size_t>(block[0]) * 4;
        EXPECT_GE(block.size(), size);
        std::memcpy(&button, block.data(), std::min(size, sizeof button));
        EXPECT_EQ(button.Type, insim::ISP_BTN);
        EXPECT_EQ(button.UCID, 255);
        EXPECT_EQ(button.BStyle, insim::ISB_DARK);
        EXPECT_EQ(button.L, 7);
        EXPECT_EQ(button.W, 240);
        EXPECT_EQ(button.H, 5);
        const auto* text = reinterpret_cast<const char*>(button.Text.data());
        shown.push_back({button.ClickID, button.T, std::string(text, strnlen(text, button.Text.size()))});
        block = block.subspan(std::min(size, block.size()));
    }
    return shown;
}

TEST(SubtitleLines, OnlyLinesThatChangeFromTheFirstCueOn)
{
    const Cues cues = {{milliseconds(1000), milliseconds(2000), "one"},
                       {milliseconds(2000), milliseconds(3000), "two\none"},
                       {milliseconds(3000), milliseconds(4000), "two\nthree"},
                       {milliseconds(5000), milliseconds(6000), "\xd0\xb4\xd0\xb0 ^"}};
    const SubtitlePlacement placement{7, 180, 240, 31, 96};
    const struct {
        std::int64_t ms;
        std::vector<Shown> sent;
    } steps[] = {
        {0, {}},
        {999, {}},
        {1000, {{32, 185, "one"}}},
        {1500, {}},
        {2000, {{31, 180, "two"}}},
        {3000, {{32, 185, "three"}}},
        {4000, {{31, 180, ""}, {32, 185, ""}}},
        {4500, {}},
        {5000, {{32, 185, "^C\xe4\xe0 ^^"}}},
        // A seek back: the cue of the new place, and before the first cue nothing.
        {2500, {{31, 180, "two"}, {32, 185, "one"}}},
        {500, {{31, 180, ""}, {32, 185, ""}}},
        {1000, {{32, 185, "one"}}},
    };
    for (const Packing packing : {Packing::full, Packing::shortest}) {
        SubtitleLines lines(cues, placement, packing);
        for (const auto& step : steps) {
            const auto block = lines.changes(milliseconds(step.ms));
            if (packing == Packing::full) {
                EXPECT_EQ(block.size(), step.sent.size() * sizeof(insim::IS_BTN)) << step.ms;
            }
            EXPECT_EQ(decode(block), step.sent) << step.ms;
            lines.written();
            EXPECT_FALSE(lines.pending());
        }
    }
}

TEST(SubtitleLines, ALineIsShownOnlyOnceWritten)
{
    const Cues cues = {{milliseconds(0), milliseconds(1000), "a\nb"}, {milliseconds(1000), milliseconds(2000), "a\nc"}};
    SubtitleLines lines(cues, {7, 180, 240, 31, 96}, Packing::shortest);
    lines.take(milliseconds(0));
    EXPECT_EQ(decode(lines.buttons()), (std::vector<Shown>{{31, 180, "a"}, {32, 185, "b"}}));
    // Not written: still pending, and a later cue is compared with what LFS shows.
    lines.take(milliseconds(1000));
    EXPECT_TRUE(lines.pending());
    EXPECT_EQ(decode(lines.buttons()), (std::vector<Shown>{{31, 180, "a"}, {32, 185, "c"}}));
    lines.written();
    EXPECT_FALSE(lines.pending());
    lines.take(milliseconds(0));
    EXPECT_EQ(decode(lines.buttons()), (std::vector<Shown>{{32, 185, "b"}}));
}

}  // namespace
}  // namespace lumaflick
