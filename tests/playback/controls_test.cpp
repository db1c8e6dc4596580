// /o commands from LFS pause, seek and stop a playback: the children are
// ended and started again where the picture is, and every command answered.
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

const std::string& argument_after(const ScriptedRun& run, std::string_view option)
{
    const auto it = std::find(run.args.begin(), run.args.end(), option);
    static const std::string none;
    return it == run.args.end() || it + 1 == run.args.end() ? none : *(it + 1);
}

TEST_F(PlaybackTest, CommandsStartTheChildrenAgainFromThePicturesPlace)
{
    FakeLfsOptions options;
    options.script = {
        // ffplay starts a moment after ffmpeg: pause once it has.
        {When::after_block, {}, 6, mso_packet("/o pause")},
        {When::at, 1500ms, 0, mso_packet("/o play")},
        {When::after_block, {}, 10, mso_packet("/o seek +10")},
        {When::after_block, {}, 18, mso_packet("/o stop")},
    };
    FakeLfs& lfs = start_lfs(options);
    write_plan(repeat("frame 2400 0\nsleep 40\nframe 2400 255\nsleep 40\n", 40));
    const RunOutcome outcome = play(arguments({"-r", "25", "-s", "1", "-t", "0:30", "--ffplay", SCRIPTED_DECODER}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_TRUE(lfs.wait_closed(5s));

    const Heard wire = heard(lfs);
    ASSERT_EQ(wire.messages.size(), 4U);
    const std::regex answers[] = {std::regex("lumaflick: paused at 0:01\\.\\d"),
                                  std::regex("lumaflick: playing from 0:01\\.\\d"),
                                  std::regex("lumaflick: to 0:1\\d\\.\\d"), std::regex("lumaflick: stopping")};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(std::regex_match(wire.messages[i].second, answers[i])) << wire.messages[i].second;
    }
    EXPECT_EQ(wire.messages[0].first, wire.messages[1].first) << "a frame was shown while paused";
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    const auto statistics = parse_statistics(outcome.out_lines[1].text);
    ASSERT_TRUE(statistics) << outcome.out;
    // A frame equal to the one before sends nothing.
    EXPECT_GE(statistics->shown, wire.frames.size()) << "the statistics count the frames of every run";

    // The first runs as the options say; the others from where the picture is,
    // ending where -s and -t end, ffplay trimmed to start there exactly.
    const auto runs = read_scripted_log(log_);
    std::vector<ScriptedRun> decoders, sounds;
    for (const ScriptedRun& run : runs) {
        (run.role == "decoder" ? decoders : sounds).push_back(run);
    }
    ASSERT_EQ(decoders.size(), 3U);
    ASSERT_EQ(sounds.size(), 3U);
    EXPECT_EQ(sounds[0].args, (std::vector<std::string>{"-ss", "1", "-i", video_, "-t", "0:30", "-vn", "-showmode", "0"}));
    EXPECT_EQ(argument_after(decoders[0], "-ss"), "1");
    double previous = 1;
    for (std::size_t i = 1; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::string& from = argument_after(decoders[i], "-ss");
        const double at = std::stod(from);
        EXPECT_GT(at, previous + (i == 2 ? 10 : 0));
        previous = at;
        EXPECT_NEAR(std::stod(argument_after(decoders[i], "-t")), 31 - at, 1e-5);
        EXPECT_EQ(sounds[i].args, (std::vector<std::string>{"-ss", from, "-i", video_, "-t", argument_after(decoders[i], "-t"),
                                                            "-vn", "-showmode", "0", "-af", "atrim=start=" + from}));
    }
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
