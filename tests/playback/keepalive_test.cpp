// A still picture sends nothing, so the program has to keep LFS from dropping
// the connection; a moving one needs no keep-alive. Interval here: 1 s.
#include <algorithm>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, KeepAliveOnlyWhileThePictureStandsStill)
{
    struct Case {
        const char* name;
        std::string frames;  // 25 frames, 100 ms apart
        bool still;
    };
    const std::vector<Case> cases{
        {"still picture", repeat("frame 2400 0\nsleep 100\n", 25), true},
        {"moving picture", repeat("frame 2400 0\nsleep 100\nframe 2400 255\nsleep 100\n", 12) + "frame 2400 0\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log_);
        write_plan("sleep 100\n" + c.frames);
        FakeLfs& lfs = start_lfs();
        const RunOutcome outcome = play(arguments({"-r", "1000"}), LUMAFLICK_SHORT_KEEPALIVE);
        EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
        ASSERT_TRUE(lfs.wait_closed(5s));

        const auto packets = lfs.packets().packets;
        const auto tinies = of_type(packets, insim::ISP_TINY);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.back().type(), insim::ISP_MST);
        if (!c.still) {
            EXPECT_EQ(tinies.size(), 0U);
            continue;
        }
        // About 2.5 s of stillness after the first frame: one keep-alive a
        // second. The decoder's own stamp of that frame cannot be late; the
        // arrivals are stamped here and may be: half a second of margin
        // between two of them, SLACK above.
        ASSERT_GE(tinies.size(), 1U);
        EXPECT_LE(tinies.size(), 3U);
        const auto decoder = scripted("decoder");
        ASSERT_TRUE(decoder && !decoder->frames.empty());
        EXPECT_GE(between(from_steady_ns(decoder->frames.front().steady_ns), tinies[0].at), 1000ms);
        EXPECT_LE(between(of_type(packets, insim::ISP_BTN).front().at, tinies[0].at), 1000ms + SLACK);
        for (std::size_t i = 0; i < tinies.size(); ++i) {
            EXPECT_EQ(tinies[i].bytes, (std::vector<std::uint8_t>{1, 3, 0, 0}));
            if (i > 0) {
                EXPECT_GE(between(tinies[i - 1].at, tinies[i].at), 500ms);
            }
        }
    }
}


// --delay holds the decoder back after the connection, with the line before
// the wait; a silent stretch too, it must not let LFS drop us.
TEST_F(PlaybackTest, StartDelayHoldsTheDecoderBackWithKeepAlives)
{
    write_plan("frame 2400 0\n");
    FakeLfs& lfs = start_lfs();
    const RunOutcome outcome = play(arguments({"-r", "1000", "--delay", "2500"}), LUMAFLICK_SHORT_KEEPALIVE);
    EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 3U) << outcome.out;
    EXPECT_EQ(outcome.out_lines[0].text, "Prepare yourself, we're startin' in!");
    EXPECT_EQ(outcome.out_lines[1].text, "Runnin'");
    ASSERT_TRUE(lfs.wait_closed(5s));

    const auto packets = lfs.packets().packets;
    ASSERT_GE(packets.size(), 4U);
    EXPECT_EQ(packets[0].type(), insim::ISP_ISI);
    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder && !decoder->frames.empty());
    // The decoder writes its first frame as soon as it starts.
    const auto decoder_start = from_steady_ns(decoder->frames.front().steady_ns);
    // The run started before the connection, so these lower bounds hold
    // however late the init's arrival was stamped here.
    EXPECT_GE(between(outcome.started, decoder_start), 2500ms);
    EXPECT_GE(between(outcome.started, outcome.out_lines[1].at), 2500ms);
    EXPECT_LE(between(packets.front().at, decoder_start), 2500ms + 1500ms);
    // Printed before the wait, the line is read well before the decoder starts.
    EXPECT_GE(between(outcome.out_lines[0].at, decoder_start), 750ms) << "the line comes before the wait";

    // 2.5 s at one keep-alive a second: two before the first button (a third
    // if the decoder was slow to start).
    const auto first_button = std::find_if(packets.begin(), packets.end(),
                                           [](const Packet& packet) { return packet.type() == insim::ISP_BTN; });
    const auto keepalives = std::count_if(packets.begin(), first_button,
                                          [](const Packet& packet) { return packet.type() == insim::ISP_TINY; });
    EXPECT_GE(keepalives, 2);
    EXPECT_LE(keepalives, 3);
    EXPECT_EQ(first_button - packets.begin(), 1 + keepalives) << "only keep-alives before the first button";
    ASSERT_EQ(packets[1].type(), insim::ISP_TINY);
    EXPECT_GE(between(outcome.started, packets[1].at), 1000ms);
    EXPECT_GE(between(packets[1].at, packets[2].at), 500ms);
}

// The keep-alive clock runs from the last packet sent, here the keep-alive
// during the delay: a still picture after the delay must not stretch LFS's
// silence to the delay's remainder plus a whole interval.
TEST_F(PlaybackTest, KeepAliveCountsFromTheLastWrite)
{
    write_plan(repeat("frame 2400 0\nsleep 100\n", 20));
    FakeLfs& lfs = start_lfs();
    // Empty glyph strings: no frame ever sends a button.
    const RunOutcome outcome = play(arguments({"-r", "1000", "--delay", "1900", "--subpixels", "", "", "", ""}),
                                    LUMAFLICK_SHORT_KEEPALIVE);
    EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_TRUE(lfs.wait_closed(5s));

    const auto packets = lfs.packets().packets;
    ASSERT_GE(packets.size(), 4U);
    ASSERT_EQ(packets[1].type(), insim::ISP_TINY);
    ASSERT_EQ(packets[2].type(), insim::ISP_TINY);
    // One interval apart; counted from the end of the delay it would be 1.9 s.
    EXPECT_LE(between(packets[1].at, packets[2].at), 1600ms);
}

}  // namespace
}  // namespace lumaflick::test

namespace lumaflick::test {
namespace {

// A decoder that stalls sends nothing for as long, and the keep-alive must not
// wait for its next frame.
TEST_F(PlaybackTest, KeepAliveWhileTheDecoderIsSilent)
{
    write_plan("frame 2400 0\nsleep 3500\nframe 2400 255\n");
    FakeLfs& lfs = start_lfs();
    const RunOutcome outcome = play(arguments({"-r", "1000"}), LUMAFLICK_SHORT_KEEPALIVE);
    EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_TRUE(lfs.wait_closed(5s));

    const auto packets = lfs.packets().packets;
    std::vector<Clock::time_point> blocks;  // the first button of each frame
    std::size_t keepalives_between = 0;
    for (std::size_t i = 1; i < packets.size(); ++i) {
        if (packets[i].type() == insim::ISP_BTN && packets[i - 1].type() != insim::ISP_BTN) {
            blocks.push_back(packets[i].at);
        }
        if (packets[i].type() == insim::ISP_TINY && blocks.size() == 1) ++keepalives_between;
    }
    ASSERT_EQ(blocks.size(), 2U);
    // 3.5 s of silence at one keep-alive a second.
    EXPECT_GE(keepalives_between, 2U);
    EXPECT_LE(keepalives_between, 4U);
}

}  // namespace
}  // namespace lumaflick::test
