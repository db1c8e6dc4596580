// Each way a playback can fail: exit status 1, one "Error: " line, and which
// children were started and left behind.
#include <sys/wait.h>

#include <thread>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

constexpr const char* NOT_ASCII = "Error: \"Given admin password is not typed in ASCII!\"\n";
constexpr const char* TOO_LONG = "Error: \"Admin password cannot be longer than 15 characters!\"\n";
constexpr const char* NOT_FOUND = "Error: SystemError { code: 2, kind: NotFound";

bool decoder_started(const std::filesystem::path& log) { return std::filesystem::exists(log); }

TEST_F(PlaybackTest, PasswordIsCheckedBeforeAnyConnection)
{
    struct Case {
        const char* password;
        const char* error;  // nullptr: accepted
    };
    const std::vector<Case> cases{
        {"p\xc3\xa4ssword", NOT_ASCII},
        {"sixteen-chars-xx", TOO_LONG},
        {"\xc3\xa4-longer-than-fifteen", NOT_ASCII},  // the ASCII test comes first
        {"fifteen-chars-x", nullptr},
    };
    write_plan("sleep 50\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        FakeLfs& lfs = start_lfs();
        std::vector<std::string> words = arguments({"-r", "1000"});
        words[3] = c.password;
        const RunOutcome outcome = play(words);
        if (c.error == nullptr) {
            EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
            const auto packets = lfs.packets().packets;
            ASSERT_FALSE(packets.empty());
            const auto& init = packets.front().bytes;
            EXPECT_EQ(std::string(init.begin() + 12, init.begin() + 28), std::string(c.password) + '\0');
            continue;
        }
        EXPECT_EQ(outcome.exit_status, 1);
        EXPECT_EQ(outcome.err, c.error);
        EXPECT_EQ(outcome.out, "");
        std::this_thread::sleep_for(50ms);  // an attempt would have reached the listener by now
        EXPECT_EQ(lfs.connections(), 0);
        EXPECT_FALSE(decoder_started(log_));
    }
}

