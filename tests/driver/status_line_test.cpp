#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "control/status_line.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;

TEST(StatusLine, SaysWhereWhatAndHowMuch)
{
    const struct {
        StatusFacts facts;
        std::size_t width;
        std::string line;
    } cases[] = {
        {{.position = 12'400ms, .paused = false, .shown = 372, .skipped = 3, .bytes_per_second = 7'160, .answer = ""},
         0, "0:12.4 playing | 372 shown, 3 skipped | 7.2 kB/s to LFS"},
        {{.position = 0ms, .paused = true, .shown = 0, .skipped = 0, .bytes_per_second = 999, .answer = "paused at 0:00"},
         0, "0:00.0 paused | 0 shown, 0 skipped | 999 B/s to LFS | paused at 0:00"},
        {{.position = 3'723'000ms, .paused = false, .shown = 1, .skipped = 0, .bytes_per_second = 226'800,
          .answer = "to 1:02:03"},
         0, "1:02:03.0 playing | 1 shown, 0 skipped | 226.8 kB/s to LFS | to 1:02:03"},
        // Never into the terminal's last column, nor inside a character.
        {{.position = 0ms, .paused = false, .shown = 0, .skipped = 0, .bytes_per_second = 0, .answer = ""}, 20,
         "0:00.0 playing | 0 "},
        {{.position = 0ms, .paused = true, .shown = 0, .skipped = 0, .bytes_per_second = 0, .answer = "\xc3\xa9t\xc3\xa9"},
         54, "0:00.0 paused | 0 shown, 0 skipped | 0 B/s to LFS | "},
    };
    for (const auto& c : cases) EXPECT_EQ(format_status(c.facts, c.width), c.line);
}

TEST(StatusPace, AtMostFourLinesASecond)
{
    const StatusPace::Clock::time_point t0{};
    const struct {
        std::chrono::milliseconds at;
        bool taken;
    } steps[] = {{0ms, true}, {1ms, false}, {249ms, false}, {250ms, true}, {400ms, false}, {900ms, true}, {1150ms, true}};
    StatusPace pace;
    EXPECT_EQ(pace.next(), std::nullopt);
    for (const auto& step : steps) {
        const auto before = pace.next();
        EXPECT_EQ(pace.take(t0 + step.at), step.taken) << step.at.count();
        EXPECT_EQ(pace.next(), step.taken ? t0 + step.at + 250ms : before) << step.at.count();
    }
}

TEST(StatusConsole, RewritesOneLineInPlaceAndLeavesNothingBehind)
{
    EXPECT_EQ(rewrite_bytes("abc", 0, true), "\rabc\x1b[K");
    EXPECT_EQ(rewrite_bytes("ab", 5, false), "\rab   ");
    EXPECT_EQ(rewrite_bytes("abcdef", 2, false), "\rabcdef");
    EXPECT_EQ(erase_bytes(4, true), "\r\x1b[K");
    EXPECT_EQ(erase_bytes(3, false), "\r   \r");

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        StatusConsole console(file, true, 80, true);
        console.clear();  // nothing shown: nothing written
        console.show("one");
        console.show("two");
        console.clear();
        console.clear();
        console.show("end");
    }  // cleared when destroyed
    StatusConsole inactive(file, false, 80, true);
    inactive.show("never");
    std::rewind(file);
    std::string written(256, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_EQ(written, "\rone\x1b[K\rtwo\x1b[K\r\x1b[K\rend\x1b[K\r\x1b[K");
}

}  // namespace
}  // namespace lumaflick
