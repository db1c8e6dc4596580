#include "video/shape_probe.hpp"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "scripted_decoder_setup.hpp"
#include "video/process.hpp"
#include "test_env.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;

TEST(ReadPpmSize, TheSizeOnceItsHeaderIsWhole)
{
    using Size = std::optional<DisplaySize>;
    const struct {
        std::string_view bytes;
        bool whole;
        Size size;  // nullopt: not a PPM header
    } cases[] = {
        {"P6\n1280 720\n255\n\x82", true, DisplaySize{1280, 720}},
        {"P5 853\t480 255 ", true, DisplaySize{853, 480}},
        {"P6\n# made by hand\n720 1280\n", true, DisplaySize{720, 1280}},
        {"P6\n720 1280", false, {}},
        {"P6\n# a comment without its end", false, {}},
        {"P", false, {}},
        {"", false, {}},
        {"X6\n1 1\n", true, {}},
        {"P3\n1 1\n", true, {}},
        {"P6\n0 720\n", true, {}},
        {"P6\n12a 720\n", true, {}},
        {"P6\n99999999999 1\n", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        const auto read = read_ppm_size(
            {reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()});
        ASSERT_EQ(read.has_value(), c.whole);
        if (!read) continue;
        ASSERT_EQ(read->has_value(), c.size.has_value());
        if (c.size) {
            EXPECT_EQ(**read, *c.size);
        }
    }
}

Result<DisplaySize> probe(const std::string& ffmpeg, const std::string& video, std::chrono::milliseconds bound)
{
    asio::io_context context;
    std::optional<Result<DisplaySize>> outcome;
    const auto run = [&]() -> asio::awaitable<void> { outcome = co_await probe_display_size(ffmpeg, video, bound); };
    asio::co_spawn(context, run(), [](std::exception_ptr) {});
    context.run();
    return std::move(*outcome);
}

// A stand-in that writes no picture: why is in the error.
TEST(ProbeDisplaySize, SaysWhyThereIsNoShape)
{
    const struct {
        const char* plan;
        std::string error;
    } cases[] = {
        {"exit 1\n", "ffmpeg gave no frame (exit status 1)"},
        {"frame 10 7\n", "ffmpeg's frame is not a PPM image"},
        {"hang 5000\n", "ffmpeg gave no frame within 0.3 s"},
    };
    for (const auto& c : cases) {
        test::ScriptedDecoderSetup setup(c.plan);
        const auto size = probe(test::ScriptedDecoderSetup::program(), "clip.mp4", 300ms);
        ASSERT_FALSE(size) << c.plan;
        EXPECT_EQ(size.error().text(), c.error);
    }
}

// Makes a clip of the input with these extra arguments; false without ffmpeg.
bool make_clip(const std::string& path, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{"-nostdin", "-loglevel", "error"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.insert(arguments.end(), {"-y", path});
    auto started = start_process("ffmpeg", arguments, {.out = Stdio::pipe, .err = Stdio::inherit});
    if (!started) return false;
    std::array<std::byte, 256> sink{};
    for (;;) {
        auto n = started->output.read(sink);
        if (!n || *n == 0) break;
    }
    return true;
}

// The sample aspect ratio and the rotation are applied, as ffmpeg plays the video.
TEST(ProbeDisplaySize, RealFfmpegGivesTheDisplaySize)
{
    const test::TempDir dir;
    const std::string wide = (dir.path() / "wide.mp4").string();
    const std::vector<std::string> source{"-f", "lavfi", "-i", "testsrc=size=1280x720:rate=10", "-t", "1",
                                          "-pix_fmt", "yuv420p"};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), source.begin(), source.end());
        return extra;
    };
    const struct {
        const char* name;
        std::vector<std::string> extra;
        DisplaySize size;
    } cases[] = {
        {"wide.mp4", source, {1280, 720}},
        {"dvd.mp4", with({"-vf", "scale=720:480,setsar=32/27"}), {853, 480}},
        // Rotation is a tag of the container, set on a copy.
        {"turned.mp4", {"-i", wide, "-c", "copy", "-metadata:s:v:0", "rotate=90"}, {720, 1280}},
    };
    for (const auto& c : cases) {
        const std::string clip = (dir.path() / c.name).string();
        if (!make_clip(clip, c.extra)) GTEST_SKIP() << "ffmpeg is not installed";
        const auto size = probe("ffmpeg", clip, 10s);
        ASSERT_TRUE(size) << c.name << ": " << size.error().debug();
        EXPECT_EQ(*size, c.size) << c.name;
    }
    const auto missing = probe("ffmpeg", (dir.path() / "none.mp4").string(), 10s);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text(), "ffmpeg gave no frame (exit status 1)");
}

}  // namespace
}  // namespace lumaflick
