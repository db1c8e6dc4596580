#include <gtest/gtest.h>

#include <string>

#include "events.hpp"
#include "packet_stream.hpp"
#include "session.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;
using std::chrono::milliseconds;

// A logged-in session with guests 1 "bob" and 3 "guest3", what it sent so far taken out.
struct HostWithGuests {
    explicit HostWithGuests(std::uint16_t flags = 0)
    {
        session.feed(init_packet("", 9, 0, flags), {});
        session.apply({EventKind::join, 1, "bob"}, {});
        session.apply({EventKind::join, 3, "guest3"}, {});
        session.outbox().clear();
    }
    // The UCIDs whose screen has a button with that ClickID.
    std::vector<int> showing(std::uint8_t click_id) const
    {
        std::vector<int> ucids;
        for (const auto& c : session.connections().present()) {
            if (c.screen.find(click_id) != nullptr) ucids.push_back(c.ucid);
        }
        return ucids;
    }
    SessionObserver quiet;
    Session session{{}, quiet};
};

// Byte for byte as LFS lays it out: Size, Type 18, ReqI, UCID, UName[24], PName[24], Admin, Total, Flags, Sp3.
Bytes ncn(std::uint8_t reqi, std::uint8_t ucid, std::string_view name, std::uint8_t total)
{
    Bytes p(56, 0);
    p[0] = 14, p[1] = 18, p[2] = reqi, p[3] = ucid;
    std::copy(name.begin(), name.end(), p.begin() + 4);
    std::copy(name.begin(), name.end(), p.begin() + 28);
    p[52] = ucid == 0 ? 1 : 0, p[53] = total, p[54] = ucid == 0 ? 0 : 4;
    return p;
}

TEST(Guests, ButtonsGoWhereTheirUcidAndTheInitFlagsSay)
{
    struct Case {
        std::uint16_t flags;
        std::uint8_t ucid;
        std::vector<int> shown;
    };
    const std::vector<Case> cases{
        {0, 255, {0, 1, 3}}, {0, 0, {0}}, {0, 3, {3}}, {0, 2, {}},
        // Local buttons are the host's own, whatever their UCID.
        {4, 255, {0}},       {4, 3, {0}}, {4, 2, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + " UCID " + std::to_string(c.ucid));
        HostWithGuests host(c.flags);
        host.session.feed(join({full_frame("1"), button_packet(200, 0, "^2_", c.ucid)}), {});
        EXPECT_EQ(host.showing(200), c.shown);
        EXPECT_EQ(host.session.statistics().unaddressed, c.shown.empty() ? 1u : 0u);
        // Deletes and clears follow the same addressing; the frame sent to everyone stays elsewhere.
        Bytes del{2, 42, 0, 0, c.ucid, 5, 7, 0};
        Bytes clear{2, 42, 0, 1, c.ucid, 0, 0, 0};
        host.session.feed(del, {});
        const bool local = c.flags != 0;
        for (const auto& screen : host.session.connections().present()) {
            const bool framed = !local || screen.ucid == 0;
            const bool addressed = std::find(c.shown.begin(), c.shown.end(), screen.ucid) != c.shown.end();
            EXPECT_EQ(screen.screen.size(), (framed ? 30u : 0u) - (addressed ? 2u : 0u)) << int{screen.ucid};
        }
        host.session.feed(clear, {});
        EXPECT_TRUE(host.showing(200).empty());
        EXPECT_EQ(host.showing(10).size(), local ? 0u : 3 - c.shown.size());
    }
}

TEST(Guests, EventsChangeTheScreensAndTellTheClientAsLfsWould)
{
    struct Case {
        std::uint16_t flags;
        Event event;
        Bytes sent;
        std::vector<int> present;
    };
    const std::vector<Case> cases{
        {0, {EventKind::join, 2, "ann"}, ncn(0, 2, "ann", 4), {0, 1, 2, 3}},
        {0, {EventKind::leave, 1, ""}, {2, 19, 0, 1, 0, 2, 0, 0}, {0, 3}},
        {0, {EventKind::clear, 3, ""}, {2, 42, 0, 2, 3, 0, 0, 0}, {0, 1, 3}},
        {0, {EventKind::request, 1, ""}, {2, 42, 0, 3, 1, 0, 0, 0}, {0, 1, 3}},
        {4, {EventKind::clear, 3, ""}, {2, 42, 0, 2, 0, 0, 0, 0}, {0, 1, 3}},  // local: the host's screen
        // Nothing is sent for what cannot happen.
        {0, {EventKind::join, 3, "again"}, {}, {0, 1, 3}},
        {0, {EventKind::leave, 2, ""}, {}, {0, 1, 3}},
        {0, {EventKind::clear, 9, ""}, {}, {0, 1, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.event) + " flags " + std::to_string(c.flags));
        HostWithGuests host(c.flags);
        host.session.apply(c.event, milliseconds(1500));
        EXPECT_EQ(host.session.outbox(), c.sent);
        std::vector<int> present;
        for (const auto& connection : host.session.connections().present()) present.push_back(connection.ucid);
        EXPECT_EQ(present, c.present);
        EXPECT_EQ(host.session.statistics().warnings, c.sent.empty() ? 1u : 0u);
    }
}

