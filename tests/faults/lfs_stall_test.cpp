// LFS that stops reading for a while: lumaflick must hold still rather than
// buffer, drop what piled up meanwhile, and be back to real time soon after.
#include <signal.h>

#include <algorithm>
#include <future>
#include <regex>
#include <thread>

#include "geometry.hpp"
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

constexpr auto STALL = 5s;
// Rate 30 shows a read that waited 21 ms; frames 40 ms apart leave room for
// a loaded machine, so that only frames that piled up are skipped.
constexpr auto INTERVAL = 40ms;
constexpr std::size_t CYCLE = 80;

// Frame i is 2400 - i % 80 bytes, so the last row of the picture has
// 80 - i % 80 glyphs and names the frame; alternating black and white makes
// every frame change every row, the most a frame can send.
std::string numbered_plan(std::size_t count)
{
    std::string plan;
    for (std::size_t i = 0; i < count; ++i) {
        plan += "frame " + std::to_string(2400 - i % CYCLE) + (i % 2 == 0 ? " 0\n" : " 255\n");
        plan += "sleep " + std::to_string(INTERVAL.count()) + "\n";
    }
    return plan;
}

// The first chunk after the fake's pause.
std::optional<Clock::time_point> resumed_at(const std::vector<Chunk>& chunks)
{
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        if (chunks[i].at - chunks[i - 1].at >= STALL - 500ms) return chunks[i].at;
    }
    return std::nullopt;
}

TEST_F(PlaybackTest, StalledLfsHoldsTheDecoderBackAndPlaybackCatchesUp)
{
    FakeLfsOptions options;
    options.receive_buffer = 2048;
    options.max_segment = 536;
    options.pause_after_bytes = INIT_BYTES + FRAME_BLOCK_BYTES;
    options.pause_for = STALL;
    FakeLfs& lfs = start_lfs(options);
    write_plan(numbered_plan(160));

    auto playing = std::async(std::launch::async, [this] { return play(arguments({"-r", "30"})); });
    const auto decoder = wait_for_ready(log_, "decoder", 5s);
    ASSERT_TRUE(decoder);
    const auto player = parent_of(decoder->pid);
    ASSERT_TRUE(player);
    ASSERT_TRUE(lfs.wait_bytes(options.pause_after_bytes, 5s));
    const auto stall_start = Clock::now();

    // Kernel buffers take the first second or so; after that every frame
    // lumaflick kept would have to live in its own memory.
    std::this_thread::sleep_for(1500ms);
    std::vector<std::size_t> rss;
    while (Clock::now() < stall_start + STALL - 200ms) {
        if (const auto kib = resident_kib(*player)) rss.push_back(*kib);
        std::this_thread::sleep_for(100ms);
    }
    // Ending the decoder ends the playback once catching up has been seen.
    std::this_thread::sleep_until(stall_start + STALL + 2500ms);
    ::kill(static_cast<pid_t>(decoder->pid), SIGKILL);
    const RunOutcome outcome = playing.get();

    EXPECT_EQ(outcome.signal, std::nullopt);
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    EXPECT_EQ(outcome.out_lines[0].text, "Runnin'");
    // Frames of other sizes than 2400 bytes: only the skipped count is whole.
    std::smatch skipped;
    ASSERT_TRUE(std::regex_match(outcome.out_lines[1].text, skipped,
                                 std::regex(R"(Read bytes: \d+kB, Skipped (\d+) frames \(\d+%\))")))
        << outcome.out_lines[1].text;
    EXPECT_GE(std::stoull(skipped[1].str()), 10U) << "the frames that piled up in the pipe were not dropped";

    ASSERT_GE(rss.size(), 20U);
    const auto [least, most] = std::minmax_element(rss.begin(), rss.end());
    EXPECT_LE(*most - *least, 256U) << "lumaflick's memory grew while LFS did not read: " << *least << " to " << *most
                                    << " KiB";

    const auto resumed = resumed_at(lfs.chunks());
    ASSERT_TRUE(resumed) << "the fake never paused";
    const auto runs = read_scripted_log(log_);
    ASSERT_FALSE(runs.empty());
    const std::vector<ScriptedFrame>& frames = runs.front().frames;
    std::vector<Clock::time_point> written;
    for (const ScriptedFrame& frame : frames) written.push_back(from_steady_ns(frame.steady_ns));

    // Back-pressure reached the decoder: its writes blocked until LFS read
    // again (whose stamp here may be late).
    const auto blocked_from = stall_start + 3s;
    const auto wrote_while_blocked = std::count_if(written.begin(), written.end(), [&](Clock::time_point at) {
        return at > blocked_from && at < *resumed - SLACK / 2;
    });
    EXPECT_EQ(wrote_while_blocked, 0) << "lumaflick kept reading the decoder while its write was blocked";

    // From a second after LFS reads again, each frame arrives right after the
    // decoder wrote it.
    std::size_t checked = 0;
    for (const Packet& packet : of_type(lfs.packets().packets, insim::ISP_BTN)) {
        const Button row = button(packet);
        if (row.click_id != 30 || packet.at < *resumed + 1s) continue;
        const std::size_t k = CYCLE - row.text.size() / 3;
        std::optional<Clock::time_point> source;
        for (std::size_t i = k; i < written.size() && written[i] <= packet.at; i += CYCLE) source = written[i];
        ASSERT_TRUE(source) << "a frame no decoder write explains, last row of " << row.text.size() << " bytes";
        EXPECT_LE(between(*source, packet.at), 250ms + SLACK) << "frame " << k << " (mod 80) arrived late";
        ++checked;
    }
    EXPECT_GE(checked, 15U) << "too few frames after LFS read again";
}

}  // namespace
}  // namespace lumaflick::test

