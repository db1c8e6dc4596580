#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "events.hpp"
#include "packet_stream.hpp"
#include "session.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;
using namespace std::chrono_literals;
using K = EventKind;

// A logged-in session that guests 3 "guest3" and then 1 "bob" joined (kept in UCID order), its outbox emptied.
struct HostWithGuests {
    explicit HostWithGuests(std::uint16_t flags = 0)
    {
        session.feed(init_packet("", 9, 0, flags), {});
        session.apply({K::join, 3, "guest3"}, {});
        session.apply({K::join, 1, "bob"}, {});
        session.outbox().clear();
    }
    std::vector<std::size_t> sizes() const
    {
        std::vector<std::size_t> out;
        for (const auto& c : session.connections().present()) out.push_back(c.screen.size());
        return out;
    }
    SessionObserver quiet;
    Session session{{}, quiet};
};

// Byte for byte as LFS lays it out: Size, Type 18, ReqI, UCID, UName[24], PName[24], Admin, Total, Flags, Sp3.
Bytes ncn(std::uint8_t reqi, std::uint8_t ucid, std::string_view name, std::uint8_t total)
{
    Bytes p(56, 0);
    p[0] = 14, p[1] = 18, p[2] = reqi, p[3] = ucid;
    for (const int at : {4, 28}) std::copy(name.begin(), name.end(), p.begin() + at);
    p[52] = ucid == 0 ? 1 : 0, p[53] = total, p[54] = ucid == 0 ? 0 : 4;
    return p;
}

TEST(Guests, ButtonsDeletesAndClearsGoWhereTheirUcidAndTheInitFlagsSay)
{
    struct Case {
        std::uint16_t flags;
        std::uint8_t ucid;
        std::vector<std::size_t> sizes;  // of screens 0, 1, 3: 30 with the frame to everyone, 31 with button 200
    };
    const std::vector<Case> cases{
        {0, 255, {31, 31, 31}}, {0, 0, {31, 30, 30}}, {0, 3, {30, 30, 31}}, {0, 2, {30, 30, 30}},
        // Local buttons are the host's own, whatever their UCID.
        {4, 255, {31, 0, 0}},   {4, 3, {31, 0, 0}},   {4, 2, {31, 0, 0}},
    };
    for (auto [flags, ucid, sizes] : cases) {
        SCOPED_TRACE(std::to_string(flags) + " UCID " + std::to_string(ucid));
        HostWithGuests host(flags);
        host.session.feed(join({full_frame("1"), button_packet(200, 0, "^2_", ucid)}), {});
        EXPECT_EQ(host.sizes(), sizes);
        EXPECT_EQ(host.session.statistics().unaddressed, std::count(sizes.begin(), sizes.end(), 31u) == 0 ? 1u : 0u);
        // A delete of 5 to 7, then a clear, reach the screens the button reached.
        host.session.feed(Bytes{2, 42, 0, 0, ucid, 5, 7, 0}, {});
        std::replace(sizes.begin(), sizes.end(), 31u, 28u);
        EXPECT_EQ(host.sizes(), sizes);
        host.session.feed(Bytes{2, 42, 0, 1, ucid, 0, 0, 0}, {});
        std::replace(sizes.begin(), sizes.end(), 28u, 0u);
        EXPECT_EQ(host.sizes(), sizes);
    }
}

const std::string longest_o(124, 'x');

