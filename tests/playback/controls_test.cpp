// /o commands from LFS pause, seek and stop a playback run by the real
// ffmpeg: the frames after each command are those of the place asked for.
#include <algorithm>
#include <regex>

#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

using When = FakeLfsOptions::Scripted::When;

// What a playback sent, in order: each frame's block of buttons (as the
// picture it leaves, rows by ClickID) and the local messages between them.
struct Heard {
    std::vector<std::array<std::string, 30>> frames;
    std::vector<std::pair<std::size_t, std::string>> messages;  // frames before each message, its text
};

Heard heard(const FakeLfs& lfs)
{
    Heard result;
    std::array<std::string, 30> rows{};
    bool in_block = false;
    for (const Packet& packet : lfs.packets().packets) {
        if (packet.type() == insim::ISP_BTN) {
            const Button shown = button(packet);
            // Every frame here changes its first row, so a block starts there.
            if (shown.click_id == 1 && in_block) result.frames.push_back(rows);
            rows.at(shown.click_id - 1) = shown.text;
            in_block = true;
            continue;
        }
        if (in_block) result.frames.push_back(rows);
        in_block = false;
        if (packet.type() == insim::ISP_MSL) {
            result.messages.emplace_back(result.frames.size(), std::string(reinterpret_cast<const char*>(&packet.bytes[4])));
        }
    }
    if (in_block) result.frames.push_back(rows);
    return result;
}

// With the real ffmpeg, on a clip whose frames show their own number: the
// frames after each command are those of the place asked for.
TEST_F(PlaybackTest, RealFfmpegGoesOnFromTheFrameAfterTheLastShown)
{
    const auto ffmpeg = find_on_path("ffmpeg");
    if (!ffmpeg) GTEST_SKIP() << "ffmpeg is not on the search path";
    const std::string clip = (dir_.path() / "numbered.mkv").string();
    // Bit b of the frame's number lights the 8-pixel block b % 10 of the upper
    // (b < 10) or lower half; ffv1 keeps every pixel and every frame a key frame.
    const auto made = run(*ffmpeg, {"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
                                    "color=c=black:s=80x30:r=30,format=gray,geq=lum='255*mod(floor(N/pow(2,floor(X/8)+10*floor(Y/15))),2)'",
                                    "-t", "20", "-c:v", "ffv1", clip});
    ASSERT_TRUE(made && made->exit_status == 0) << (made ? made->err : made.error().debug());
    FakeLfsOptions options;
    options.script = {
        {When::after_block, {}, 10, mso_packet("/o pause")},
        {When::at, 2500ms, 0, mso_packet("/o play")},
        {When::after_block, {}, 20, mso_packet("/o seek 10")},
        {When::after_block, {}, 30, mso_packet("/o seek -5")},
        {When::after_block, {}, 40, mso_packet("/o stop")},
    };
    FakeLfs& lfs = start_lfs(options);
    const RunOutcome outcome = play({"-a", lfs.endpoint(), "-p", "secret", "-v", clip, "--subpixels", "0", "1", "2", "3"});
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_TRUE(lfs.wait_closed(5s));

    const Heard wire = heard(lfs);
    std::vector<int> numbers;
    for (const auto& rows : wire.frames) {
        int number = 0;
        for (int bit = 0; bit < 20; ++bit) {
            if (rows[static_cast<std::size_t>(bit / 10 * 15)].at(static_cast<std::size_t>(bit % 10 * 8)) == '3') number |= 1 << bit;
        }
        numbers.push_back(number);
    }
    ASSERT_EQ(wire.messages.size(), 5U);
    const auto first_after = [&](std::size_t message) { return numbers.at(wire.messages[message].first); };
    const auto last_before = [&](std::size_t message) { return numbers.at(wire.messages[message].first - 1); };
    EXPECT_EQ(numbers.front(), 0);
    EXPECT_EQ(first_after(1), last_before(0) + 1) << "play goes on from the frame after the last shown";
    EXPECT_EQ(first_after(2), 300) << "seek 10";
    EXPECT_EQ(first_after(3), last_before(3) + 1 - 150) << "seek -5";
    // Within each run the frames only move forward.
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        const bool restart = std::any_of(wire.messages.begin() + 1, wire.messages.end(), [&](const auto& m) { return m.first == i; });
        if (!restart) {
            EXPECT_GT(numbers[i], numbers[i - 1]) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace lumaflick::test
