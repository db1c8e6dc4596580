// A byte budget on the wire: a picture that changes faster than the budget
// allows lags within it, and once it stands still it becomes exact.
#include <map>

#include "plain_picture.hpp"
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

TEST_F(PlaybackTest, BudgetHoldsOnTheWireAndAStillPictureBecomesExact)
{
    constexpr std::size_t BUDGET = 2520;  // ten full-size buttons a second
    FakeLfs& lfs = start_lfs();
    // Two seconds of every row changing every 50 ms, then the gradient stays.
    write_plan(repeat("gradient\nsleep 50\nframe 2400 0\nsleep 50\n", 20) + "gradient\nsleep 5000\n");
    const RunOutcome outcome = play(arguments({"-r", "1000", "--bandwidth", std::to_string(BUDGET)}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 2U);
    const auto statistics = parse_statistics(outcome.out_lines[1].text);
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->shown, 41U);
    ASSERT_TRUE(lfs.wait_closed(5s));

    const std::vector<Packet> buttons = of_type(lfs.packets().packets, insim::ISP_BTN);
    // Stamps in this process may bunch a little: a window somewhat shorter
    // than a second must still hold no more than the budget and one button.
    std::size_t in_window = 0;
    for (std::size_t first = 0, last = 0; last < buttons.size(); ++last) {
        in_window += buttons[last].bytes.size();
        while (buttons[first].at <= buttons[last].at - 700ms) in_window -= buttons[first++].bytes.size();
        ASSERT_LE(in_window, BUDGET + sizeof(insim::IS_BTN)) << "button " << last;
    }
    std::map<std::uint8_t, std::string> shown;
    for (const Packet& packet : buttons) {
        const Button b = button(packet);
        EXPECT_NE(shown[b.click_id], b.text) << "ClickID " << int{b.click_id} << " sent again for nothing";
        shown[b.click_id] = b.text;
    }
    std::vector<std::uint8_t> gradient(2400);
    for (std::size_t i = 0; i < gradient.size(); ++i) gradient[i] = static_cast<std::uint8_t>((i % 80) * 255 / 79);
    const std::string text = plain::grey_text(gradient, {"^0_", "^3_", "^6_", "^7_"});
    for (std::uint8_t id = 1; id <= 30; ++id) {
        EXPECT_EQ(shown[id] + '\n', text.substr((id - 1U) * (text.size() / 30), text.size() / 30)) << int{id};
    }
}

}  // namespace
}  // namespace lumaflick::test
