// Each way a playback can fail: exit status 1, one "Error: " line, and which
// children were started and left behind.
#include <thread>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

constexpr const char* NOT_ASCII = "Error: \"Given admin password is not typed in ASCII!\"\n";
constexpr const char* TOO_LONG = "Error: \"Admin password cannot be longer than 15 characters!\"\n";

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

}  // namespace
}  // namespace lumaflick::test
