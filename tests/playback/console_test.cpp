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

TEST_F(PlaybackTest, DelayHoldsTheDecoderBackAfterTheConnection)
{
    FakeLfs& lfs = start_lfs();
    write_plan("frame 2400 0\nsleep 100\n");
    const RunOutcome outcome = play(arguments({"-r", "1000", "--delay", "1500"}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 3U) << outcome.out;
    EXPECT_EQ(outcome.out_lines[0].text, PREPARE);
    EXPECT_EQ(outcome.out_lines[1].text, "Runnin'");

    const auto packets = lfs.packets().packets;
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().type(), insim::ISP_ISI);
    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder && !decoder->frames.empty());
    // The decoder writes its first frame as soon as it starts.
    const auto decoder_start = from_steady_ns(decoder->frames.front().steady_ns);

    // The run started before the connection, so these lower bounds hold
    // however late the init's arrival was stamped here.
    EXPECT_GE(between(outcome.started, decoder_start), 1500ms);
    EXPECT_GE(between(outcome.started, outcome.out_lines[1].at), 1500ms);
    EXPECT_LE(between(packets.front().at, decoder_start), 3000ms);
    // Printed before the wait, the line is read well before the decoder starts.
    EXPECT_GE(between(outcome.out_lines[0].at, decoder_start), 750ms) << "the line comes before the wait";
}

}  // namespace
}  // namespace lumaflick::test
