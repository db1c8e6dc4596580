// A real ffmpeg decoding a generated clip, against the fake LFS.
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, RealFfmpegPlaysAGeneratedClip)
{
    const auto ffmpeg = find_on_path("ffmpeg");
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not on the search path";
    const std::string clip = (dir_.path() / "test clip.mp4").string();
    RunOptions quiet;
    quiet.timeout = 30s;
    const auto made = run(*ffmpeg,
                          {"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                           "testsrc=size=320x240:rate=25", "-t", "2", "-c:v", "libx264", "-pix_fmt", "yuv420p", clip},
                          quiet);
    ASSERT_TRUE(made && made->exit_status == 0) << (made ? made->err : made.error().debug());

    FakeLfs& lfs = start_lfs();
    // The default "ffmpeg" is found on the search path.
    const RunOutcome outcome = play({"-a", lfs.endpoint(), "-p", "secret", "-v", clip});
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_EQ(outcome.err.find("Error: "), std::string::npos) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    EXPECT_EQ(outcome.out_lines[0].text, "Runnin'");
    ASSERT_TRUE(lfs.wait_closed(5s));

    const std::string& line = outcome.out_lines[1].text;
    const auto numbers = parse_statistics(line);
    ASSERT_TRUE(numbers) << line;
    // Two seconds at 30 frames a second.
    EXPECT_GE(numbers->shown + numbers->skipped, 55U);
    EXPECT_LE(numbers->shown + numbers->skipped, 65U);

    const auto packets = lfs.packets().packets;
    const auto buttons = of_type(packets, insim::ISP_BTN);
    ASSERT_GE(buttons.size(), 30U);
    for (std::size_t row = 0; row < 30; ++row) {
        EXPECT_EQ(button(buttons[row]).click_id, row + 1);
        EXPECT_EQ(button(buttons[row]).text.size(), 240U);
    }
    EXPECT_LE(buttons.size(), 30 * numbers->shown);
    ASSERT_EQ(of_type(packets, insim::ISP_MST).size(), 1U);
    EXPECT_EQ(message(packets.back()), line);
}

}  // namespace
}  // namespace lumaflick::test
