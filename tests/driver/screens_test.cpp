// What every connection of a host sees while guests join, leave, clear our
// buttons and ask for them again: each row is a script, played against a
// model of LFS's screens, checked after every frame.
#include "picture/screens.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frame.hpp"
#include "picture/frame_update.hpp"

namespace lumaflick {
namespace {

using Screen = std::map<std::uint8_t, std::string>;  // ClickID → the button's bytes after its UCID

// LFS's side: the screens of its connections, and what reached them.
struct Host {
    bool local = false;
    std::map<std::uint8_t, Screen> screens;  // by UCID
    std::set<std::uint8_t> cleared;
    std::map<std::uint8_t, int> sent_while_cleared;
    std::vector<std::uint8_t> list_requests;  // the ReqI of each TINY_NCN

    void put(std::uint8_t ucid, std::uint8_t id, const std::string& rest)
    {
        if (cleared.contains(ucid)) ++sent_while_cleared[ucid];
        screens[ucid][id] = rest;
    }

    void receive(std::span<const std::byte> bytes)
    {
        while (!bytes.empty()) {
            const std::size_t size = std::to_integer<std::size_t>(bytes[0]) * 4;
            ASSERT_GE(size, 4U);
            ASSERT_LE(size, bytes.size());
            const auto type = std::to_integer<std::uint8_t>(bytes[1]);
            if (type == insim::ISP_TINY) {
                ASSERT_EQ(std::to_integer<std::uint8_t>(bytes[3]), insim::TINY_NCN);
                list_requests.push_back(std::to_integer<std::uint8_t>(bytes[2]));
            } else {
                ASSERT_EQ(type, insim::ISP_BTN);
                const auto ucid = std::to_integer<std::uint8_t>(bytes[3]);
                const auto id = std::to_integer<std::uint8_t>(bytes[4]);
                const std::string rest(reinterpret_cast<const char*>(bytes.data()) + 4, size - 4);
                if (local) {
                    put(0, id, rest);
                } else if (ucid == insim::UCID_ALL) {
                    for (auto& [u, screen] : screens) put(u, id, rest);
                } else if (screens.contains(ucid)) {
                    put(ucid, id, rest);
                }
            }
            bytes = bytes.subspan(size);
        }
    }
};

// A still logo over the top five rows, the rest moving with the frame number.
std::vector<std::uint8_t> frame(int number, std::size_t pixel_size)
{
    std::vector<std::uint8_t> pixels(FRAME_SIZE * pixel_size);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::size_t row = i / pixel_size / DEFAULT_GEOMETRY.width;
        pixels[i] = row < 5 ? 200 : static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(number) * 13) % 256);
    }
    return pixels;
}

struct Script {
    const char* name;
    bool local;
    std::vector<std::uint8_t> before;  // connections there before the playback
    std::vector<std::string> steps;
};

void play(const Script& script, FrameUpdate update, std::size_t pixel_size)
{
    Host host;
    host.local = script.local;
    for (const std::uint8_t ucid : script.before) host.screens[ucid];
    Screens screens(script.local);
    Host all;  // a connection that saw every frame
    Screen& seen_all = all.screens[0];
    int number = 0;
    std::size_t answered = 0;
    const auto hear = [&](auto packet) {
        screens.hear(packet);
        host.receive(screens.take_due());
        screens.due_written();
    };
    const auto ncn = [&](std::uint8_t ucid, std::uint8_t reqi) {
        return insim::IS_NCN{.ReqI = reqi, .UCID = ucid, .Total = static_cast<std::uint8_t>(host.screens.size())};
    };
    const auto bfn = [](std::uint8_t subt, std::uint8_t ucid) { return insim::IS_BFN{.SubT = subt, .UCID = ucid}; };
    for (const std::string& step : script.steps) {
        SCOPED_TRACE(step);
        std::istringstream words(step);
        std::string verb;
        int n = 0;
        words >> verb >> n;
        const auto ucid = static_cast<std::uint8_t>(n);
        if (verb == "frames") {
            for (int i = 0; i < n; ++i, ++number) {
                // As the player does: the rows are kept where they were drawn.
                const auto buttons = update.show(frame(number, pixel_size));
                all.receive(buttons);
                const auto sent = screens.show(buttons);
                screens.written_in_place(buttons);
                if (host.cleared.empty()) {
                    EXPECT_TRUE(std::ranges::equal(sent, buttons)) << "not one broadcast";
                }
                host.receive(sent);
                // Until the list arrives, those we never heard of get nothing.
                if (host.list_requests.size() > answered) continue;
                for (const auto& [u, screen] : host.screens) {
                    if (!host.cleared.contains(u)) {
                        ASSERT_EQ(screen, seen_all) << "UCID " << int{u} << " after frame " << number;
                    }
                }
            }
        } else if (verb == "join") {
            // Local buttons never reach a guest.
            if (!host.local) host.screens[ucid];
            hear(ncn(ucid, 0));
        } else if (verb == "leave") {
            host.screens.erase(ucid);
            host.cleared.erase(ucid);
            hear(insim::IS_CNL{.UCID = ucid, .Total = static_cast<std::uint8_t>(host.screens.size())});
        } else if (verb == "clear") {
            host.cleared.insert(ucid);
            host.screens[ucid].clear();
            hear(bfn(insim::BFN_USER_CLEAR, ucid));
        } else if (verb == "request") {
            host.cleared.erase(ucid);
            hear(bfn(insim::BFN_REQUEST, ucid));
        } else if (verb == "stray") {
            // A clear that names no one connection changes nothing.
            hear(bfn(insim::BFN_USER_CLEAR, ucid));
            hear(ncn(ucid, 0));
        } else if (verb == "answer") {
            // LFS answers our request with every connection, the host first.
            ASSERT_EQ(host.list_requests.size(), 1U);
            ASSERT_NE(host.list_requests[0], 0);
            for (const auto& [u, screen] : host.screens) hear(ncn(u, host.list_requests[0]));
            answered = 1;
        } else {
            FAIL() << "no such step";
        }
    }
    EXPECT_LE(host.list_requests.size(), 1U) << "the list is asked for once";
    if (script.local) {
        EXPECT_TRUE(host.list_requests.empty());
    }
    EXPECT_TRUE(host.sent_while_cleared.empty()) << "a connection that cleared was sent buttons";
}