TEST(Guests, CountsButtonsThatReachAClearedScreenUntilItsRequest)
{
    HostWithGuests host;
    host.session.feed(full_frame("1"), {});
    host.session.apply({EventKind::clear, 1, ""}, {});
    EXPECT_EQ(host.session.connections().find(1)->screen.size(), 0u);
    host.session.feed(join({full_frame("2", 3), button_packet(1, 0, "^3_", 255)}), {});
    host.session.apply({EventKind::request, 1, ""}, {});
    host.session.feed(full_frame("4", 1), {});
    host.session.apply({EventKind::leave, 1, ""}, milliseconds(2000));

    const auto* bob = host.session.connections().last_seen(1);
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->buttons, 61u);
    EXPECT_EQ(bob->buttons_while_cleared, 1u);
    EXPECT_EQ(bob->screen.size(), 30u);  // kept as it was when it left
    EXPECT_EQ(host.session.connections().find(3)->buttons_while_cleared, 0u);
    const std::string report = format_connections(host.session.connections(), 0);
    EXPECT_NE(report.find("UCID 1 \"bob\": 61 button packets, 1 while cleared, cleared 1, requested 1, left at 2.00 s"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("UCID 3 \"guest3\": 61 button packets, 0 while cleared, cleared 0, requested 0, picture "
                          "differs from the host's in 29 of 30 rows"),
              std::string::npos)
        << report;
}

TEST(Guests, AnswersTinyNcnWithEveryConnectionHostFirst)
{
    HostWithGuests host;
    host.session.feed(tiny_packet(13, 42), {});
    EXPECT_EQ(host.session.outbox(), join({ncn(42, 0, "host", 3), ncn(42, 1, "bob", 3), ncn(42, 3, "guest3", 3)}));
}

TEST(Events, ParsesGoodLinesAndNamesWhatIsWrongWithBadOnes)
{
    struct Case {
        std::string_view line;
        std::string parsed;  // describe() of the event, or the failure
    };
    const std::vector<Case> cases{
        {"join 1 bob", "join 1 \"bob\""},
        {"  join\t254  Big Bob \r", "join 254 \"Big Bob\""},
        {"join 7", "join 7 \"guest7\""},
        {"clear 0", "clear 0"},
        {"part 1", "unknown event \"part\" (join, leave, clear or request)"},
        {"join 0", "join: \"0\" is not a UCID (1 to 254)"},
        {"leave 255", "leave: \"255\" is not a UCID (1 to 254)"},
        {"clear 01", "clear: \"01\" is not a UCID (0 to 254)"},
        {"request", "request: no UCID (0 to 254)"},
        {"clear 1 now", "clear: unexpected \"now\" after the UCID"},
        {"join 1 a-name-of-twenty-four-bb", "join: the name \"a-name-of-twenty-four-bb\" is longer than 23 bytes"},
    };
    for (const auto& c : cases) {
        const auto event = parse_event(c.line);
        EXPECT_EQ(event ? describe(*event) : event.failure().text, c.parsed) << c.line;
    }

    const auto script = parse_event_script("# a guest\n\n2500 join 1 bob\n100 clear 0\n2500 clear 1\n");
    ASSERT_TRUE(script);
    const std::vector<TimedEvent> sorted{{milliseconds(100), {EventKind::clear, 0, ""}},
                                         {milliseconds(2500), {EventKind::join, 1, "bob"}},
                                         {milliseconds(2500), {EventKind::clear, 1, ""}}};
    EXPECT_EQ(*script, sorted);
    const auto bad_time = parse_event_script("10 join 1\n1.5 leave 1\n");
    ASSERT_FALSE(bad_time);
    EXPECT_EQ(bad_time.failure().text, "line 2: \"1.5\" is not a time in milliseconds");
    const auto bad_event = parse_event_script("\n# x\n10 jump 1");
    ASSERT_FALSE(bad_event);
    EXPECT_EQ(bad_event.failure().text.rfind("line 3: unknown event \"jump\"", 0), 0u);
}

}  // namespace
