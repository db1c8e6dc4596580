// A host's guest joins mid-playback, clears our buttons and asks for them
// again, all through LFS's packets: the wiring of the player's reactions.
#include <map>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, GuestThatJoinsAndClearsEndsWithTheHostsPicture)
{
    FakeLfsOptions options;
    options.address = "127.0.0.2";
    using When = FakeLfsOptions::Scripted::When;
    const std::uint8_t list = 2;  // the ReqI our list request carries
    options.script = {
        // Blocks: 1 the first frame, 2 the guest's whole picture, 3 a frame to the host alone.
        {When::after_block, {}, 1, ncn_packet(3, "guest", "Guest", 2)},
        // LFS's answer to the list request is sent at once, ahead of the request.
        {When::after_block, {}, 2,
         join({bfn_packet(insim::BFN_USER_CLEAR, 3), ncn_packet(0, "host", "Host", 2, true, 0, list),
               ncn_packet(3, "guest", "Guest", 2, false, 4, list)})},
        {When::after_block, {}, 3, bfn_packet(insim::BFN_REQUEST, 3)},
    };
    FakeLfs& lfs = start_lfs(options);
    // The last frame changes only the top rows: the guest has the others
    // from the picture it asked for.
    write_plan("frame 2400 0\nsleep 300\nframe 2400 255\nsleep 300\nframe 1000 0\nsleep 100\n");
    const RunOutcome outcome = play(arguments({"-r", "1000"}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_TRUE(lfs.wait_closed(5s));

    // Each connection's screen, as LFS would show it: ClickID → text.
    std::map<std::uint8_t, std::map<std::uint8_t, std::string>> screens{{0, {}}, {3, {}}};
    int list_requests = 0;
    bool cleared = false;
    int to_guest = 0;
    for (const Packet& packet : lfs.packets().packets) {
        if (packet.type() == insim::ISP_TINY && packet.bytes[3] == insim::TINY_NCN) {
            ++list_requests;
            EXPECT_EQ(packet.bytes[2], list);
            cleared = true;
        }
        if (packet.type() != insim::ISP_BTN) continue;
        const std::uint8_t ucid = packet.bytes[3];
        const Button shown = button(packet);
        if (ucid == 3) {
            cleared = false;
            ++to_guest;
        }
        EXPECT_FALSE(cleared && ucid == insim::UCID_ALL) << "the guest that cleared was sent a button";
        for (auto& [u, screen] : screens) {
            if (ucid == u || ucid == insim::UCID_ALL) screen[shown.click_id] = shown.text;
        }
    }
    EXPECT_EQ(list_requests, 1);
    EXPECT_EQ(to_guest, 60) << "the whole picture once on joining, once on asking again";
    // The host saw every frame.
    ASSERT_EQ(screens[0].size(), 30U);
    EXPECT_EQ(screens[0][1], row_of("^0_"));
    EXPECT_EQ(screens[0][30], row_of("^7_"));
    EXPECT_EQ(screens[3], screens[0]);
}

}  // namespace
}  // namespace lumaflick::test
