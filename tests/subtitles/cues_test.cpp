#include "subtitles/cues.hpp"

#include <string>

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

// Each cue as "start-end text;", in milliseconds; or the error.
std::string read(std::string_view bytes)
{
    const auto cues = parse_srt(bytes, "the subtitles 'a.srt'");
    if (!cues) return "error: " + cues.error().text();
    std::string out;
    for (const Cue& c : *cues) out += std::to_string(c.start.count() / 1000) + "-" + std::to_string(c.end.count() / 1000) + " " + c.text + ";";
    return out;
}

TEST(ParseSrt, ReadsCuesOrSaysWhereNot)
{
    const std::pair<std::string, std::string> cases[] = {
        {"1\n00:00:01,000 --> 00:00:02,500\nHello\nworld\n\n2\n00:00:03,000 --> 00:00:04,000\nBye\n",
         "1000-2500 Hello\nworld;3000-4000 Bye;"},
        // A byte-order mark, CRLF, no numbers, no blank line at the end.
        {"\xef\xbb\xbf" "00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n00:00:03,000 --> 00:00:04,000\r\nB", "1000-2000 A;3000-4000 B;"},
        // Any order; equal starts keep the file's order.
        {"3\n00:00:05,000 --> 00:00:06,000\nC\n\n1\n00:00:01,000 --> 00:00:02,000\nA\n\n00:00:01,000 --> 00:00:03,000\nA2\n",
         "1000-2000 A;1000-3000 A2;5000-6000 C;"},
        // No blank line before the next number and timing; but a number that is the text stays.
        {"1\n00:00:01,000 --> 00:00:02,000\nA\n2\n00:00:03,000 --> 00:00:04,000\n42\n", "1000-2000 A;3000-4000 42;"},
        // Markup dropped; a line left empty goes; tabs are spaces; < alone stays.
        {"00:00:01,000 --> 00:00:02,000\n{\\an8}\n<i>It's</i> <font color=\"#ff0000\">red</font>\ta < b\n", "1000-2000 It's red a < b;"},
        // A dot, hours of any length or none, short fractions, settings after the end.
        {"1:02:03.5 --> 100:00:00,25 X1:10\nA\n\n01:02,001 --> 01:03\nB\n", "62001-63000 B;3723500-360000250 A;"},
        // Cues without text or time drop out.
        {"00:00:01,000 --> 00:00:02,000\n\n00:00:03,000 --> 00:00:03,000\nX\n00:00:04,000 --> 00:00:05,000\nY\n", "4000-5000 Y;"},
        {"WEBVTT\n\nhello\n", "error: no cue in the subtitles 'a.srt'"},
        {"1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\r\n00:00:61,000 --> 00:01:02,000\r\nB\n",
         "error: the subtitles 'a.srt', line 6: '00:00:61,000 --> 00:01:02,000' is not a cue's timing"},
        {"00:00:01 --> soon\nA\n", "error: the subtitles 'a.srt', line 1: '00:00:01 --> soon' is not a cue's timing"},
    };
    for (const auto& [bytes, cues] : cases) EXPECT_EQ(read(bytes), cues) << bytes;
}

TEST(CueTimeline, TheCueOnAtAPosition)
{
    using std::chrono::milliseconds;
    const auto cue = [](std::int64_t from, std::int64_t to) { return Cue{milliseconds(from), milliseconds(to), "x"}; };
    const CueTimeline timeline({cue(1000, 2000), cue(2000, 3000), cue(5000, 9000), cue(6000, 7000), cue(8000, 8500)});
    const std::pair<std::int64_t, std::optional<std::size_t>> cases[] = {
        {0, {}}, {999, {}}, {1000, 0}, {1999, 0}, {2000, 1}, {2999, 1}, {3000, {}}, {4999, {}},
        // Overlaps: the later start shows, and the longer cue comes back after it.
        {5000, 2}, {6000, 3}, {6999, 3}, {7000, 2}, {8000, 4}, {8500, 2}, {8999, 2}, {9000, {}},
    };
    for (const auto& [ms, index] : cases) EXPECT_EQ(timeline.at(milliseconds(ms)), index) << ms;
}

}  // namespace
}  // namespace lumaflick
