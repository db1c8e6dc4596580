// Real playbacks: lumaflick decodes generated clips with ffmpeg and shows them
// on insim-screen, whose snapshot must be the frame it showed last, in grey
// and in colour, with full-size or shortest packets.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "child_process.hpp"
#include "frame.hpp"
#include "insim/incoming.hpp"
#include "packet_decoder.hpp"
#include "picture/frame_update.hpp"
#include "picture/render.hpp"
#include "plain_picture.hpp"
#include "png_image.hpp"
#include "screen.hpp"
#include "test_env.hpp"
#include "video/decoder.hpp"

namespace {

using namespace screen_test;
using namespace std::chrono_literals;
using insim_screen::Colour;

constexpr std::uint64_t RATE = 30;
const lumaflick::GlyphStrings DEFAULT_GLYPHS{"^0_", "^3_", "^6_", "^7_"};

// The picture of a text, each line where the player puts it.
insim_screen::Picture picture_of(const std::string& text)
{
    constexpr lumaflick::Geometry g = lumaflick::DEFAULT_GEOMETRY;
    insim_screen::ButtonScreen screen;
    std::size_t line = 0;
    for (std::size_t from = 0; from < text.size(); ++line) {
        const std::size_t end = text.find('\n', from);
        const lumaflick::ButtonPlace place = g.button(line);
        screen.set(place.click_id,
                   {place.left, place.top, place.width, g.row_height, 32, text.substr(from, end - from)});
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

// Makes a clip with ffmpeg from lavfi sources; false when ffmpeg cannot be started.
bool make_clip(const std::filesystem::path& dir, const std::string& clip, std::vector<std::string> sources)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error"};
    argv.insert(argv.end(), sources.begin(), sources.end());
    argv.push_back(clip);
    const int made = run_to_end(argv, dir, "make");
    EXPECT_EQ(made == -1 ? 0 : made, 0) << read_file(dir / "make.err");
    return made != -1;
}

// The clip's frames exactly as the player asks ffmpeg for them.
std::string decoded_frames(const std::filesystem::path& dir, const std::string& clip, bool colour)
{
    const auto path = dir / "frames.raw";
    const auto format = colour ? lumaflick::PixelFormat::rgb24 : lumaflick::PixelFormat::gray;
    EXPECT_EQ(run_to_end({"ffmpeg", "-nostdin", "-y", "-hide_banner", "-loglevel", "error", "-i", clip, "-vf",
                          lumaflick::make_filter_string(RATE, format), "-f", "rawvideo", path.string()},
                         dir, "decode"),
              0)
        << read_file(dir / "decode.err");
    return read_file(path);
}

// Plays the clip on a fresh insim-screen and gives the colours of its last picture.
std::optional<insim_screen::CellColours> play(const std::filesystem::path& dir, const std::string& clip,
                                              const std::vector<std::string>& options)
{
    const auto port_file = dir / "port";
    std::filesystem::remove(port_file);
    const std::string snapshot = (dir / "shot.png").string();
    auto screen = ChildProcess::start({INSIM_SCREEN_PATH, "--listen", "127.0.0.1:0", "--port-file",
                                       port_file.string(), "--password", "pw", "--snapshot", snapshot},
                                      dir / "screen.out", dir / "screen.err");
    EXPECT_TRUE(screen);
    const auto port = wait_for_file(port_file, 5s);
    EXPECT_TRUE(port);
    if (!screen || !port) return std::nullopt;

    std::vector<std::string> argv{LUMAFLICK_PATH, "-a", "127.0.0.1:" + port->substr(0, port->find('\n')),
                                  "-p", "pw", "-v", clip};
    argv.insert(argv.end(), options.begin(), options.end());
    EXPECT_EQ(run_to_end(argv, dir, "player"), 0) << read_file(dir / "player.err");
    EXPECT_EQ(screen->wait_for(10s), 0) << read_file(dir / "screen.err");

    // The statistics line the player printed arrived as its IS_MST.
    const std::string player_out = read_file(dir / "player.out");
    const auto stats_at = player_out.find("Read bytes");
    EXPECT_NE(stats_at, std::string::npos) << player_out;
    const std::string stats = player_out.substr(stats_at, player_out.find('\n', stats_at) - stats_at);
    EXPECT_NE(read_file(dir / "screen.out").find("message: " + stats), std::string::npos);

    const auto image = insim_screen::read_png(snapshot);
    EXPECT_TRUE(image);
    return image ? insim_screen::snapshot_colours(*image) : std::nullopt;
}

std::size_t differing_cells(const insim_screen::CellColours& colours, const insim_screen::Picture& expected)
{
    std::size_t differing = 0;
    for (std::size_t r = 0; r < insim_screen::PICTURE_ROWS; ++r) {
        for (std::size_t c = 0; c < insim_screen::PICTURE_COLUMNS; ++c) {
            if (colours[r * insim_screen::PICTURE_COLUMNS + c] != expected.at(r, c).colour) ++differing;
        }
    }
    return differing;
}

struct Mode {
    const char* name;
    std::vector<std::string> options;
};

class ModePlayback : public ::testing::TestWithParam<Mode> {};

// Motion first, then a still tail: whichever of the last frames the pacing
// shows, it is the same picture, so every mode must leave exactly that one.
TEST_P(ModePlayback, SnapshotIsTheFrameShownLast)
{
    const lumaflick::test::TempDir dir;
    const std::string clip = (dir.path() / "clip.mp4").string();
    if (!make_clip(dir.path(), clip,
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=1.5", "-vf",
                    "tpad=stop_mode=clone:stop_duration=1", "-pix_fmt", "yuv420p"})) {
        GTEST_SKIP() << "ffmpeg cannot be started";
    }
    const bool colour = GetParam().options.front() == "--colour";
    const std::string frames = decoded_frames(dir.path(), clip, colour);
    const std::size_t frame_size = colour ? 3 * lumaflick::FRAME_SIZE : lumaflick::FRAME_SIZE;
    ASSERT_GE(frames.size(), frame_size);
    const std::span<const std::uint8_t> last(
        reinterpret_cast<const std::uint8_t*>(frames.data()) + frames.size() - frame_size, frame_size);
    const auto expected = picture_of(colour ? plain::colour_text(last) : plain::grey_text(last, DEFAULT_GLYPHS));

    const auto colours = play(dir.path(), clip, GetParam().options);
    ASSERT_TRUE(colours);
    EXPECT_EQ(differing_cells(*colours, expected), 0u) << read_file(dir.path() / "screen.out");
}

INSTANTIATE_TEST_SUITE_P(Modes, ModePlayback,
                         ::testing::Values(Mode{"grey", {"-r", "30"}}, Mode{"grey_compact", {"--compact"}},
                                           Mode{"colour", {"--colour"}},
                                           Mode{"colour_compact", {"--colour", "--compact"}}),
                         [](const auto& mode) { return std::string(mode.param.name); });

// Solid areas through real ffmpeg come out in their own colour code, and 50 %
// grey as an even pattern of black and white.
TEST(ColourPlayback, SolidAreasAndHalfGrey)
{
    const lumaflick::test::TempDir dir;
    const std::string clip = (dir.path() / "areas.nut").string();
    // Six stripes of 80 pixels, stored losslessly in RGB.
    std::vector<std::string> sources;
    const char* colours[] = {"0xff0000", "0x00ff00", "0x0000ff", "0xffffff", "0x000000", "0x808080"};
    for (const char* colour : colours) {
        sources.insert(sources.end(), {"-f", "lavfi", "-i", std::string("color=c=") + colour + ":size=80x240:rate=30"});
    }
    sources.insert(sources.end(), {"-filter_complex", "hstack=inputs=6", "-t", "1", "-c:v", "rawvideo",
                                   "-pix_fmt", "rgb24"});
    if (!make_clip(dir.path(), clip, sources)) GTEST_SKIP() << "ffmpeg cannot be started";

    const auto shot = play(dir.path(), clip, {"--colour"});
    ASSERT_TRUE(shot);
    const Colour solid[] = {Colour::red, Colour::green, Colour::blue, Colour::white, Colour::black};
    for (std::size_t row = 0; row < insim_screen::PICTURE_ROWS; ++row) {
        const auto at = [&](std::size_t column) { return (*shot)[row * insim_screen::PICTURE_COLUMNS + column]; };
        // Each stripe is 13⅓ columns wide; its edges are blended by the scaler.
        for (std::size_t stripe = 0; stripe < 5; ++stripe) {
            for (std::size_t column = 40 * stripe / 3 + 2; column < 40 * (stripe + 1) / 3 - 1; ++column) {
                EXPECT_EQ(at(column), solid[stripe]) << "stripe " << stripe << ", row " << row << ", column " << column;
            }
        }
        for (std::size_t column = 68; column < 76; column += 4) {
            std::size_t white = 0;
            for (std::size_t x = column; x < column + 4; ++x) {
                EXPECT_TRUE(at(x) == Colour::white || at(x) == Colour::black) << "row " << row << ", column " << x;
                white += at(x) == Colour::white ? 1 : 0;
            }
            EXPECT_EQ(white, 2u) << "row " << row << ", columns from " << column;
        }
    }
}

// Every frame of a moving clip, shown with full-size and with shortest
// packets, leaves insim-screen's picture the same, cell for cell.
TEST(CompactPackets, DrawTheSamePictureFrameByFrame)
{
    const lumaflick::test::TempDir dir;
    const std::string clip = (dir.path() / "clip.mp4").string();
    if (!make_clip(dir.path(), clip,
                   {"-f", "lavfi", "-i", "mandelbrot=size=320x240:rate=30:start_scale=2:end_scale=0.05", "-f",
                    "lavfi", "-i", "testsrc2=size=100x75:rate=30", "-filter_complex",
                    "[0:v][1:v]overlay=x='mod(t*120,320+100)-100':y=120,format=yuv420p", "-t", "3"})) {
        GTEST_SKIP() << "ffmpeg cannot be started";
    }
    for (const bool colour : {false, true}) {
        const std::string frames = decoded_frames(dir.path(), clip, colour);
        const auto make = [&](lumaflick::Packing packing) {
            return colour ? lumaflick::FrameUpdate::colour(packing)
                          : lumaflick::FrameUpdate::grey(DEFAULT_GLYPHS, packing);
        };
        auto full = make(lumaflick::Packing::full);
        auto shortest = make(lumaflick::Packing::shortest);
        insim_screen::ButtonScreen full_screen;
        insim_screen::ButtonScreen short_screen;
        const auto take = [](std::span<const std::byte> block, insim_screen::ButtonScreen& screen) {
            insim::PacketFramer framer;
            const auto framed = framer.feed({reinterpret_cast<const std::uint8_t*>(block.data()), block.size()},
                                            [&](std::span<const std::uint8_t> packet) {
                                                auto decoded = insim_screen::decode_packet(packet);
                                                auto& button = std::get<insim_screen::ButtonPacket>(decoded);
                                                screen.set(button.ClickID, {button.L, button.T, button.W, button.H,
                                                                            button.BStyle, std::move(button.Text)});
                                            });
            EXPECT_TRUE(framed && framer.finish());
        };
        std::size_t full_bytes = 0;
        std::size_t short_bytes = 0;
        const std::size_t size = full.frame_size();
        ASSERT_GE(frames.size(), 60 * size);
        for (std::size_t at = 0; at + size <= frames.size(); at += size) {
            const std::span<const std::uint8_t> frame(reinterpret_cast<const std::uint8_t*>(frames.data()) + at, size);
            const auto full_block = full.show(frame);
            full_bytes += full_block.size();
            take(full_block, full_screen);
            const auto short_block = shortest.show(frame);
            short_bytes += short_block.size();
            take(short_block, short_screen);
            insim_screen::Picture full_picture;
            insim_screen::Picture short_picture;
            full_screen.draw(full_picture);
            short_screen.draw(short_picture);
            ASSERT_EQ(full_picture, short_picture) << (colour ? "colour" : "grey") << ", frame " << at / size;
        }
        EXPECT_LT(short_bytes, full_bytes) << (colour ? "colour" : "grey");
    }
}

}  // namespace
