// Frames that were already waiting in the pipe are dropped, counted, and never sent.
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, BurstAfterAPauseIsSkippedAndCounted)
{
    FakeLfs& lfs = start_lfs();
    // Rate 10: a read must wait 93 ms to be shown. The gray burst lands right
    // behind the white frame, so its reads return at once; shown, any of them
    // would send rows of "^6_", and the last white frame would differ from it.
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

    // 3 shown frames of 2400 bytes: 7200 bytes, 7 kB; 4 of 7 skipped: 57 %.
    const std::string statistics = "Read bytes: 7kB, Skipped 4 frames (57%)";
    EXPECT_EQ(outcome.out, "Runnin'\n" + statistics + "\n");
    ASSERT_TRUE(lfs.wait_closed(5s));

    const auto packets = lfs.packets().packets;
    const auto buttons = of_type(packets, TYPE_BTN);
    ASSERT_EQ(buttons.size(), 60U);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(button(buttons[i]).text, row_of(i < 30 ? "^0_" : "^7_")) << "button " << i;
    }
    const auto messages = of_type(packets, TYPE_MST);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(message(messages[0]), statistics);

    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->frames.size(), 7U);
}

}  // namespace
}  // namespace lumaflick::test
