// A real ffmpeg decoding a generated clip, against the fake LFS.
#include <charconv>
#include <cstdlib>
#include <regex>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

std::uint64_t number(const std::string& text)
{
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

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
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(line, parts, std::regex(R"(Read bytes: (\d+)kB, Skipped (\d+) frames \((\d+)%\))")))
        << line;
    const std::uint64_t kilobytes = number(parts[1]);
    const std::uint64_t skipped = number(parts[2]);
    const std::uint64_t percent = number(parts[3]);

    // Every frame is 2400 bytes, so the kilobytes tell how many were shown.
    std::uint64_t shown = kilobytes * 1024 / 2400;
    while (shown * 2400 >> 10 < kilobytes) ++shown;
    ASSERT_EQ(shown * 2400 >> 10, kilobytes) << "not a whole number of frames: " << line;
    // Two seconds at 30 frames a second.
    EXPECT_GE(shown + skipped, 55U);
    EXPECT_LE(shown + skipped, 65U);
    EXPECT_EQ(percent, skipped * 100 / (shown + skipped));

    const auto packets = lfs.packets().packets;
    const auto buttons = of_type(packets, TYPE_BTN);
    ASSERT_GE(buttons.size(), 30U);
    for (std::size_t row = 0; row < 30; ++row) {
        EXPECT_EQ(button(buttons[row]).click_id, row + 1);
        EXPECT_EQ(button(buttons[row]).text.size(), 240U);
    }
    EXPECT_LE(buttons.size(), 30 * shown);
    ASSERT_EQ(of_type(packets, TYPE_MST).size(), 1U);
    EXPECT_EQ(message(packets.back()), line);
}

}  // namespace
}  // namespace lumaflick::test
