#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "video/decoder.hpp"
#include "video/shape_probe.hpp"
#include "scripted_decoder_setup.hpp"

namespace lumaflick {
namespace {

using test::ScriptedDecoderSetup;
using Strings = std::vector<std::string>;

TEST(FilterString, ScalesToTheFrameAndCarriesTheRate)
{
    EXPECT_EQ(make_filter_string(30), "scale=80:30,fps=30,format=gray");
    EXPECT_EQ(make_filter_string(18446744073709551615u), "scale=80:30,fps=18446744073709551615,format=gray");
    EXPECT_EQ(make_filter_string(30, PixelFormat::rgb24), "scale=80:30,fps=30,format=rgb24");
}

TEST(Arguments, FollowTheOrderOfSeekInputDurationOutput)
{
    const std::string V = "clip.mp4";
    const std::string F = "scale=80:30,fps=30,format=gray";
    const struct {
        const char* name;
        std::optional<std::string> s;
        std::optional<std::string> t;
        Strings ffmpeg;
        Strings ffplay;
    } cases[] = {
        {"neither", std::nullopt, std::nullopt, {"-re", "-i", V, "-vf", F, "-f", "rawvideo", "-"},
         {"-i", V, "-vn", "-showmode", "0"}},
        {"seek", "1:02", std::nullopt, {"-re", "-ss", "1:02", "-i", V, "-vf", F, "-f", "rawvideo", "-"},
         {"-ss", "1:02", "-i", V, "-vn", "-showmode", "0"}},
        {"duration", std::nullopt, "5.5", {"-re", "-i", V, "-t", "5.5", "-vf", F, "-f", "rawvideo", "-"},
         {"-i", V, "-t", "5.5", "-vn", "-showmode", "0"}},
        {"both", "10", "00:00:03", {"-re", "-ss", "10", "-i", V, "-t", "00:00:03", "-vf", F, "-f", "rawvideo", "-"},
         {"-ss", "10", "-i", V, "-t", "00:00:03", "-vn", "-showmode", "0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ffmpeg_arguments(V, c.s, c.t, F), c.ffmpeg);
        EXPECT_EQ(ffplay_arguments(V, c.s, c.t), c.ffplay);
        EXPECT_EQ(ffmpeg_arguments(V, c.s, c.t, F, Chatter::usual), c.ffmpeg);
        EXPECT_EQ(ffplay_arguments(V, c.s, c.t, false, Chatter::usual), c.ffplay);
        // Errors only: the same arguments after the global options that ask for it.
        Strings quiet{"-hide_banner", "-loglevel", "error", "-nostats"};
        Strings ffmpeg = quiet;
        ffmpeg.insert(ffmpeg.end(), c.ffmpeg.begin(), c.ffmpeg.end());
        Strings ffplay = quiet;
        ffplay.insert(ffplay.end(), c.ffplay.begin(), c.ffplay.end());
        EXPECT_EQ(ffmpeg_arguments(V, c.s, c.t, F, Chatter::errors), ffmpeg);
        EXPECT_EQ(ffplay_arguments(V, c.s, c.t, false, Chatter::errors), ffplay);
    }
}

// What the children really receive, through the process layer, for texts that
// a shell or a command-line join would mangle.
TEST(Arguments, ReachBothChildrenUntouched)
{
    const struct {
        const char* name;
        std::string video;
        std::optional<std::string> s;
        std::optional<std::string> t;
        std::size_t ffmpeg_count;
        std::size_t ffplay_count;
    } cases[] = {
        {"plain", "clip.mp4", std::nullopt, std::nullopt, 8, 5},
        {"all options", "clip.mp4", "1:30", "20", 12, 9},
        {"spaces", "/videos/my holiday clip.mp4", "1 2", std::nullopt, 10, 7},
        {"quotes and backslashes", R"(a "quoted" \name\ 'x'.mp4)", std::nullopt, R"("5")", 10, 7},
        {"shell characters", "$(rm -rf x); `y` | z > w & *.mp4", "$HOME", "*", 12, 9},
        {"non-ASCII", "Ünïcödé 視頻 🎬.mp4", std::nullopt, std::nullopt, 8, 5},
        {"newline and empty", "line one\nline two", "", "", 12, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDecoderSetup setup("");
        const auto ffmpeg = ffmpeg_arguments(c.video, c.s, c.t, make_filter_string(30));
        const auto ffplay = ffplay_arguments(c.video, c.s, c.t);
        auto decoder = start_decoder(ScriptedDecoderSetup::program(), ffmpeg);
        ASSERT_TRUE(decoder) << decoder.error().debug();
        auto sound = start_sound(ScriptedDecoderSetup::program(), ffplay);
        ASSERT_TRUE(sound) << sound.error().debug();

        const auto decoder_run = setup.wait_for_ready("decoder");
        const auto sound_run = setup.wait_for_ready("sound");
        EXPECT_TRUE(sound->terminate());
        ASSERT_TRUE(decoder_run);
        ASSERT_TRUE(sound_run);
        EXPECT_EQ(decoder_run->argc, c.ffmpeg_count);
        EXPECT_EQ(decoder_run->args, ffmpeg);
        EXPECT_EQ(sound_run->argc, c.ffplay_count);
        EXPECT_EQ(sound_run->args, ffplay);
    }
}

TEST(ReadPpmSize, TheSizeOnceItsHeaderIsWhole)
{
    const struct {
        std::string_view bytes;
        std::optional<bool> valid;  // nullopt: more bytes are needed
        DisplaySize size = {};
    } cases[] = {
        {"P6\n1280 720\n255\n\x82", true, {1280, 720}},
        {"P5 853\t480 255 ", true, {853, 480}},
        {"P6\n# made by hand\n720 1280\n", true, {720, 1280}},
        {"P6\n720 1280", {}},
        {"P3\n1 1\n", false},
        {"P6\n0 720\n", false},
        {"P6\n99999999999 1\n", false},
    };
    for (const auto& c : cases) {
        const auto read = read_ppm_size({reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()});
        ASSERT_EQ(read.has_value(), c.valid.has_value()) << c.bytes;
        if (!read) continue;
        const std::optional<DisplaySize> size = *read ? std::optional(**read) : std::nullopt;
        EXPECT_EQ(size, *c.valid ? std::optional(c.size) : std::nullopt) << c.bytes;
    }
}

}  // namespace
}  // namespace lumaflick
