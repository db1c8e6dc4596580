#include <gtest/gtest.h>

#include <string>

#include "host_packets.hpp"
#include "packet_stream.hpp"
#include "session.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;
using std::chrono::milliseconds;

struct Recorder : SessionObserver {
    void accepted(const InitPacket& init) override { names.push_back(init.IName); }
    void packet(SessionTime, const DecodedPacket&) override { ++packets; }
    void message(std::string_view text) override { messages.emplace_back(text); }
    void warning(std::string_view text) override { warnings.emplace_back(text); }
    void screen_changed() override { ++changes; }

    std::vector<std::string> names;
    std::vector<std::string> messages;
    std::vector<std::string> warnings;
    int packets = 0;
    int changes = 0;
};

SessionConfig with_password(std::string_view password)
{
    SessionConfig config;
    config.admin.emplace();
    std::copy(password.begin(), password.end(), config.admin->begin());
    return config;
}

TEST(Session, TakesAGoodStream)
{
    Recorder seen;
    Session session(with_password("secret"), seen);
    const Bytes stream = join({init_packet("secret"), full_frame("0367"), tiny_packet(),
                               message_packet("Read bytes: 70kB, Skipped 0 frames (0%)")});
    EXPECT_TRUE(session.feed(stream, {}));
    session.end_of_stream();

    EXPECT_EQ(session.end(), SessionEnd::disconnected);
    EXPECT_TRUE(ended_normally(session.end()));
    EXPECT_EQ(seen.names, std::vector<std::string>{"Lumaflick"});
    EXPECT_EQ(seen.messages, std::vector<std::string>{"Read bytes: 70kB, Skipped 0 frames (0%)"});
    EXPECT_TRUE(seen.warnings.empty());
    EXPECT_EQ(seen.packets, 33);
    EXPECT_EQ(seen.changes, 30);
    EXPECT_EQ(session.screen().size(), 30u);

    const auto& stats = session.statistics();
    EXPECT_EQ(stats.frames, 1u);
    EXPECT_EQ(stats.bytes, stream.size());
    EXPECT_EQ(stats.by_type[45].packets, 30u);
    EXPECT_EQ(stats.by_type[45].bytes, 30u * 252);
    EXPECT_EQ(stats.by_type[1].bytes, 44u);
    EXPECT_EQ(stats.by_type[3].packets, 1u);
    EXPECT_EQ(stats.by_type[13].bytes, 68u);

    // LFS answers an init packet that carries a ReqI with its version.
    const auto version = make_version_packet(1);
    EXPECT_EQ(session.outbox(), Bytes(version.begin(), version.end()));
}

TEST(Session, RefusesABadInitAndTakesNothingAfterIt)
{
    struct Case {
        const char* name;
        SessionConfig config;
        Bytes first;
        SessionEnd end;
    };
    const std::vector<Case> cases{
        {"wrong password", with_password("secret"), init_packet("guess"), SessionEnd::wrong_password},
        {"password missing", with_password("secret"), init_packet(""), SessionEnd::wrong_password},
        {"password longer by a byte", with_password("secre"), init_packet("secret"), SessionEnd::wrong_password},
        {"other InSim version", {}, init_packet("", 8), SessionEnd::refused_init},
        {"init of the wrong size", {}, raw_packet(10, 1), SessionEnd::refused_init},
        {"button before init", {}, button_packet(1, 0, "^1_"), SessionEnd::refused_init},
        {"keep-alive before init", {}, tiny_packet(), SessionEnd::refused_init},
    };
    for (const auto& c : cases) {
        Recorder seen;
        Session session(c.config, seen);
        EXPECT_FALSE(session.feed(join({c.first, full_frame("7")}), {})) << c.name;
        EXPECT_EQ(session.end(), c.end) << c.name;
        EXPECT_FALSE(ended_normally(session.end())) << c.name;
        EXPECT_EQ(seen.warnings.size(), 1u) << c.name;
        EXPECT_EQ(session.screen().size(), 0u) << c.name;
        EXPECT_TRUE(session.outbox().empty()) << c.name;
        EXPECT_FALSE(session.init()) << c.name;
        // A closed session takes nothing more.
        EXPECT_FALSE(session.feed(full_frame("7"), {})) << c.name;
        EXPECT_EQ(seen.packets, 1) << c.name;
    }
}