TEST(Screens, EveryConnectionThatHasNotClearedSeesThePictureOfOneThatSawEveryFrame)
{
    const std::vector<Script> scripts{
        {"a guest joins at frame 50", false, {0}, {"frames 50", "join 1", "frames 20"}},
        {"a guest joins before the first frame", false, {0}, {"join 1", "frames 3"}},
        {"a guest clears at 30 and asks again at 60", false, {0, 1}, {"frames 30", "clear 1", "answer", "frames 30", "request 1", "frames 10"}},
        {"two guests, one clears", false, {0, 1, 2}, {"frames 10", "clear 2", "answer", "frames 20"}},
        {"a guest leaves while others cleared", false, {0, 1, 2, 3},
         {"frames 10", "clear 1", "clear 2", "answer", "frames 5", "leave 3", "frames 5", "leave 1", "frames 5",
          "request 2", "frames 5"}},
        {"frames before the list arrives", false, {0, 1, 2}, {"frames 5", "clear 1", "frames 3", "answer", "frames 3"}},
        {"asked again before the list arrives", false, {0, 1, 2},
         {"frames 5", "clear 1", "frames 3", "request 1", "frames 2", "answer", "frames 2"}},
        {"a join while one has cleared", false, {0, 1}, {"frames 5", "clear 1", "answer", "frames 2", "join 4", "frames 3"}},
        {"the one who cleared leaves", false, {0, 1}, {"frames 5", "clear 1", "answer", "frames 2", "leave 1", "frames 3"}},
        {"a request from a screen that shows it all", false, {0}, {"frames 5", "request 0", "frames 2"}},
        {"local buttons: the one screen clears", true, {0}, {"frames 5", "clear 0", "frames 5", "request 0", "frames 5"}},
        {"local buttons: guests do not matter", true, {0}, {"frames 5", "join 3", "frames 5"}},
        {"UCID 255 is everyone, not a connection", false, {0, 1}, {"frames 2", "stray 255", "frames 2"}},
    };
    for (const Script& script : scripts) {
        SCOPED_TRACE(script.name);
        play(script, FrameUpdate::grey({"^0_", "^3_", "^6_", "^7_"}, Packing::full), 1);
        play(script, FrameUpdate::colour(Packing::shortest), 3);
    }
}

}  // namespace
}  // namespace lumaflick

namespace lumaflick {
namespace {

// Under a budget a guest that joins is paid its picture a part at a time,
// every part within the allowance; a frame sent meanwhile pays its rows.
TEST(Screens, AJoinerIsPaidItsPictureWithinTheAllowance)
{
    constexpr std::int64_t ALLOWANCE = 700;
    FrameUpdate update = FrameUpdate::grey({"^0_", "^3_", "^6_", "^7_"}, Packing::full);
    Screens screens(false);
    Host host;
    host.screens[0];
    Host all;
    all.screens[0];
    const auto show = [&](int number) {
        const auto rows = update.show(frame(number, 1));
        host.receive(screens.show(rows));
        all.receive(rows);
        screens.written_in_place(rows);
    };
    show(0);
    host.screens[1];
    screens.hear(insim::IS_NCN{.ReqI = 0, .UCID = 1, .Total = 2});
    int parts = 0;
    for (; screens.owes(); ++parts) {
        ASSERT_LT(parts, 30);
        const auto due = screens.take_due(ALLOWANCE);
        EXPECT_LT(static_cast<std::int64_t>(due.size()), ALLOWANCE + 252);
        host.receive(due);
        screens.due_written();
        if (parts == 2) show(1);
    }
    EXPECT_GT(parts, 3);
    EXPECT_EQ(host.screens[1], all.screens[0]);
    EXPECT_EQ(host.screens[0], all.screens[0]);
}

}  // namespace
}  // namespace lumaflick