TEST_F(PlaybackTest, RefusedConnectionStartsNothing)
{
    auto port = RefusingPort::open();
    ASSERT_TRUE(port) << port.error().debug();
    write_plan("sleep 50\n");
    std::vector<std::string> words = arguments({"--ffplay", SCRIPTED_DECODER});
    words[1] = port->endpoint();
    const RunOutcome outcome = play(words);
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_EQ(outcome.err, "Error: SystemError { code: 111, kind: ConnectionRefused, message: \"Connection refused\" }\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(decoder_started(log_));
}

TEST_F(PlaybackTest, MissingDecoderProgramClosesTheConnection)
{
    // A path names the file; a bare name is looked up on the search path.
    for (const std::string ffmpeg : {"/nonexistent-lumaflick-dir/ffmpeg", "lumaflick-no-such-ffmpeg"}) {
        SCOPED_TRACE(ffmpeg);
        FakeLfs& lfs = start_lfs();
        std::vector<std::string> words = arguments({});
        words[7] = ffmpeg;
        const RunOutcome outcome = play(words);
        EXPECT_EQ(outcome.exit_status, 1);
        EXPECT_TRUE(outcome.err.starts_with(NOT_FOUND)) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(lfs.wait_closed(5s));
        EXPECT_EQ(lfs.connections(), 1);
        EXPECT_EQ(lfs.bytes(), expected_init(true));
    }
}

TEST_F(PlaybackTest, MissingSoundProgramLeavesTheDecoderRunning)
{
    FakeLfs& lfs = start_lfs();
    // A decoder that wrote now would fail on the closed pipe and end by itself.
    write_plan("hang 10000\nframe 2400 0\n");
    const RunOutcome outcome = play(arguments({"--ffplay", "/nonexistent-lumaflick-dir/ffplay"}));
    EXPECT_EQ(outcome.exit_status, 1);
    EXPECT_TRUE(outcome.err.starts_with(NOT_FOUND)) << outcome.err;
    EXPECT_EQ(outcome.out, "") << "\"Runnin'\" comes only after both children started";
    EXPECT_TRUE(lfs.wait_closed(5s));

    const auto decoder = wait_for_ready(log_, "decoder", 5s);
    ASSERT_TRUE(decoder) << "the decoder was not started";
    EXPECT_TRUE(is_running(decoder->pid)) << "the decoder was stopped on the error path";
}

TEST_F(PlaybackTest, LfsGoingAwayIsAnErrorAndLeavesTheChildren)
{
    struct Case {
        const char* name;
        FakeLfsOptions options;
        bool children_started;  // false: the init write may already fail
    };
    FakeLfsOptions at_once;
    at_once.close_on_accept = true;
    FakeLfsOptions mid_stream;
    mid_stream.close_after_bytes = 44 + 30 * 252;
    const std::vector<Case> cases{{"closed at once", at_once, false}, {"closed after the first frame", mid_stream, true}};

    // Changing frames keep the writes coming until one fails.
    write_plan("sleep 100\n" + repeat("frame 2400 0\nsleep 100\nframe 2400 255\nsleep 100\n", 5) + "hang 10000\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kill_adopted();
        std::filesystem::remove(log_);
        start_lfs(c.options);
        const RunOutcome outcome = play(arguments({"-r", "1000", "--ffplay", SCRIPTED_DECODER}));
        EXPECT_EQ(outcome.signal, std::nullopt) << "a write to a closed connection must not kill the program";
        EXPECT_EQ(outcome.exit_status, 1);
        EXPECT_TRUE(outcome.err.starts_with("Error: SystemError { code: ")) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        if (!c.children_started) continue;

        EXPECT_EQ(outcome.out, "Runnin'\n");
        const auto sound = wait_for_ready(log_, "sound", 5s);
        ASSERT_TRUE(sound);
        EXPECT_TRUE(is_running(sound->pid)) << "the sound process was stopped on the error path";
        const auto decoder = wait_for_ready(log_, "decoder", 5s);
        ASSERT_TRUE(decoder);
        // Left running, the decoder either still runs or ended on its own
        // when its next write found the pipe closed; it was not killed.
        if (!is_running(decoder->pid)) {
            const auto status = reap(decoder->pid, 2s);
            ASSERT_TRUE(status);
            EXPECT_TRUE(WIFEXITED(*status)) << "status " << *status;
        }
    }
}

TEST_F(PlaybackTest, DecoderWithoutFramesEndsInAnOrderlyWay)
{
    struct Case {
        const char* name;
        const char* plan;  // nullptr: no plan, the stand-in exits 1 as ffmpeg does on a bad input
        bool outlives_output;
    };
    const std::vector<Case> cases{
        {"ends without a frame", "sleep 100\n", false},
        {"cannot open its input", nullptr, false},
        {"closes its output but lives on", "sleep 100\nclose\nhang 10000\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log_);
        std::filesystem::remove(plan_);
        if (c.plan != nullptr) write_plan(c.plan);
        FakeLfs& lfs = start_lfs();
        const RunOutcome outcome = play(arguments({}));
        EXPECT_EQ(outcome.exit_status, 0) << outcome.err;
        const std::string statistics = "Read bytes: 0kB, Skipped 0 frames (0%)";
        EXPECT_EQ(outcome.out, "Runnin'\n" + statistics + "\n");
        ASSERT_TRUE(lfs.wait_closed(5s));

        const auto packets = lfs.packets().packets;
        ASSERT_EQ(packets.size(), 2U) << "init and the message only";
        EXPECT_EQ(message(packets[1]), statistics);

        const auto decoder = scripted("decoder");
        ASSERT_TRUE(decoder);
        if (c.outlives_output) {
            const auto status = reap(decoder->pid, 2s);
            ASSERT_TRUE(status) << "the decoder was not stopped at the end";
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << "status " << *status;
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