TEST(Guests, EventsAndTinyNcnTellTheClientAsLfsWould)
{
    struct Case {
        std::uint16_t flags;
        Event event;
        Bytes sent;  // nothing, with a warning, for what cannot happen
    };
    const std::vector<Case> cases{
        {0, {K::join, 2, "ann"}, ncn(0, 2, "ann", 4)},         {0, {K::leave, 1, ""}, {2, 19, 0, 1, 0, 2, 0, 0}},
        {0, {K::clear, 3, ""}, {2, 42, 0, 2, 3, 0, 0, 0}},     {0, {K::request, 1, ""}, {2, 42, 0, 3, 1, 0, 0, 0}},
        {4, {K::clear, 3, ""}, {2, 42, 0, 2, 0, 0, 0, 0}},  // local: the host's screen
        {0, {K::join, 3, "again"}, {}}, {0, {K::leave, 2, ""}, {}}, {0, {K::clear, 9, ""}, {}},
        {4, {K::o, 0, "pause"}, {5, 11, 0, 0, 0, 0, 3, 0, '/', 'o', ' ', 'p', 'a', 'u', 's', 'e', 0, 0, 0, 0}},
        {0, {K::o, 0, "abcd"}, {4, 11, 0, 0, 0, 0, 3, 0, '/', 'o', ' ', 'a', 'b', 'c', 'd', 0}},
        {0, {K::o, 0, longest_o}, join({{34, 11, 0, 0, 0, 0, 3, 0, '/', 'o', ' '}, Bytes(124, 'x'), {0}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.event) + " flags " + std::to_string(c.flags));
        HostWithGuests host(c.flags);
        host.session.apply(c.event, 1500ms);
        EXPECT_EQ(host.session.outbox(), c.sent);
        EXPECT_EQ(host.session.statistics().warnings, c.sent.empty() ? 1u : 0u);
    }
    HostWithGuests host;
    host.session.feed(tiny_packet(13, 42), {});
    EXPECT_EQ(host.session.outbox(), join({ncn(42, 0, "host", 3), ncn(42, 1, "bob", 3), ncn(42, 3, "guest3", 3)}));
}

TEST(Guests, CountsButtonsThatReachAClearedScreenUntilItsRequest)
{
    HostWithGuests host;
    host.session.feed(full_frame("1"), {});
    host.session.apply({K::clear, 1, ""}, {});
    EXPECT_EQ(host.sizes(), (std::vector<std::size_t>{30, 0, 30}));
    host.session.feed(join({full_frame("2", 3), button_packet(1, 0, "^3_", 255)}), {});
    host.session.apply({K::request, 1, ""}, {});
    host.session.feed(full_frame("4", 1), {});
    host.session.apply({K::leave, 1, ""}, 2000ms);
    const auto* bob = host.session.connections().last_seen(1);
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->screen.size(), 30u);  // kept as it was when it left
    EXPECT_EQ(format_connections(host.session.connections(), 2),
              "connections:\n"
              "  UCID 0 \"host\": 31 button packets, 0 while cleared, cleared 0, requested 0\n"
              "  UCID 3 \"guest3\": 61 button packets, 0 while cleared, cleared 0, requested 0, picture differs from "
              "the host's in 29 of 30 rows\n"
              "  UCID 1 \"bob\": 61 button packets, 1 while cleared, cleared 1, requested 1, left at 2.00 s\n"
              "  button packets for no connection: 2\n");
}

TEST(Events, ParsesLinesAndScriptsAndNamesWhatIsWrongWithBadOnes)
{
    // Each line, and describe() of its event or the failure.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"  join\t254  Big Bob \r", "join 254 \"Big Bob\""}, {"join 7", "join 7 \"guest7\""}, {"clear 0", "clear 0"},
        {"o  pause  now \r", "o \"pause  now\""}, {"o " + longest_o + "x", "o: a text of 125 bytes is longer than 124"},
        {"o", "o: no text"}, {"o " + longest_o, "o \"" + longest_o + "\""},
        {"kick 1", "unknown event \"kick\" (join, leave, clear, request or o)"},
        {"join 0", "join: \"0\" is not a UCID (1 to 254)"}, {"leave 255", "leave: \"255\" is not a UCID (1 to 254)"},
        {"clear 01", "clear: \"01\" is not a UCID (0 to 254)"}, {"request", "request: no UCID (0 to 254)"},
        {"clear 1 now", "clear: unexpected \"now\" after the UCID"},
        {"join 1 a-name-of-twenty-four-bb", "join: the name \"a-name-of-twenty-four-bb\" is longer than 23 bytes"},
    };
    for (const auto& [line, parsed] : cases) {
        const auto event = parse_event(line);
        EXPECT_EQ(event ? describe(*event) : event.failure().text, parsed) << line;
    }
    // In time order; lines of one time keep theirs, not that of their UCIDs or kinds.
    const auto script = parse_event_script("# a guest\n\n2500 clear 3\n100 clear 0\n2500 join 1 bob\n");
    ASSERT_TRUE(script);
    EXPECT_EQ(*script, (std::vector<TimedEvent>{
                           {100ms, {K::clear, 0, ""}}, {2500ms, {K::clear, 3, ""}}, {2500ms, {K::join, 1, "bob"}}}));
    const auto bad_time = parse_event_script("10 join 1\n1.5 leave 1\n");
    EXPECT_EQ(bad_time ? "parsed" : bad_time.failure().text, "line 2: \"1.5\" is not a time in milliseconds");
    const auto long_o = parse_event_script("10 o go\n20 o x" + longest_o + "\n");
    EXPECT_EQ(long_o ? "parsed" : long_o.failure().text, "line 2: o: a text of 125 bytes is longer than 124");
}

}  // namespace
