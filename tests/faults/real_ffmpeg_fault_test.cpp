// The real ffmpeg on videos it cannot read, and on a path that only survives
// if it reaches ffmpeg as one untouched argument.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

bool has_error_line(const std::string& err)
{
    return err.starts_with("Error: ") || err.find("\nError: ") != std::string::npos;
}

// ffmpeg, orphaned when lumaflick exits, is ours now; at the end of a
// playback it must have ended, by itself or by lumaflick's hand.
std::size_t children_still_running()
{
    const auto children = children_of(static_cast<long>(::getpid()));
    return static_cast<std::size_t>(std::count_if(children.begin(), children.end(), is_running));
}

// A video ffmpeg cannot play is a failure, with ffmpeg's own complaint on the
// console before our line, and no statistics sent for it.
TEST_F(PlaybackTest, VideoFfmpegCannotReadIsAFailure)
{
    const auto ffmpeg = find_on_path("ffmpeg");
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not on the search path";
    const std::string audio = (dir_.path() / "audio only.m4a").string();
    const auto made = run(*ffmpeg, {"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                                    "sine=frequency=440", "-t", "1", audio});
    ASSERT_TRUE(made && made->exit_status == 0) << (made ? made->err : made.error().debug());
    struct Case {
        const char* name;
        std::optional<std::string> content;  // nullopt: no such file
        std::string video;                   // empty: the test's video path
    };
    const std::vector<Case> cases{
        {"an empty file", "", ""},
        {"a text file named .mp4", "this is not a video\n", ""},
        {"a file that does not exist", std::nullopt, ""},
        {"a folder", std::nullopt, dir_.path().string()},
        {"a file with sound only", std::nullopt, audio},
    };
    const std::regex failed(R"re((^|[\s\S]*\n)Error: "ffmpeg could not play the video \(exit status \d+\)"\n)re");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(video_);
        if (c.content) dir_.write(std::filesystem::path(video_).filename().string(), *c.content);
        const std::string video = c.video.empty() ? video_ : c.video;
        FakeLfs& lfs = start_lfs();
        // The default "ffmpeg" comes from the search path.
        const RunOutcome outcome = play({"-a", lfs.endpoint(), "-p", "secret", "-v", video});

        EXPECT_EQ(outcome.exit_status, 1) << outcome.err;
        EXPECT_EQ(outcome.out, "Runnin'\n");
        EXPECT_TRUE(std::regex_match(outcome.err, failed)) << outcome.err;
        EXPECT_NE(outcome.err.find(video), std::string::npos) << "ffmpeg's own complaint belongs on the console";
        ASSERT_TRUE(lfs.wait_closed(2s));
        EXPECT_EQ(lfs.packets().packets.size(), 1U) << "the init only";
        EXPECT_EQ(children_still_running(), 0U);
    }
}

// A generated clip under a name a shell would split, unquote or expand: the
// real ffmpeg finds it only when the path reaches it as one untouched word.
TEST_F(PlaybackTest, RealFfmpegPlaysAClipWithQuotesSpacesAndLettersInItsPath)
{
    const auto ffmpeg = find_on_path("ffmpeg");
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not on the search path";
    const std::u8string name = u8"it's a \"quoted\" clip & $HOME; `id` \u00c4\u00f6\u00fc \u00f1 \u65e5\u672c.mp4";
    const std::filesystem::path clip = dir_.path() / name;
    RunOptions quiet;
    quiet.timeout = 30s;
    const auto made = run(*ffmpeg,
                          {"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                           "testsrc=size=320x240:rate=25", "-t", "2", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                           clip.string()},
                          quiet);
    ASSERT_TRUE(made && made->exit_status == 0) << (made ? made->err : made.error().debug());

    FakeLfs& lfs = start_lfs();
    // The default "ffmpeg" is found on the search path.
    const RunOutcome outcome = play({"-a", lfs.endpoint(), "-p", "secret", "-v", clip.string()});
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_FALSE(has_error_line(outcome.err)) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    EXPECT_EQ(outcome.out_lines[0].text, "Runnin'");
    ASSERT_TRUE(lfs.wait_closed(5s));

    const std::string& line = outcome.out_lines[1].text;
    const auto numbers = parse_statistics(line);
    ASSERT_TRUE(numbers) << line;
    // Two seconds at 30 frames a second.
    EXPECT_GE(numbers->shown + numbers->skipped, 55U);
    EXPECT_LE(numbers->shown + numbers->skipped, 65U);
    EXPECT_GE(numbers->shown, 9U) << "some skipped perhaps, never all";

    const auto packets = lfs.packets().packets;
    const auto buttons = of_type(packets, insim::ISP_BTN);
    ASSERT_GE(buttons.size(), 30U) << "no picture reached LFS";
    for (std::size_t row = 0; row < 30; ++row) {
        EXPECT_EQ(button(buttons[row]).click_id, row + 1);
        EXPECT_EQ(button(buttons[row]).text.size(), 240U);
    }
    EXPECT_LE(buttons.size(), 30 * numbers->shown);
    ASSERT_EQ(of_type(packets, insim::ISP_MST).size(), 1U);
    EXPECT_EQ(message(packets.back()), line);
    EXPECT_EQ(children_still_running(), 0U);
}

}  // namespace
}  // namespace lumaflick::test
