#include <gtest/gtest.h>

#include <algorithm>

#include "child_process.hpp"
#include "png_image.hpp"
#include "screen.hpp"
#include "statistics.hpp"
#include "terminal.hpp"
#include "test_env.hpp"
#include "transcript.hpp"

namespace {

using namespace insim_screen;
using std::chrono::milliseconds;

// Every colour, the empty cell included, on a diagonal pattern.
Picture colourful_picture()
{
    ButtonScreen screen;
    for (std::uint8_t row = 0; row < 29; ++row) {
        std::string text;
        for (std::size_t c = 0; c < 80; ++c) {
            const std::size_t colour = (row + c) % 9;
            text += colour == 8 ? std::string("^8_") : "^" + std::to_string(colour) + "_";
        }
        screen.set(static_cast<std::uint8_t>(row + 1), {0, static_cast<std::uint8_t>(row * 6), 240, 6, 32, text});
    }
    screen.set(30, {0, 174, 3, 6, 32, "^1_"});  // row 29 mostly empty
    Picture picture;
    screen.draw(picture);
    return picture;
}

TEST(Snapshot, ReadsBackAsTheColoursOfThePicture)
{
    const lumaflick::test::TempDir dir;
    const auto path = (dir.path() / "screen.png").string();
    const Picture picture = colourful_picture();
    ASSERT_TRUE(write_png(path, picture_image(picture)));

    const auto image = read_png(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 640u);
    EXPECT_EQ(image->height, 480u);
    const auto colours = snapshot_colours(*image);
    ASSERT_TRUE(colours);
    for (std::size_t r = 0; r < PICTURE_ROWS; ++r) {
        for (std::size_t c = 0; c < PICTURE_COLUMNS; ++c) {
            ASSERT_EQ((*colours)[r * PICTURE_COLUMNS + c], picture.at(r, c).colour) << r << "," << c;
        }
    }
}

TEST(Snapshot, ReportsFilesItCannotWriteOrRead)
{
    const lumaflick::test::TempDir dir;
    const auto missing_dir = (dir.path() / "no" / "such" / "dir.png").string();
    const auto written = write_png(missing_dir, picture_image(Picture{}));
    ASSERT_FALSE(written);
    EXPECT_NE(written.failure().text.find(missing_dir), std::string::npos);

    EXPECT_FALSE(read_png((dir.path() / "absent.png").string()));
    EXPECT_FALSE(read_png(dir.write("text.png", "not a png at all").string()));

    RgbImage small{16, 16, std::vector<std::uint8_t>(16 * 16 * 3)};
    EXPECT_FALSE(snapshot_colours(small));
    RgbImage odd = picture_image(Picture{});
    odd.pixels[(8 * odd.width + 4) * 3] = 1;  // the first cell's centre, in no palette colour
    EXPECT_FALSE(snapshot_colours(odd));
}

TEST(Transcript, WritesALinePerPacket)
{
    struct Case {
        DecodedPacket packet;
        std::string line;
    };
    InitPacket init;
    init.ReqI = 1;
    init.Flags = 4;
    init.InSimVer = 9;
    init.IName = "Lumaflick";
    ButtonPacket button;
    button.ClickID = 3;
    button.Text = "^0_^7_";
    const std::vector<Case> cases{
        {init, "0.250 IS_ISI - \"Lumaflick\" ReqI=1 Flags=4 InSimVer=9"},
        {button, "0.250 IS_BTN 3 \"^0_^7_\""},
        {MessagePacket{"say \"hi\"\\\n\xe9"}, "0.250 IS_MST - \"say \\\"hi\\\"\\\\\\x0a\\xe9\""},
        {LocalMessagePacket{2, "Paused"}, "0.250 IS_MSL - \"Paused\" Sound=2"},
        {TinyPacket{0, 0}, "0.250 IS_TINY - SubT=0"},
        {MalformedPacket{99, "unknown packet type 99"}, "0.250 type 99 - malformed: unknown packet type 99"},
    };
    for (const auto& c : cases) EXPECT_EQ(transcript_line(milliseconds(250), c.packet), c.line);

    const lumaflick::test::TempDir dir;
    const auto path = (dir.path() / "t.txt").string();
    {
        auto transcript = Transcript::open(path);
        ASSERT_TRUE(transcript);
        transcript->write_line("one");
        transcript->write_line("two");
        EXPECT_TRUE(transcript->finish());
    }
    EXPECT_EQ(screen_test::read_file(path), "one\ntwo\n");
    EXPECT_FALSE(Transcript::open((dir.path() / "no" / "t.txt").string()));
}

TEST(Summary, CountsPacketsAndBytesByType)
{
    Statistics stats;
    stats.count_packet(1, 44);
    for (int i = 0; i < 3; ++i) stats.count_packet(45, 252);
    stats.count_packet(99, 8);
    stats.frames = 2;
    stats.bytes = 808;
    const std::string summary = format_summary(stats, milliseconds(1500));
    EXPECT_NE(summary.find("after 1.50 s"), std::string::npos) << summary;
    EXPECT_NE(summary.find("IS_ISI            1 packets          44 bytes"), std::string::npos) << summary;
    EXPECT_NE(summary.find("IS_BTN            3 packets         756 bytes"), std::string::npos) << summary;
    EXPECT_NE(summary.find("type 99           1 packets           8 bytes"), std::string::npos) << summary;
    EXPECT_NE(summary.find("frames seen 2, warnings 0, bytes received 808"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("IS_MST"), std::string::npos) << summary;  // types never seen are left out
}

TEST(Terminal, DrawsInPlaceWithOneColourChangePerRun)
{
    ButtonScreen screen;
    screen.set(1, {0, 0, 12, 6, 32, "^1_^1_^1_^4_"});
    Picture picture;
    screen.draw(picture);
    std::string out;
    ansi_screen(picture, "header", std::vector<std::string>{"message: hi"}, out);

    EXPECT_EQ(out.rfind("\x1b[H", 0), 0u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1 + 30 + 1);
    const std::string first_row = out.substr(out.find('\n') + 1, out.find('\n', out.find('\n') + 1));
    EXPECT_EQ(first_row.find("\x1b[48;2;255;0;0m   \x1b[48;2;0;0;255m \x1b[48;2;40;44;52m"), 0u) << first_row;
    EXPECT_NE(out.find("message: hi"), std::string::npos);

    // A client's text cannot steer the terminal; UTF-8 passes.
    EXPECT_EQ(printable("a\x1b[2J\x07\x7f\tb \xc3\xa9"), "a\\x1b[2J\\x07\\x7f\\x09b \xc3\xa9");

    const std::string plain = plain_picture(picture);
    EXPECT_EQ(plain.size(), 81u * 30);
    EXPECT_EQ(plain.substr(0, 6), "---:  ");
}

}  // namespace
