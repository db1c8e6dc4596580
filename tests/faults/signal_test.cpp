// lumaflick ended from outside: a signal ends it promptly, the way the signal
// would, and no child outlives it, not even when it is killed outright.
#include <signal.h>
#include <sys/wait.h>

#include <future>
#include <thread>

#include "geometry.hpp"
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, NoChildOutlivesAPlayerEndedFromOutside)
{
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
    write_plan(repeat("frame 2400 0\nsleep 40\nframe 2400 255\nsleep 40\n", 100));
    for (const int signal_number : signals) {
        SCOPED_TRACE(strsignal(signal_number));
        kill_adopted();
        std::filesystem::remove(log_);
        FakeLfsOptions options;
        options.answer_version = true;
        FakeLfs& lfs = start_lfs(options);
        auto playing = std::async(std::launch::async,
                                  [this] { return play(arguments({"-r", "30", "--ffplay", SCRIPTED_DECODER})); });
        const auto decoder = wait_for_ready(log_, "decoder", 5s);
        const auto sound = wait_for_ready(log_, "sound", 5s);
        ASSERT_TRUE(decoder && sound);
        const auto player = parent_of(decoder->pid);
        ASSERT_TRUE(player);
        ASSERT_TRUE(lfs.wait_bytes(sizeof(insim::IS_ISI) + DEFAULT_GEOMETRY.rows * sizeof(insim::IS_BTN), 5s));
        const auto sent = Clock::now();
        ::kill(static_cast<pid_t>(*player), signal_number);
        const RunOutcome outcome = playing.get();

        EXPECT_EQ(outcome.signal, signal_number) << "exit status " << outcome.exit_status.value_or(-1);
        EXPECT_LT(between(sent, outcome.ended), 500ms + SLACK) << "the signal did not end the run promptly";
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(lfs.wait_closed(1s));
        // Killed outright, the player leaves its children to the kernel, which
        // ends them when it goes.
        const auto deadline = Clock::now() + 2s;
        while ((is_running(decoder->pid) || is_running(sound->pid)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_FALSE(is_running(decoder->pid)) << "the decoder outlived the player";
        EXPECT_FALSE(is_running(sound->pid)) << "the sound outlived the player";
    }
}

// A signal while ffmpeg tells the video's shape: nothing more starts, and
// LFS is never connected to.
TEST_F(PlaybackTest, ASignalDuringTheShapeProbeEndsThePlayer)
{
    write_plan("hang 5000\n");
    FakeLfs& lfs = start_lfs();
    auto playing = std::async(std::launch::async, [this] { return play(arguments({"--keep-aspect"})); });
    const auto probe = wait_for_ready(log_, "decoder", 5s);
    ASSERT_TRUE(probe);
    const auto player = parent_of(probe->pid);
    ASSERT_TRUE(player);
    ::kill(static_cast<pid_t>(*player), SIGINT);
    const RunOutcome outcome = playing.get();
    EXPECT_EQ(outcome.signal, SIGINT) << "exit status " << outcome.exit_status.value_or(-1);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(lfs.connections(), 0);
    EXPECT_EQ(read_scripted_log(log_).size(), 1U) << "a decoder started after the signal";
    EXPECT_FALSE(is_running(probe->pid)) << "the probe outlived the player";
}

}  // namespace
}  // namespace lumaflick::test
