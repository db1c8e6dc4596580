// Frames that were already waiting in the pipe are dropped, counted, and never
// sent. The rule's exact counts are unit-tested with an injected clock; over a
// real pipe a loaded machine may delay any read, so this checks only what
// holds however the reads were timed.
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, BurstAfterAPauseIsSkippedAndCounted)
{
    FakeLfs& lfs = start_lfs();
    // Rate 10: a read must wait 93 ms to be shown. The gray burst lands right
    // behind the white frame, so its reads return at once.
    write_plan("sleep 300\n"
               "frame 2400 0\n"
               "sleep 300\n"
               "frame 2400 255\n"
               "frames 4 2400 128\n"
               "sleep 300\n"
               "frame 2400 255\n"
               "sleep 100\n");
    const RunOutcome outcome = play(arguments({"-r", "10"}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    const std::string& line = outcome.out_lines[1].text;
    const auto numbers = parse_statistics(line);
    ASSERT_TRUE(numbers) << line;
    EXPECT_GE(numbers->skipped, 1U) << "nothing of the burst was skipped: " << line;
    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder);
    EXPECT_EQ(numbers->shown + numbers->skipped, decoder->frames.size()) << line;

    ASSERT_TRUE(lfs.wait_closed(5s));
    const auto packets = lfs.packets().packets;
    const auto messages = of_type(packets, insim::ISP_MST);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(message(messages[0]), line);
    // The first and the last picture were shown whatever happened between.
    const auto buttons = of_type(packets, insim::ISP_BTN);
    ASSERT_GE(buttons.size(), 60U);
    EXPECT_LE(buttons.size(), 30 * numbers->shown);
    for (std::size_t i = 0; i < 30; ++i) {
        EXPECT_EQ(button(buttons[i]).text, row_of("^0_")) << "button " << i;
        EXPECT_EQ(button(buttons[buttons.size() - 30 + i]).text, row_of("^7_")) << "button " << i << " from the end";
    }
    // Skipped frames send nothing: every shown frame changes all 30 rows to
    // one picture, so the buttons come in whole pictures, one per shown frame
    // at most.
    ASSERT_EQ(buttons.size() % 30, 0U);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(button(buttons[i]).text, button(buttons[i - i % 30]).text) << "button " << i;
    }
}

}  // namespace
}  // namespace lumaflick::test
