// LFS ending the connection at awkward moments: an error and exit status 1,
// never a signal or a hang, and the children left as they were.
#include <sys/wait.h>

#include <regex>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

constexpr std::size_t INIT_BYTES = 44;
constexpr std::size_t BUTTON_BYTES = 252;

TEST_F(PlaybackTest, LfsEndingTheConnectionEndsThePlaybackWithAnError)
{
    struct Case {
        const char* name;
        FakeLfsOptions options;
        bool may_fail_before_runnin;  // the close can beat the init write
        bool inside_first_block;      // LFS saw only part of the first frame
        bool reset;                   // a reset, not a plain close
    };
    FakeLfsOptions mid_block;
    // A small receive buffer makes the frame's block arrive in pieces, so the
    // close lands while lumaflick is still writing that block (with bytes
    // unread, the kernel turns it into a reset).
    mid_block.receive_buffer = 2048;
    mid_block.close_after_bytes = INIT_BYTES + 10 * BUTTON_BYTES;
    FakeLfsOptions reset_mid_stream;
    reset_mid_stream.reset_on_close = true;
    reset_mid_stream.close_after_bytes = INIT_BYTES + 45 * BUTTON_BYTES;
    FakeLfsOptions reset_on_accept;
    reset_on_accept.reset_on_close = true;
    reset_on_accept.close_on_accept = true;
    FakeLfsOptions close_on_accept;
    close_on_accept.close_on_accept = true;
    FakeLfsOptions close_after_frame;
    close_after_frame.close_after_bytes = INIT_BYTES + 30 * BUTTON_BYTES;
    const std::vector<Case> cases{
        {"closed in the middle of a frame's block", mid_block, false, true, true},
        {"reset after the first frames", reset_mid_stream, false, false, true},
        {"reset as soon as it is accepted", reset_on_accept, true, false, true},
        {"closed as soon as it is accepted", close_on_accept, true, false, false},
        {"closed after the first frame", close_after_frame, false, false, false},
    };

    // Every frame changes every row, so writes keep coming until one fails;
    // then the decoder idles, to be found still running.
    write_plan(repeat("frame 2400 0\nsleep 40\nframe 2400 255\nsleep 40\n", 10) + "hang 10000\n");
    const std::regex reset_error(
        R"(Error: SystemError \{ code: \d+, kind: (BrokenPipe|ConnectionReset), message: "[^"]+" \}\n)");
    const std::regex any_error(R"(Error: SystemError \{ code: \d+, [^\n]+\n)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kill_adopted();
        std::filesystem::remove(log_);
        FakeLfs& lfs = start_lfs(c.options);
        const RunOutcome outcome = play(arguments({"-r", "30", "--ffplay", SCRIPTED_DECODER}));

        EXPECT_EQ(outcome.signal, std::nullopt) << "a write to a dead connection must not kill the program";
        EXPECT_EQ(outcome.exit_status, 1) << outcome.out;
        EXPECT_TRUE(std::regex_match(outcome.err, c.reset ? reset_error : any_error)) << outcome.err;
        // Left going, the playback would last 11 s.
        EXPECT_LT(between(outcome.started, outcome.ended), 1s + 4 * SLACK) << "the error must end the playback at once";
        EXPECT_TRUE(lfs.wait_closed(1s));
        EXPECT_EQ(lfs.connections(), 1);
        if (c.inside_first_block) {
            EXPECT_LT(lfs.bytes().size(), INIT_BYTES + 30 * BUTTON_BYTES);
        }

        if (outcome.out.empty() && c.may_fail_before_runnin) {
            EXPECT_FALSE(std::filesystem::exists(log_)) << "a child was started after the init failed";
            continue;
        }
        EXPECT_EQ(outcome.out, "Runnin'\n") << "no statistics after an error";

        // On an error path both children are left running, not killed.
        const auto sound = wait_for_ready(log_, "sound", 2s);
        ASSERT_TRUE(sound);
        EXPECT_TRUE(is_running(sound->pid)) << "the sound process was stopped on the error path";
        const auto decoder = wait_for_ready(log_, "decoder", 2s);
        ASSERT_TRUE(decoder);
        // Its next write finds the pipe closed and it ends by itself; a kill
        // would show as a signal.
        if (!is_running(decoder->pid)) {
            const auto status = reap(decoder->pid, 2s);
            ASSERT_TRUE(status);
            EXPECT_TRUE(WIFEXITED(*status)) << "the decoder was killed on the error path, status " << *status;
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
