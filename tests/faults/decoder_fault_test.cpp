// The decoder dying under lumaflick, or never starting: a killed decoder is an
// ordinary end of the video; a program that cannot start is an error.
#include <signal.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "geometry.hpp"
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {


TEST_F(PlaybackTest, KilledDecoderEndsThePlaybackInAnOrderlyWay)
{
    struct Case {
        const char* name;
        std::string plan;
        std::size_t blocks_before_kill;  // frames LFS has seen when the decoder is killed
    };
    // The lead-in lets lumaflick wait for the first frame, which it then shows.
    const std::string changing = "frame 2400 0\nsleep 40\nframe 2400 255\nsleep 40\n";
    const std::vector<Case> cases{
        {"while frames flow", "sleep 100\n" + repeat(changing, 50), 6},
        {"while it pauses between frames", "sleep 100\n" + repeat(changing, 2) + "hang 10000\n", 4},
        {"before its first frame", "hang 10000\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kill_adopted();
        std::filesystem::remove(log_);
        write_plan(c.plan);
        FakeLfs& lfs = start_lfs();
        auto playing = std::async(std::launch::async,
                                  [this] { return play(arguments({"-r", "30", "--ffplay", SCRIPTED_DECODER})); });
        const auto decoder = wait_for_ready(log_, "decoder", 5s);
        const auto sound = wait_for_ready(log_, "sound", 5s);
        ASSERT_TRUE(decoder && sound);
        ASSERT_TRUE(lfs.wait_bytes(INIT_BYTES + c.blocks_before_kill * FRAME_BLOCK_BYTES, 5s));
        const auto killed = Clock::now();
        ::kill(static_cast<pid_t>(decoder->pid), SIGKILL);
        const RunOutcome outcome = playing.get();

        ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
        EXPECT_EQ(outcome.err, "");
        EXPECT_LT(between(killed, outcome.ended), 500ms + 3 * SLACK) << "the end of the decoder's output was not noticed";
        ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
        EXPECT_EQ(outcome.out_lines[0].text, "Runnin'");

        // Every frame the decoder got out was read, shown or skipped.
        const auto written = scripted("decoder");
        ASSERT_TRUE(written);
        EXPECT_FALSE(written->exit_code) << "the decoder ended by itself before the kill";
        const std::size_t buttons = of_type(lfs.packets().packets, insim::ISP_BTN).size();
        const std::size_t frames = written->frames.size();
        const std::string line = outcome.out_lines[1].text;
        const auto numbers = parse_statistics(line);
        ASSERT_TRUE(numbers) << line;
        const std::uint64_t read = numbers->shown + numbers->skipped;
        // The last logged frame may have been killed before its write.
        EXPECT_TRUE(read == frames || read + 1 == frames) << line << " for " << frames << " frames written";
        // Every shown frame changes every row, unless a skip made it repeat the one before.
        EXPECT_EQ(buttons % 30, 0U);
        EXPECT_LE(buttons, 30 * numbers->shown) << line;
        if (numbers->skipped == 0) {
            EXPECT_EQ(buttons, 30 * numbers->shown) << line;
        }
        ASSERT_TRUE(lfs.wait_closed(1s));
        const auto messages = of_type(lfs.packets().packets, insim::ISP_MST);
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_EQ(message(messages[0]), line);

        // The orderly end stops the sound, which would otherwise linger.
        EXPECT_FALSE(is_running(sound->pid)) << "the sound process outlived the playback";
    }
}

TEST_F(PlaybackTest, ChildThatCannotStartIsAnErrorWithoutAShell)
{
    struct Case {
        const char* name;
        std::string ffmpeg;
        std::optional<std::string> ffplay;
        const char* error;  // start of the "Error: " line
    };
    const std::string marker = (dir_.path() / "ran-through-a-shell").string();
    const std::string script = dir_.write("script-without-interpreter", "touch '" + marker + "'\n").string();
    ::chmod(script.c_str(), 0755);
    const std::string not_executable = dir_.write("not-executable", "").string();
    ::chmod(not_executable.c_str(), 0644);
    const std::string folder = dir_.path().string();

    constexpr const char* DENIED = "Error: SystemError { code: 13, kind: PermissionDenied";
    constexpr const char* NOT_FOUND = "Error: SystemError { code: 2, kind: NotFound";
    const std::vector<Case> cases{
        {"ffmpeg not executable", not_executable, std::nullopt, DENIED},
        {"ffmpeg is a folder", folder, std::nullopt, DENIED},
        // A shell would run it as a script; exec refuses it.
        {"ffmpeg is a script without an interpreter line", script, std::nullopt,
         "Error: SystemError { code: 8, kind: Other"},
        // A path names the file; a bare name is looked up on the search path.
        {"ffmpeg path that does not exist", "/nonexistent-lumaflick-dir/ffmpeg", std::nullopt, NOT_FOUND},
        {"ffmpeg is a bare name not on the search path", "lumaflick-no-such-ffmpeg", std::nullopt, NOT_FOUND},
        {"ffplay path that does not exist", SCRIPTED_DECODER, "/nonexistent-lumaflick-dir/ffplay", NOT_FOUND},
        {"ffplay is a bare name not on the search path", SCRIPTED_DECODER, "lumaflick-no-such-ffplay", NOT_FOUND},
        {"ffplay not executable", SCRIPTED_DECODER, not_executable, DENIED},
    };
    // A decoder that wrote now would fail on the closed pipe and end by itself.
    write_plan("hang 10000\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kill_adopted();
        std::filesystem::remove(log_);
        FakeLfs& lfs = start_lfs();
        std::vector<std::string> words = arguments({});
        words[7] = c.ffmpeg;
        if (c.ffplay) words.insert(words.end(), {"--ffplay", *c.ffplay});
        const RunOutcome outcome = play(words);

        EXPECT_EQ(outcome.exit_status, 1);
        EXPECT_TRUE(outcome.err.starts_with(c.error)) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_EQ(outcome.out, "") << "\"Runnin'\" comes only after both children started";
        EXPECT_TRUE(lfs.wait_closed(5s)) << "the connection outlived the error";
        EXPECT_EQ(lfs.connections(), 1);
        EXPECT_EQ(lfs.bytes(), expected_init(true)) << "only the init reached LFS";
        EXPECT_FALSE(std::filesystem::exists(marker)) << "a child was started through a shell";

        if (!c.ffplay) {
            EXPECT_FALSE(wait_for_ready(log_, "decoder", 200ms)) << "a decoder was started";
            continue;
        }
        // The decoder had started; the error ends it, perhaps before it logged.
        for (const ScriptedRun& child : read_scripted_log(log_)) {
            EXPECT_FALSE(is_running(child.pid)) << "the " << child.role << " outlived the error";
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
