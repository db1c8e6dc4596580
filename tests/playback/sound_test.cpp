// The sound process: its argument list, and its end with the playback.
#include <sys/wait.h>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, SoundProcessGetsItsArgumentsAndIsKilledAtTheEnd)
{
    start_lfs();
    write_plan("sleep 100\nframe 2400 0\nsleep 200\n");
    // The sound stand-in would linger for 15 s: the playback must not wait for it.
    const RunOutcome outcome =
        play(arguments({"-r", "1000", "--ffplay", SCRIPTED_DECODER, "-s", "1.5", "-t", "2"}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_LT(between(outcome.started, outcome.ended), 10s);
    EXPECT_EQ(outcome.out, "Runnin'\nRead bytes: 2kB, Skipped 0 frames (0%)\n");

    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder);
    const std::vector<std::string> decoder_words{"-re", "-ss", "1.5", "-i", video_, "-t", "2", "-vf",
                                                 "scale=80:30,fps=1000,format=gray", "-f", "rawvideo", "-"};
    EXPECT_EQ(decoder->args, decoder_words);

    const auto sound = scripted("sound");
    ASSERT_TRUE(sound) << "no sound process was started";
    const std::vector<std::string> sound_words{"-ss", "1.5", "-i", video_, "-t", "2", "-vn", "-showmode", "0"};
    EXPECT_EQ(sound->args, sound_words);

    const auto status = reap(sound->pid, 2s);
    ASSERT_TRUE(status) << "the sound process outlived the playback";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << "status " << *status;
    EXPECT_FALSE(sound->exit_code) << "it ran out its own time instead of being stopped";
}

}  // namespace
}  // namespace lumaflick::test
