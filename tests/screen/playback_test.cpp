// One real playback: lumaflick decodes a generated clip with ffmpeg and shows
// it on insim-screen, whose snapshot must be the frame it showed last.
#include <gtest/gtest.h>

#include <string>

#include "child_process.hpp"
#include "video/decoder.hpp"
#include "frame.hpp"
#include "png_image.hpp"
#include "picture/render.hpp"
#include "screen.hpp"
#include "test_env.hpp"

namespace {

using namespace screen_test;
using namespace std::chrono_literals;

constexpr std::uint64_t RATE = 30;

// The picture the player's buttons make of a frame: line k is ClickID k + 1 at T 6k.
insim_screen::Picture expected_picture(std::span<const std::uint8_t> frame)
{
    std::string text;
    lumaflick::render_frame_text(frame, {"^0_", "^3_", "^6_", "^7_"}, text);
    insim_screen::ButtonScreen screen;
    std::size_t line = 0;
    for (std::size_t from = 0; from < text.size(); ++line) {
        const std::size_t end = text.find('\n', from);
        screen.set(static_cast<std::uint8_t>(line + 1),
                   {0, static_cast<std::uint8_t>(6 * line), 240, 6, 32, text.substr(from, end - from)});
        from = end + 1;
    }
    insim_screen::Picture picture;
    screen.draw(picture);
    return picture;
}

int run_to_end(const std::vector<std::string>& argv, const std::filesystem::path& dir, const std::string& name)
{
    auto child = ChildProcess::start(argv, dir / (name + ".out"), dir / (name + ".err"));
    if (!child) return -1;
    return child->wait_for(60s).value_or(-1);
}

TEST(Playback, SnapshotIsTheFrameShownLast)
{
    const lumaflick::test::TempDir dir;
    const std::string clip = (dir.path() / "clip.mp4").string();
    // Motion first, then a still tail: whichever of the last frames the pacing
    // shows, it is the same picture.
    const int made = run_to_end({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                 "testsrc2=size=320x240:rate=30:duration=1.5", "-vf",
                                 "tpad=stop_mode=clone:stop_duration=1", "-pix_fmt", "yuv420p", clip},
                                dir.path(), "make");
    if (made == -1) GTEST_SKIP() << "ffmpeg cannot be started";
    ASSERT_EQ(made, 0) << read_file(dir.path() / "make.err");

    const auto frames_path = dir.path() / "frames.raw";
    ASSERT_EQ(run_to_end({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i", clip, "-vf",
                          lumaflick::make_filter_string(RATE), "-f", "rawvideo", frames_path.string()},
                         dir.path(), "decode"),
              0)
        << read_file(dir.path() / "decode.err");
    const std::string frames = read_file(frames_path);
    ASSERT_GE(frames.size(), lumaflick::FRAME_SIZE);
    const std::span<const std::uint8_t> last(
        reinterpret_cast<const std::uint8_t*>(frames.data()) + frames.size() - lumaflick::FRAME_SIZE,
        lumaflick::FRAME_SIZE);
    const insim_screen::Picture expected = expected_picture(last);

    const auto port_file = dir.path() / "port";
    const std::string snapshot = (dir.path() / "shot.png").string();
    auto screen = ChildProcess::start({INSIM_SCREEN_PATH, "--listen", "127.0.0.1:0", "--port-file",
                                       port_file.string(), "--password", "pw", "--snapshot", snapshot},
                                      dir.path() / "screen.out", dir.path() / "screen.err");
    ASSERT_TRUE(screen);
    const auto port = wait_for_file(port_file, 5s);
    ASSERT_TRUE(port);

    const std::string address = "127.0.0.1:" + port->substr(0, port->find('\n'));
    ASSERT_EQ(run_to_end({LUMAFLICK_PATH, "-a", address, "-p", "pw", "-v", clip}, dir.path(), "player"), 0)
        << read_file(dir.path() / "player.err");
    ASSERT_EQ(screen->wait_for(10s), 0) << read_file(dir.path() / "screen.err");

    // The statistics line the player printed arrived as its IS_MST.
    const std::string player_out = read_file(dir.path() / "player.out");
    const auto stats_at = player_out.find("Read bytes");
    ASSERT_NE(stats_at, std::string::npos) << player_out;
    const std::string stats = player_out.substr(stats_at, player_out.find('\n', stats_at) - stats_at);
    EXPECT_NE(read_file(dir.path() / "screen.out").find("message: " + stats), std::string::npos);

    const auto image = insim_screen::read_png(snapshot);
    ASSERT_TRUE(image);
    const auto colours = insim_screen::snapshot_colours(*image);
    ASSERT_TRUE(colours);
    std::size_t differing = 0;
    for (std::size_t r = 0; r < insim_screen::PICTURE_ROWS; ++r) {
        for (std::size_t c = 0; c < insim_screen::PICTURE_COLUMNS; ++c) {
            if ((*colours)[r * insim_screen::PICTURE_COLUMNS + c] != expected.at(r, c).colour) ++differing;
        }
    }
    EXPECT_EQ(differing, 0u) << read_file(dir.path() / "screen.out");
}

}  // namespace