namespace lumaflick::test {
namespace {

// A chatty LFS that reads slowly: every button the player wrote arrives, and
// the statistics after them, because the player shuts its end and hears LFS
// out before it closes, rather than resetting what LFS had not read yet.
TEST_F(PlaybackTest, SlowChattyLfsGetsEveryByte)
{
    FakeLfsOptions options;
    options.answer_version = true;
    options.keepalive_every = 1s;
    options.read_rate = 30'000;
    // Small buffers keep what waits in the kernel to a few seconds of reading.
    options.receive_buffer = 2048;
    options.max_segment = 536;
    FakeLfs& lfs = start_lfs(options);
    // Ten seconds at 30 frames a second, every frame changing every row.
    write_plan(repeat("frame 2400 0\nsleep 33\nframe 2400 255\nsleep 33\n", 150));
    const RunOutcome outcome = play(arguments({"-r", "30"}));

    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    ASSERT_EQ(outcome.out_lines.size(), 2U) << outcome.out;
    const auto numbers = parse_statistics(outcome.out_lines[1].text);
    ASSERT_TRUE(numbers) << outcome.out_lines[1].text;
    ASSERT_TRUE(lfs.wait_closed(5s));
    ASSERT_TRUE(lfs.peer_closed_at()) << "the player closed without shutting its end first";

    const Split split = lfs.packets();
    EXPECT_EQ(split.trailing_bytes, 0U);
    ASSERT_FALSE(split.packets.empty());
    EXPECT_EQ(split.packets.back().type(), insim::ISP_MST);
    EXPECT_EQ(message(split.packets.back()), outcome.out_lines[1].text);
    // A skip can make a frame repeat the one before, which sends nothing.
    const std::size_t buttons = of_type(split.packets, insim::ISP_BTN).size();
    EXPECT_EQ(buttons % 30, 0U);
    EXPECT_LE(buttons, 30 * numbers->shown);
    EXPECT_GE(lfs.sent(), 20U + 4U) << "the fake did not talk";
}

}  // namespace
}  // namespace lumaflick::test
