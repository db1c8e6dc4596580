#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "video/decoder.hpp"
#include "scripted_decoder_setup.hpp"

namespace lumaflick {
namespace {

using test::ScriptedDecoderSetup;
using Strings = std::vector<std::string>;

TEST(FilterString, ScalesToTheFrameAndCarriesTheRate)
{
    EXPECT_EQ(make_filter_string(30), "scale=80:30,fps=30,format=gray");
    EXPECT_EQ(make_filter_string(24), "scale=80:30,fps=24,format=gray");
    EXPECT_EQ(make_filter_string(18446744073709551615u), "scale=80:30,fps=18446744073709551615,format=gray");
    EXPECT_EQ(make_filter_string(30, PixelFormat::rgb24), "scale=80:30,fps=30,format=rgb24");
}

struct ArgumentCase {
    const char* name;
    std::optional<std::string> s;
    std::optional<std::string> t;
    Strings ffmpeg;
    Strings ffplay;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

const std::string V = "clip.mp4";
const std::string F = "scale=80:30,fps=30,format=gray";

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, FollowTheOrderOfSeekInputDurationOutput)
{
    const auto& c = GetParam();
    EXPECT_EQ(ffmpeg_arguments(V, c.s, c.t, F), c.ffmpeg);
    EXPECT_EQ(ffplay_arguments(V, c.s, c.t), c.ffplay);
}

INSTANTIATE_TEST_SUITE_P(
    FourForms, Arguments,
    ::testing::Values(
        ArgumentCase{"neither", std::nullopt, std::nullopt,
                     {"-re", "-i", V, "-vf", F, "-f", "rawvideo", "-"},
                     {"-i", V, "-vn", "-showmode", "0"}},
        ArgumentCase{"seek", "1:02", std::nullopt,
                     {"-re", "-ss", "1:02", "-i", V, "-vf", F, "-f", "rawvideo", "-"},
                     {"-ss", "1:02", "-i", V, "-vn", "-showmode", "0"}},
        ArgumentCase{"duration", std::nullopt, "5.5",
                     {"-re", "-i", V, "-t", "5.5", "-vf", F, "-f", "rawvideo", "-"},
                     {"-i", V, "-t", "5.5", "-vn", "-showmode", "0"}},
        ArgumentCase{"both", "10", "00:00:03",
                     {"-re", "-ss", "10", "-i", V, "-t", "00:00:03", "-vf", F, "-f", "rawvideo", "-"},
                     {"-ss", "10", "-i", V, "-t", "00:00:03", "-vn", "-showmode", "0"}}),
    [](const auto& p) { return std::string(p.param.name); });

// What the child really receives, through the process layer, for texts that a
// shell or a command-line join would mangle.
struct ReceivedCase {
    const char* name;
    std::string video;
    std::optional<std::string> s;
    std::optional<std::string> t;
    std::size_t ffmpeg_count;
    std::size_t ffplay_count;
};

void PrintTo(const ReceivedCase& c, std::ostream* os) { *os << c.name; }

class Received : public ::testing::TestWithParam<ReceivedCase> {};

TEST_P(Received, ByBothChildrenUntouched)
{
    const auto& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(
    Texts, Received,
    ::testing::Values(
        ReceivedCase{"plain", "clip.mp4", std::nullopt, std::nullopt, 8, 5},
        ReceivedCase{"all_options", "clip.mp4", "1:30", "20", 12, 9},
        ReceivedCase{"spaces", "/videos/my holiday clip.mp4", "1 2", std::nullopt, 10, 7},
        ReceivedCase{"quotes_and_backslashes", R"(a "quoted" \name\ 'x'.mp4)", std::nullopt, R"("5")", 10, 7},
        ReceivedCase{"shell_characters", "$(rm -rf x); `y` | z > w & *.mp4", "$HOME", "*", 12, 9},
        ReceivedCase{"non_ascii", "Ünïcödé 視頻 🎬.mp4", std::nullopt, std::nullopt, 8, 5},
        ReceivedCase{"newline_and_empty", "line one\nline two", "", "", 12, 9}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace lumaflick
