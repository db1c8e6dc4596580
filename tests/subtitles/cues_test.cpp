#include "subtitles/cues.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

using std::chrono::milliseconds;

Cue cue(std::int64_t start_ms, std::int64_t end_ms, std::string text)
{
    return {milliseconds(start_ms), milliseconds(end_ms), std::move(text)};
}

}  // namespace

void PrintTo(const Cue& c, std::ostream* out) { *out << c.start.count() << "-" << c.end.count() << " " << c.text; }

namespace {

TEST(ParseSrt, ReadsCues)
{
    const struct {
        std::string bytes;
        Cues cues;
    } cases[] = {
        {"1\n00:00:01,000 --> 00:00:02,500\nHello\nworld\n\n2\n00:00:03,000 --> 00:00:04,000\nBye\n",
         {cue(1000, 2500, "Hello\nworld"), cue(3000, 4000, "Bye")}},
        // A byte-order mark, CRLF, no numbers, no blank line at the end.
        {"\xef\xbb\xbf" "00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n00:00:03,000 --> 00:00:04,000\r\nB",
         {cue(1000, 2000, "A"), cue(3000, 4000, "B")}},
        // Any order; equal starts keep the file's order.
        {"3\n00:00:05,000 --> 00:00:06,000\nC\n\n1\n00:00:01,000 --> 00:00:02,000\nA\n\n"
         "00:00:01,000 --> 00:00:03,000\nA2\n",
         {cue(1000, 2000, "A"), cue(1000, 3000, "A2"), cue(5000, 6000, "C")}},
        // A missing blank line before the next number and timing.
        {"1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\nB\n",
         {cue(1000, 2000, "A"), cue(3000, 4000, "B")}},
        // But a number that is the text stays.
        {"00:00:01,000 --> 00:00:02,000\n42\n", {cue(1000, 2000, "42")}},
        // Markup dropped; a line left empty goes; tabs are spaces; < alone stays.
        {"00:00:01,000 --> 00:00:02,000\n{\\an8}\n<i>It's</i> <font color=\"#ff0000\">red</font>\ta < b\n",
         {cue(1000, 2000, "It's red a < b")}},
        // Times: a dot, hours of any length, no hours, short fractions; settings after the end.
        {"1:02:03.5 --> 100:00:00,25 X1:10\nA\n\n01:02,001 --> 01:03,000\nB\n",
         {cue(62'001, 63'000, "B"), cue(3'723'500, 360'000'250, "A")}},
        // Cues without text or time drop out.
        {"00:00:01,000 --> 00:00:02,000\n\n00:00:03,000 --> 00:00:03,000\nX\n00:00:04,000 --> 00:00:05,000\nY\n",
         {cue(4000, 5000, "Y")}},
    };
    for (const auto& c : cases) {
        const auto cues = parse_srt(c.bytes, "the subtitles 'a.srt'");
        ASSERT_TRUE(cues) << cues.error().debug() << "\n" << c.bytes;
        EXPECT_EQ(*cues, c.cues) << c.bytes;
    }
}

TEST(ParseSrt, RefusesWithTheFileAndLine)
{
    const struct {
        std::string bytes;
        std::string error;
    } cases[] = {
        {"", "no cue in the subtitles 'a.srt'"},
        {"WEBVTT\n\nhello\n", "no cue in the subtitles 'a.srt'"},
        {"1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\r\n00:00:61,000 --> 00:01:02,000\r\nB\n",
         "the subtitles 'a.srt', line 6: '00:00:61,000 --> 00:01:02,000' is not a cue's timing"},
        {"00:00:01 --> soon\nA\n", "the subtitles 'a.srt', line 1: '00:00:01 --> soon' is not a cue's timing"},
    };
    for (const auto& c : cases) {
        const auto cues = parse_srt(c.bytes, "the subtitles 'a.srt'");
        ASSERT_FALSE(cues) << c.bytes;
        EXPECT_EQ(cues.error().text(), c.error);
    }
}

TEST(CueTimeline, TheCueOnAtAPosition)
{
    const Cues cues = {cue(1000, 2000, "a"), cue(2000, 3000, "b"), cue(5000, 9000, "long"), cue(6000, 7000, "inner"),
                       cue(8000, 8500, "late")};
    const CueTimeline timeline(cues);
    const struct {
        std::int64_t ms;
        std::optional<std::size_t> cue;
    } cases[] = {
        {0, {}}, {999, {}}, {1000, 0}, {1999, 0}, {2000, 1}, {2999, 1}, {3000, {}}, {4999, {}},
        // Overlaps: the later start shows, and the longer cue comes back after it.
        {5000, 2}, {5999, 2}, {6000, 3}, {6999, 3}, {7000, 2}, {8000, 4}, {8500, 2}, {8999, 2}, {9000, {}},
        {1'000'000, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(timeline.at(milliseconds(c.ms)), c.cue) << c.ms;
    EXPECT_EQ(CueTimeline(Cues{}).at(milliseconds(0)), std::nullopt);
}

}  // namespace
}  // namespace lumaflick
