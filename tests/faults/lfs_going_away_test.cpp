// LFS ending the connection at awkward moments: noticed at once, one error
// line and exit status 1, never a signal or a hang, and no child left behind.
#include <regex>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {


const std::string CLOSED = "Error: \"LFS closed the InSim connection\"\n";
const std::string CLOSED_SILENT =
    "Error: \"LFS closed the InSim connection before answering: is the admin password right?\"\n";

TEST_F(PlaybackTest, LfsEndingTheConnectionEndsThePlaybackAtOnce)
{
    struct Case {
        const char* name;
        FakeLfsOptions options;
        std::vector<std::string> extra;
        std::string error;
        bool during_delay;        // nothing may start
        bool inside_first_block;  // LFS saw only part of the first frame
    };
    FakeLfsOptions mid_block;
    // A small receive buffer makes the frame's block arrive in pieces, so the
    // close lands while lumaflick is still writing that block (with bytes
    // unread, the kernel turns it into a reset).
    mid_block.receive_buffer = 2048;
    mid_block.close_after_bytes = INIT_BYTES + 10 * BUTTON_BYTES;
    mid_block.answer_version = true;
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
    close_after_frame.answer_version = true;
    FakeLfsOptions wrong_password;
    wrong_password.password.emplace("A");
    FakeLfsOptions answered_then_closed;
    answered_then_closed.script = {{FakeLfsOptions::Scripted::When::after_init, {}, 0, version_packet(1)}};
    answered_then_closed.close_after_script = 0;
    const std::vector<std::string> delay{"--delay", "3000"};
    const std::vector<Case> cases{
        {"closed in the middle of a frame's block", mid_block, {}, CLOSED, false, true},
        {"reset after the first frames", reset_mid_stream, {}, CLOSED_SILENT, false, false},
        {"reset as soon as it is accepted", reset_on_accept, {}, CLOSED_SILENT, false, false},
        {"closed as soon as it is accepted", close_on_accept, {}, CLOSED_SILENT, false, false},
        {"closed after the first frame", close_after_frame, {}, CLOSED, false, false},
        {"wrong password, during the delay", wrong_password, delay, CLOSED_SILENT, true, false},
        {"closed after answering, during the delay", answered_then_closed, delay, CLOSED, true, false},
    };

    // Every frame changes every row, so writes keep coming until one fails;
    // then the decoder idles.
    write_plan(repeat("frame 2400 0\nsleep 40\nframe 2400 255\nsleep 40\n", 10) + "hang 10000\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kill_adopted();
        std::filesystem::remove(log_);
        FakeLfs& lfs = start_lfs(c.options);
        std::vector<std::string> extra{"-r", "30", "--ffplay", SCRIPTED_DECODER};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        const RunOutcome outcome = play(arguments(extra));

        EXPECT_EQ(outcome.signal, std::nullopt) << "a write to a dead connection must not kill the program";
        EXPECT_EQ(outcome.exit_status, 1) << outcome.out;
        EXPECT_EQ(outcome.err, c.error);
        EXPECT_TRUE(lfs.wait_closed(1s));
        EXPECT_EQ(lfs.connections(), 1);
        if (c.inside_first_block) {
            EXPECT_LT(lfs.bytes().size(), INIT_BYTES + 30 * BUTTON_BYTES);
        }
        if (c.during_delay) {
            EXPECT_EQ(outcome.out, "Prepare yourself, we're startin' in!\n");
            EXPECT_LT(between(outcome.started, outcome.ended), 1s + SLACK) << "the close was not noticed at once";
            EXPECT_FALSE(std::filesystem::exists(log_)) << "a child was started after LFS closed";
            continue;
        }
        // Left going, the playback would last 11 s.
        EXPECT_LT(between(outcome.started, outcome.ended), 1s + 2 * SLACK) << "the close was not noticed at once";
        EXPECT_TRUE(outcome.out.empty() || outcome.out == "Runnin'\n") << "no statistics after an error";

        // Every way out ends the children.
        for (const ScriptedRun& child : read_scripted_log(log_)) {
            EXPECT_FALSE(is_running(child.pid)) << "the " << child.role << " outlived the playback";
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
