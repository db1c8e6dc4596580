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
        std::array<std::string, 2> lines;
    } cases[] = {
        {"one line", 10, {"", "one line"}},
        // Too long, or too many: joined, then greedily at spaces.
        {"the quick brown fox", 10, {"the quick", "brown fox"}},
        {"one\ntwo\nthree four five", 10, {"one two", "three four"}},
        // A word longer than a line is cut where the line ends; the rest is cut off.
        {"abcdefghijklmn", 10, {"abcdefghij", "klmn"}},
        {"ab cdefghijklmnopqrstuvwxyz", 10, {"ab", "cdefghijkl"}},
        // Characters, not bytes.
        {"\xd0\xb0\xd0\xb1\xd0\xb2 x", 3, {"\xd0\xb0\xd0\xb1\xd0\xb2", "x"}},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 2, {"\xe6\x97\xa5\xe6\x9c\xac", "\xe8\xaa\x9e"}},
    };
    for (const auto& c : cases) EXPECT_EQ(wrap_cue(c.text, c.characters), c.lines) << c.text;
}

TEST(SubtitlePlacement, UnderThePictureElseAboveElseAProblem)
{
    const auto geometry = [](std::uint8_t top, std::uint8_t row_height, std::uint8_t first_click_id, std::size_t rows) {
        return Geometry{80, rows, 7, top, row_height, first_click_id};
    };
    const struct {
        Geometry geometry;
        SubtitlePlacement placement;
    } placed[] = {
        {geometry(0, 6, 1, 30), {7, 180, 240, 31, 96}},
        {geometry(10, 6, 1, 30), {7, 190, 240, 31, 96}},
        {geometry(11, 6, 208, 30), {7, 1, 240, 238, 96}},
        {geometry(170, 1, 1, 30), {7, 160, 40, 31, 16}},
    };
    for (const auto& c : placed) {
        EXPECT_FALSE(subtitle_problem(c.geometry));
        EXPECT_EQ(subtitle_placement(c.geometry), c.placement);
    }
    EXPECT_EQ(subtitle_problem(geometry(0, 6, 209, 30))->limit, SubtitleLimit::click_ids);
    EXPECT_EQ(subtitle_problem(geometry(5, 6, 1, 31))->text, "the subtitles' two lines of height 5 fit neither under "
                                                             "the picture (T 191) nor above it (T 5): every T + H must "
                                                             "stay within 0-200");
}

// ClickID, T and text of each button of a block, whatever its packing.
std::vector<std::string> decode(std::span<const std::byte> block)
{
    std::vector<std::string> shown;
    while (!block.empty()) {
        insim::IS_BTN b{};
        const std::size_t size = std::min(std::to_integer<std::size_t>(block[0]) * 4, block.size());
        std::memcpy(&b, block.data(), std::min(size, sizeof b));
        EXPECT_TRUE(b.UCID == 255 && b.BStyle == insim::ISB_DARK && b.L == 7 && b.W == 240 && b.H == 5);
        const auto* text = reinterpret_cast<const char*>(b.Text.data());
        shown.push_back(std::to_string(b.ClickID) + "@" + std::to_string(b.T) + " " +
                        std::string(text, strnlen(text, b.Text.size())));
        block = block.subspan(size);
    }
    return shown;
}

TEST(SubtitleLines, OnlyLinesThatChangeFromTheFirstCueOn)
{
    const Cues cues = {{milliseconds(1000), milliseconds(2000), "one"},
                       {milliseconds(2000), milliseconds(3000), "two\none"},
                       {milliseconds(3000), milliseconds(4000), "two\nthree"},
                       {milliseconds(5000), milliseconds(6000), "\xd0\xb4\xd0\xb0 ^"}};
    const struct {
        std::int64_t ms;
        std::vector<std::string> sent;
    } steps[] = {
        {0, {}}, {999, {}}, {1000, {"32@185 one"}}, {1500, {}}, {2000, {"31@180 two"}}, {3000, {"32@185 three"}},
        {4000, {"31@180 ", "32@185 "}}, {4500, {}}, {5000, {"32@185 ^C\xe4\xe0 ^^"}},
        // A seek back: the cue of the new place, and before the first cue empty lines.
        {2500, {"31@180 two", "32@185 one"}}, {500, {"31@180 ", "32@185 "}},
    };
    for (const Packing packing : {Packing::full, Packing::shortest}) {
        SubtitleLines lines(cues, {7, 180, 240, 31, 96}, packing);
        for (const auto& step : steps) {
            const auto block = lines.changes(milliseconds(step.ms));
            EXPECT_EQ(decode(block), step.sent) << step.ms;
            EXPECT_TRUE(packing == Packing::shortest || block.size() == step.sent.size() * sizeof(insim::IS_BTN));
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
    (void)lines.buttons();
    // Not written: a later cue is compared with what LFS shows, and only what was given is committed.
    lines.take(milliseconds(1000));
    EXPECT_EQ(decode(lines.buttons()), (std::vector<std::string>{"31@180 a", "32@185 c"}));
    lines.written();
    lines.take(milliseconds(0));
    EXPECT_EQ(decode(lines.buttons()), (std::vector<std::string>{"32@185 b"}));
}

}  // namespace
}  // namespace lumaflick
