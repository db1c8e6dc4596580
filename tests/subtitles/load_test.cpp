#include "subtitles/load.hpp"

#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <gtest/gtest.h>

#include "scripted_decoder_setup.hpp"
#include "test_env.hpp"
#include "video/process.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using test::ScriptedDecoderSetup;

// The load, run on a runtime of its own (`cancel_after` cancels it as a
// signal would): each cue as "start text;", start in milliseconds; or the error.
std::string load(CueSource source, std::optional<std::chrono::milliseconds> cancel_after = std::nullopt)
{
    asio::io_context context;
    asio::cancellation_signal cancel;
    std::string out = "the load did not end";
    const auto run = [&]() -> asio::awaitable<void> {
        const auto cues = co_await load_cues(context.get_executor(), std::move(source));
        out = cues ? "" : "error: " + cues.error().text();
        for (const Cue& cue : cues ? *cues : Cues{}) out += std::to_string(cue.start.count() / 1000) + " " + cue.text + ";";
    };
    asio::co_spawn(context, run(), asio::bind_cancellation_slot(cancel.slot(), [](std::exception_ptr failure) {
                       if (failure) std::rethrow_exception(failure);
                   }));
    asio::steady_timer timer(context, cancel_after.value_or(0ms));
    if (cancel_after) timer.async_wait([&](std::error_code) { cancel.emit(asio::cancellation_type::terminal); });
    context.run_for(20s);
    return out;
}

TEST(LoadCues, AnSrtFileIsReadDirectlyOthersThroughFfmpeg)
{
    test::TempDir dir;
    const std::string srt = dir.write("f\xc3\xa9.SRT", "1\n00:00:01,000 --> 00:00:02,000\nHi\n").string();
    const std::string none = (dir.path() / "none.srt").string();
    const std::string big = dir.write("big.srt", std::string(MOST_CUE_BYTES + 1, 'x')).string();
    const std::string vtt = dir.write("a.vtt", "WEBVTT\n").string();
    const std::string cue = "say 00:00:01,500 --> 00:00:02,000\nsay <i>Hi</i>\n";
    const std::string complain = "complain Stream map '0:s:3' matches no streams.\ncomplain To ignore this, add a ";
    const struct {
        std::string plan;  // empty: ffmpeg does not run
        std::optional<std::string> file;
        std::optional<std::uint64_t> track;
        std::string expected;
    } cases[] = {
        {"", srt, {}, "1000 Hi;"},
        {"", none, {}, "error: cannot read the subtitles '" + none + "': No such file or directory"},
        {"", big, {}, "error: more than 10 MB in the subtitles '" + big + "'"},
        {"", {}, {}, ""},
        {cue, vtt, {}, "1500 Hi;"},
        {cue, {}, 2, "1500 Hi;"},
        {complain + "trailing '?' to the map.\nexit 1\n", {}, 3, "error: 'v.mkv' has no subtitle track 3"},
        {"complain Subtitle encoding currently only possible from text to text or bitmap to bitmap\nexit 1\n", {},
         0, "error: subtitle track 0 of 'v.mkv' holds pictures, not text"},
        {"complain v.mkv: Invalid data\nexit 1\n", {}, 0,
         "error: ffmpeg could not read subtitle track 0 of 'v.mkv': v.mkv: Invalid data"},
        {"exit 0\n", {}, 1, "error: no cue in subtitle track 1 of 'v.mkv'"},
        // Refused once it passes 10 MB, and ffmpeg is not waited for.
        {"say-bytes 10485761\nhang 60000\n", {}, 0, "error: more than 10 MB in subtitle track 0 of 'v.mkv'"},
    };
    for (const auto& c : cases) {
        const ScriptedDecoderSetup setup(c.plan);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(load({ScriptedDecoderSetup::program(), c.file, c.track, "v.mkv"}), c.expected) << c.plan;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s) << c.plan;
        const auto runs = setup.runs();
        ASSERT_EQ(runs.size(), c.plan.empty() ? 0u : 1u) << c.plan;
        for (const auto& run : runs) EXPECT_EQ(run.args, subtitle_arguments(c.file.value_or("v.mkv"), c.track.value_or(0)));
    }
    EXPECT_TRUE(load({"no-such-ffmpeg", {}, 0, "v.mkv"})
                    .starts_with("error: cannot start 'no-such-ffmpeg' to read subtitle track 0 of 'v.mkv': "));
}

TEST(LoadCues, CancellingEndsFfmpeg)
{
    const ScriptedDecoderSetup setup("say 1\nhang 60000\n");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(load({ScriptedDecoderSetup::program(), std::nullopt, 0, "v.mkv"}, 200ms),
              "error: reading subtitle track 0 of 'v.mkv' was interrupted");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

// A video with the track `subtitles` as its only subtitle track, made by the real ffmpeg.
std::string mux(const test::TempDir& dir, const std::string& subtitles, const std::string& codec)
{
    const std::string video = (dir.path() / (codec + ".mkv")).string();
    const std::vector<std::string> arguments{"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=5",
                                             "-i", subtitles, "-t", "2", "-map", "0:v", "-map", "1:s", "-c:s", codec,
                                             "-y", video};
    auto started = start_process("ffmpeg", arguments, {.out = Stdio::pipe, .err = Stdio::inherit});
    std::array<std::byte, 256> sink{};
    for (auto got = started ? started->output.read(sink) : Result<std::size_t>(0); got && *got > 0;) {
        got = started->output.read(sink);
    }
    return video;
}

TEST(LoadCues, RealFfmpegReadsWebVttAndTextTracksAndRefusesPictures)
{
    if (!check_program("ffmpeg")) GTEST_SKIP() << "ffmpeg is not on the search path";
    test::TempDir dir;
    const std::string vtt = dir.write("a.vtt", "WEBVTT\n\n00:00.500 --> 00:01.000 align:start\n<b>\xc4\x9b</b> &amp; x\n\n"
                                               "00:01.000 --> 00:02.000\none\ntwo\n").string();
    const std::string mkv = mux(dir, vtt, "srt");
    for (const CueSource& source : {CueSource{"ffmpeg", vtt, {}, "v"}, CueSource{"ffmpeg", {}, 0, mkv}}) {
        EXPECT_EQ(load(source), "500 \xc4\x9b & x;1000 one\ntwo;");
    }
    EXPECT_EQ(load({"ffmpeg", {}, 1, mkv}), "error: '" + mkv + "' has no subtitle track 1");
    // Two empty display sets of Blu-ray subtitles make a track of pictures.
    const std::string pictures = mux(dir, dir.write("a.sup", std::string("PG\0\0\0\0\0\0\0\0\x80\0\0PG\0\0\x10\0\0\0\0\0\x80\0\0", 26)).string(), "copy");
    EXPECT_EQ(load({"ffmpeg", {}, 0, pictures}), "error: subtitle track 0 of '" + pictures + "' holds pictures, not text");
}

}  // namespace
}  // namespace lumaflick