TEST(Session, WarnsAboutMalformedPacketsAndGoesOn)
{
    struct Case {
        const char* name;
        Bytes packet;
        std::string warning;
    };
    const std::vector<Case> cases{
        {"unknown type", raw_packet(2, 99), "unknown packet type 99 ignored"},
        {"button text over 240", raw_packet(64, 45), "IS_BTN text of 244 bytes is over 240 ignored"},
        {"ClickID over 239", button_packet(240, 0, "^1_"), "IS_BTN with ClickID 240 (over 239) ignored"},
        {"message of the wrong size", raw_packet(16, 13), "IS_MST of 64 bytes, expected 68 ignored"},
        {"other keep-alive", tiny_packet(7), "IS_TINY with SubT 7 ignored"},
        {"second init", init_packet(), "IS_ISI on an open connection ignored"},
    };
    for (const auto& c : cases) {
        Recorder seen;
        Session session({}, seen);
        // With no password set any is taken; ReqI 0 asks for no version.
        EXPECT_TRUE(session.feed(join({init_packet("whatever", 9, 0), c.packet, button_packet(5, 24, "^2_")}), {}))
            << c.name;
        EXPECT_TRUE(session.outbox().empty()) << c.name;
        EXPECT_EQ(seen.warnings, std::vector<std::string>{c.warning}) << c.name;
        EXPECT_EQ(session.statistics().warnings, 1u) << c.name;
        ASSERT_NE(session.screen().find(5), nullptr) << c.name;
        EXPECT_EQ(session.screen().size(), 1u) << c.name;
    }
}

TEST(Session, EndsAsTheStreamOrTheHostSays)
{
    struct Case {
        const char* name;
        Bytes after_init;
        bool open_after_feed;
        SessionEnd host_close;  // `open`: the host lets it run
        SessionEnd end;
        bool normal;
        std::vector<std::string> warnings;
    };
    const Bytes button = button_packet(1, 0, "^1_");
    const std::vector<Case> cases{
        {"framing lost", join({Bytes{0, 45, 0, 0}, button}), false, SessionEnd::open, SessionEnd::framing_lost, false,
         {"packet with size 0: the stream's framing is lost, closing the connection"}},
        {"packet cut off by the disconnect", Bytes(button.begin(), button.begin() + 100), true, SessionEnd::open,
         SessionEnd::disconnected, true, {"connection closed inside IS_BTN: 100 of 252 bytes"}},
        {"TINY_CLOSE", join({tiny_packet(TINY_CLOSE), button}), false, SessionEnd::open, SessionEnd::closed_by_client,
         true, {}},
        // The later disconnect does not change why it ended.
        {"host closes", {}, true, SessionEnd::idle, SessionEnd::idle, false, {"no packet for 70 s"}},
    };
    for (const auto& c : cases) {
        Recorder seen;
        Session session({}, seen);
        EXPECT_EQ(session.feed(join({init_packet(), c.after_init}), {}), c.open_after_feed) << c.name;
        if (c.host_close != SessionEnd::open) session.close(c.host_close, c.warnings.front());
        session.end_of_stream();
        EXPECT_EQ(session.end(), c.end) << c.name;
        EXPECT_EQ(ended_normally(session.end()), c.normal) << c.name;
        EXPECT_EQ(seen.warnings, c.warnings) << c.name;
        EXPECT_EQ(session.screen().size(), 0u) << c.name;
    }
}

// Any ClickIDs, in any order the client keeps to.
TEST(Session, CountsFramesByClickIdOrderAndPauses)
{
    Bytes descending;
    for (int row = 29; row >= 0; --row) descending = join({descending, button_packet(static_cast<std::uint8_t>(200 + row), 0, "^3_")});
    struct Case {
        const char* name;
        std::vector<std::pair<milliseconds, Bytes>> feeds;
        std::uint64_t frames;
    };
    const std::vector<Case> cases{
        {"the order, a pause, a ClickID again",
         {{milliseconds(1), full_frame("0")},                                                     // frame 1
          {milliseconds(34), button_packet(6, 30, "^3_")},                                        // 2: a pause
          {milliseconds(67), join({button_packet(7, 36, "^3_"), button_packet(9, 48, "^3_")})},  // 3: a pause
          {milliseconds(68), join({button_packet(2, 6, "^7_"), button_packet(2, 6, "^6_")})}},   // 4: earlier; 5: again
         5},
        {"ClickIDs 100 to 129", {{milliseconds(1), join({full_frame("0", 255, {100}), full_frame("3", 255, {100})})}}, 2},
        {"falling ClickIDs", {{milliseconds(1), join({descending, descending})}}, 2},
        {"falling, part of a frame",
         {{milliseconds(1), descending}, {milliseconds(2), join({button_packet(229, 0, "^1_"), button_packet(215, 0, "^1_")})}},
         2},
    };
    for (const auto& c : cases) {
        Recorder seen;
        Session session({}, seen);
        ASSERT_TRUE(session.feed(init_packet(), milliseconds(0)));
        for (const auto& [at, bytes] : c.feeds) ASSERT_TRUE(session.feed(bytes, at)) << c.name;
        EXPECT_EQ(session.statistics().frames, c.frames) << c.name;
    }
}

}  // namespace
