// The console lines, their order, and when they appear.
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

constexpr const char* PREPARE = "Prepare yourself, we're startin' in!";
constexpr const char* STATISTICS = "Read bytes: 2kB, Skipped 0 frames (0%)";

TEST_F(PlaybackTest, ConsoleLinesInOrderEachPrintedWhenItHappens)
{
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases{
        {"without --delay", {}, {"Runnin'", STATISTICS}},
        {"--delay 0", {"--delay", "0"}, {PREPARE, "Runnin'", STATISTICS}},
    };
    write_plan("sleep 100\nframe 2400 0\nsleep 100\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start_lfs();
        auto extra = c.extra;
        extra.insert(extra.end(), {"-r", "1000"});
        const RunOutcome outcome = play(arguments(extra));
        EXPECT_EQ(outcome.exit_status, 0);
        EXPECT_EQ(outcome.err, "");
        std::string expected;
        for (const auto& line : c.lines) expected += line + "\n";
        EXPECT_EQ(outcome.out, expected);
        ASSERT_EQ(outcome.out_lines.size(), c.lines.size());

        // Buffered output would arrive all at once at the exit; "Runnin'" comes
        // 700 ms before the statistics (a frame, a pause, the final wait), and
        // its stamp may be late by half that.
        const auto& runnin = outcome.out_lines[outcome.out_lines.size() - 2];
        EXPECT_GE(between(runnin.at, outcome.out_lines.back().at), 350ms);
        if (c.lines.size() == 3) {
            EXPECT_LT(between(outcome.out_lines[0].at, runnin.at), SLACK) << "--delay 0 waited";
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
