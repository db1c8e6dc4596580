// What LFS receives over a whole playback, byte for byte; what the children
// were given, and the sound's end with the playback.
#include "geometry.hpp"
#include "playback_fixture.hpp"

namespace lumaflick::test {
namespace {

struct Address {
    const char* ip;
    bool local;
    bool seek;  // with -s 1.5 -t 2
    // LFS answers the init and sends a keep-alive every 50 ms, none of which
    // calls for an answer: the wire stays the same.
    bool chatty;
    bool guests = false;  // with --guests: host buttons, whatever the address
};

void PrintTo(const Address& address, std::ostream* out) { *out << address.ip; }

class WireStream : public PlaybackTest, public ::testing::WithParamInterface<Address> {};

// Rate 1000 makes the skip threshold zero, so that no frame is dropped however
// loaded the machine is.
constexpr const char* PLAN = "sleep 100\n"
                             "gradient\n"
                             "sleep 100\n"
                             "gradient\n"  // the same picture again: nothing to send
                             "sleep 100\n"
                             "frame 2400 0\n"
                             "sleep 100\n"
                             "frame 1000 0\n"  // a short read: 12 rows and 40 pixels
                             "sleep 100\n";

TEST_P(WireStream, InitChangedRowsStatisticsThenClose)
{
    FakeLfsOptions options;
    options.address = GetParam().ip;
    if (GetParam().chatty) {
        options.answer_version = true;
        options.keepalive_every = 50ms;
        // It talks on after our end of file: we close 2 s later, not never.
        options.outlasts_peer = true;
    }
    FakeLfs& lfs = start_lfs(options);
    write_plan(PLAN);

    std::vector<std::string> extra{"-r", "1000", "--ffplay", SCRIPTED_DECODER};
    if (GetParam().guests) extra.push_back("--guests");
    if (GetParam().seek) extra.insert(extra.end(), {"-s", "1.5", "-t", "2"});
    // The sound stand-in would linger for 15 s: the playback must not wait for it.
    const RunOutcome outcome = play(arguments(extra));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_LT(between(outcome.started, outcome.ended), 10s);
    EXPECT_EQ(outcome.err, "");
    const std::string statistics = "Read bytes: 8kB, Skipped 0 frames (0%)";
    EXPECT_EQ(outcome.out, "Runnin'\n" + statistics + "\n");
    ASSERT_TRUE(lfs.wait_closed(5s));
    EXPECT_EQ(lfs.connections(), 1);
    ASSERT_TRUE(lfs.peer_closed_at()) << "the player closed without shutting its end first";
    if (GetParam().chatty) {
        EXPECT_LT(between(*lfs.peer_closed_at(), outcome.ended), 2s + SLACK) << "an LFS that never closes held it";
    }

    using Words = std::vector<std::string>;
    const std::string filter = "scale=80:30,fps=1000,format=gray";
    const auto decoder = scripted("decoder");
    ASSERT_TRUE(decoder);
    const Words decoder_words = GetParam().seek ? Words{"-re", "-ss", "1.5", "-i", video_, "-t", "2", "-vf", filter,
                                                        "-f", "rawvideo", "-"}
                                                : Words{"-re", "-i", video_, "-vf", filter, "-f", "rawvideo", "-"};
    EXPECT_EQ(decoder->args, decoder_words);
    const auto sound = scripted("sound");
    ASSERT_TRUE(sound) << "no sound process was started";
    const Words sound_words = GetParam().seek ? Words{"-ss", "1.5", "-i", video_, "-t", "2", "-vn", "-showmode", "0"}
                                              : Words{"-i", video_, "-vn", "-showmode", "0"};
    EXPECT_EQ(sound->args, sound_words);
    EXPECT_FALSE(is_running(sound->pid)) << "the sound process outlived the playback";
    EXPECT_FALSE(sound->exit_code) << "it ran out its own time instead of being stopped";

    const Split split = lfs.packets();
    EXPECT_EQ(split.trailing_bytes, 0U);
    const auto& packets = split.packets;
    ASSERT_GE(packets.size(), 2U);
    EXPECT_EQ(packets.front().bytes, expected_init(GetParam().local));

    const auto buttons = of_type(packets, insim::ISP_BTN);
    ASSERT_EQ(buttons.size(), 30U + 30U + 1U);
    EXPECT_EQ(packets.size(), 1U + buttons.size() + 1U) << "only init, buttons and one message";

    const auto check_frame = [&](std::size_t first, auto&& expect_text) {
        for (std::size_t row = 0; row < 30; ++row) {
            const Packet& packet = buttons[first + row];
            SCOPED_TRACE("row " + std::to_string(row));
            ASSERT_EQ(packet.bytes.size(), 252U);
            constexpr Geometry g = DEFAULT_GEOMETRY;
            const ButtonPlace place = g.button(row);
            const std::vector<std::uint8_t> head{63, 45, 1, 255, place.click_id, 0, 32, 0,
                                                 place.left, place.top, place.width, g.row_height};
            EXPECT_EQ(std::vector<std::uint8_t>(packet.bytes.begin(), packet.bytes.begin() + 12), head);
            expect_text(button(packet).text);
        }
    };
    // The first frame replaces 30 empty rows, all in one write.
    check_frame(0, [](const std::string& text) {
        EXPECT_EQ(text.size(), 240U) << "a full row leaves no terminating zero";
        EXPECT_TRUE(text.starts_with("^0_") && text.ends_with("^7_")) << text;
    });
    for (std::size_t row = 1; row < 30; ++row) EXPECT_EQ(buttons[row].at, buttons[0].at);
    check_frame(30, [](const std::string& text) { EXPECT_EQ(text, row_of("^0_")); });

    const Button partial = button(buttons[60]);
    EXPECT_EQ(partial.click_id, 13);
    EXPECT_EQ(partial.top, 72);
    EXPECT_EQ(partial.text, row_of("^0_").substr(0, 40 * 3));

    const Packet& last = packets.back();
    ASSERT_EQ(last.type(), insim::ISP_MST);
    ASSERT_EQ(last.bytes.size(), 68U);
    EXPECT_EQ(last.bytes[0], 17);
    EXPECT_EQ(message(last), statistics);
    EXPECT_TRUE(std::all_of(last.bytes.begin() + 4 + static_cast<std::ptrdiff_t>(statistics.size()), last.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));

    // The message goes to LFS, then half a second later to the console. Both
    // ends are stamped here, so either may come late: half the wait is margin.
    ASSERT_EQ(outcome.out_lines.size(), 2U);
    const auto lead = between(last.at, outcome.out_lines[1].at);
    EXPECT_GE(lead, 250ms);
    EXPECT_LE(lead, 500ms + SLACK);
    // The decoder's output ended 100 ms after its last frame; the wait came after.
    ASSERT_TRUE(decoder && !decoder->frames.empty());
    EXPECT_GE(between(from_steady_ns(decoder->frames.back().steady_ns), outcome.out_lines[1].at), 600ms);
}

INSTANTIATE_TEST_SUITE_P(Addresses, WireStream,
                         ::testing::Values(Address{"127.0.0.1", true, false, false},
                                           Address{"127.0.0.2", false, true, false},
                                           Address{"127.0.0.1", true, false, true},
                                           Address{"127.0.0.1", false, false, false, true}),
                         [](const ::testing::TestParamInfo<Address>& address) {
                             if (address.param.chatty) return "chatty_lfs";
                             if (address.param.guests) return "guests";
                             return address.param.local ? "local" : "other_loopback_seek";
                         });

// A chosen size: ffmpeg scales to it, grey frames larger than a pipe keeps
// whole are shown whole, and each row is two buttons. A stand-in ffmpeg whose
// frame is no picture leaves --keep-aspect the whole box, after one line.
TEST_F(PlaybackTest, SizedFramesShownWholeInRowsOfTwoButtons)
{
    FakeLfs& lfs = start_lfs();
    write_plan("frame 9600 0\nsleep 100\nframe 9600 255\nsleep 100\n");
    const RunOutcome outcome = play(arguments({"-r", "1000", "--resolution", "160x60", "--keep-aspect"}));
    ASSERT_EQ(outcome.exit_status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "lumaflick: the video's shape could not be learnt, so it fills the picture: ffmpeg's frame "
                           "is not a PPM image\n");
    EXPECT_EQ(outcome.out, "Runnin'\nRead bytes: 18kB, Skipped 0 frames (0%)\n");
    ASSERT_TRUE(lfs.wait_closed(5s));
    // The probe ran first.
    const auto runs = read_scripted_log(log_);
    ASSERT_EQ(runs.size(), 2U);
    EXPECT_EQ(runs[1].args, (std::vector<std::string>{"-re", "-i", video_, "-vf", "scale=160:60,fps=1000,format=gray",
                                                      "-f", "rawvideo", "-"}));
    // Where each button goes is picture_test's.
    const auto buttons = of_type(lfs.packets().packets, insim::ISP_BTN);
    ASSERT_EQ(buttons.size(), 240U);
    for (std::size_t k = 0; k < buttons.size(); ++k) {
        EXPECT_EQ(button(buttons[k]).click_id, 1 + k % 120);
        EXPECT_EQ(button(buttons[k]).text, row_of(k < 120 ? "^0_" : "^7_")) << k;
    }
}

}  // namespace
}  // namespace lumaflick::test
