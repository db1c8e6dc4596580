#include "control/controls.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "video/decoder.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> text(const char* value)
{
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

TEST(MediaTime, ReadsWhatFfmpegReads)
{
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases{
        {"90", 90'000'000},         {"1:30", 90'000'000},     {"0:01:30.5", 90'500'000}, {"100:00:00", 360'000'000'000},
        {"1.25", 1'250'000},        {"1.1234567", 1'123'456}, {"1500ms", 1'500'000},     {"7us", 7},
        {"2s", 2'000'000},          {"-3", -3'000'000},       {"01:02", 62'000'000},     {"1:60", std::nullopt},
        {"1:2:3:4", std::nullopt},  {"", std::nullopt},       {"abc", std::nullopt},     {"5x", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [input, micros] : cases) {
        SCOPED_TRACE(input);
        const auto read = parse_media_time(input);
        EXPECT_EQ(read.has_value(), micros.has_value());
        if (read && micros) {
            EXPECT_EQ(read->count(), *micros);
        }
    }
    EXPECT_EQ(ffmpeg_time(MediaTime(90'500'000)), "90.500000");
    EXPECT_EQ(ffmpeg_time(MediaTime(-1'500)), "-0.001500");
    // A frame's time floored to the microsecond still shows as the frame's.
    EXPECT_EQ(readable_time(MediaTime(8'099'999)), "0:08.1");
    EXPECT_EQ(readable_time(MediaTime(3'723'000'000)), "1:02:03.0");
}

TEST(Command, ReadsOursAndLeavesTheRest)
{
    using K = Command::Kind;
    const std::vector<std::pair<const char*, Heard>> cases{
        {"pause", Command{K::pause}},
        {"/o PLAY", Command{K::play}},
        {"  Stop ", Command{K::stop}},
        {"help", Command{K::help}},
        {"seek +10", Command{K::seek, true, 10s}},
        {"seek -1:30", Command{K::seek, true, -90s}},
        {"seek 0:01:30.5", Command{K::seek, false, 90'500ms}},
        {"seek", Hint{"lumaflick: seek to where? /o seek +10, /o seek -10, /o seek 1:30"}},
        {"seek soon", Hint{"lumaflick: seek to where? /o seek +10, /o seek -10, /o seek 1:30"}},
        {"seek --5", Hint{"lumaflick: seek to where? /o seek +10, /o seek -10, /o seek 1:30"}},
        {"pause now", Hint{"lumaflick: pause takes nothing after it; /o help lists the commands"}},
        {"pauses", NotOurs{}},
        {"/oplay", NotOurs{}},
        {"kick bob", NotOurs{}},
        {"", NotOurs{}},
    };
    for (const auto& [input, heard] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(read_command(input), heard);
    }
}

// The runs a playback starts: ffmpeg's and ffplay's times for the first run,
// and for one from 12 s, with and without -s/-t and an offset.
TEST(Timeline, TimesEachRun)
{
    struct Case {
        const char *s, *t;
        std::int64_t offset_ms;
        RunTimes first_decoder;
        std::optional<SoundStart> first_sound, later_sound;
        RunTimes later_decoder;
    };
    const std::vector<Case> cases{
        {nullptr, nullptr, 0, {}, SoundStart{SOUND_START_DELAY, {}, false},
         SoundStart{SOUND_START_DELAY, {"12.000000", {}}, true}, {"12.000000", {}}},
        // The end stays where -s and -t put it.
        {"10", "0:20", 0, {"10", "0:20"}, SoundStart{SOUND_START_DELAY, {"10", "0:20"}, false},
         SoundStart{SOUND_START_DELAY, {"12.000000", "18.000000"}, true}, {"12.000000", "18.000000"}},
        {nullptr, nullptr, 250, {}, SoundStart{SOUND_START_DELAY + 250ms, {}, false},
         SoundStart{SOUND_START_DELAY + 250ms, {"12.000000", {}}, true}, {"12.000000", {}}},
        // Earlier than ffmpeg can start: ffplay starts with it, further on.
        {nullptr, "12.1", -(SOUND_START_DELAY.count() + 100), {{}, "12.1"}, SoundStart{0ms, {"0.100000", "12.000000"}, true}, std::nullopt,
         {"12.000000", "0.100000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset_ms));
        const Timeline timeline(text(c.s), text(c.t), 30);
        EXPECT_EQ(timeline.decoder_times(std::nullopt), c.first_decoder);
        EXPECT_EQ(timeline.sound_start(std::nullopt, std::chrono::milliseconds(c.offset_ms)), c.first_sound);
        EXPECT_EQ(timeline.decoder_times(12s), c.later_decoder);
        EXPECT_EQ(timeline.sound_start(12s, std::chrono::milliseconds(c.offset_ms)), c.later_sound);
    }
    EXPECT_EQ(ffplay_arguments("v.mp4", "12.000000", std::nullopt, true),
              (std::vector<std::string>{"-ss", "12.000000", "-i", "v.mp4", "-vn", "-showmode", "0", "-af",
                                        "atrim=start=12.000000"}));
}

// The picture's clock: the time of the frame shown, from -s and after a seek.
TEST(Timeline, ShownAtIsTheLastFrameShown)
{
    Timeline timeline(std::string("5"), std::nullopt, 30);
    for (const auto& [shown, at] : {std::pair{0, 5'000'000us}, {1, 5'000'000us}, {2, 5'033'333us}, {31, 6'000'000us}}) {
        timeline.shown(static_cast<std::uint64_t>(shown));
        EXPECT_EQ(timeline.shown_at(), at) << shown;
    }
    timeline.run_from(12s);
    timeline.shown(4);
    EXPECT_EQ(timeline.shown_at(), 12'100'000us);
}

insim::IS_MSO typed(const std::string& text, std::uint8_t user_type = insim::MSO_O, std::uint8_t start = 0)
{
    insim::IS_MSO message;
    message.UserType = user_type;
    message.TextStart = start;
    std::copy(text.begin(), text.end(), message.Msg.begin());
    return message;
}

std::vector<std::string> replies(const Controls& controls)
{
    std::vector<std::string> texts;
    const auto bytes = controls.replies();
    for (std::size_t at = 0; at < bytes.size(); at += sizeof(insim::IS_MSL)) {
        insim::IS_MSL packet;
        std::memcpy(&packet, bytes.data() + at, sizeof packet);
        EXPECT_EQ(packet.Size * 4u, sizeof packet);
        texts.emplace_back(insim::field_text(packet.Msg));
    }
    return texts;
}

// A playback from -s 5 -t 10 whose run from 5 s has shown 30 frames, then
// the commands of one read from LFS: what is wanted, and what is answered.
TEST(Controls, ObeysAndAnswers)
{
    struct Case {
        std::vector<insim::IS_MSO> heard;
        bool paused, stop;
        std::optional<std::int64_t> jump_s;
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases{
        {{typed("pause")}, true, false, {}, {"lumaflick: paused at 0:06.0"}},
        {{typed("pause"), typed("/o pause")}, true, false, {}, {"lumaflick: paused at 0:06.0", "lumaflick: already paused at 0:06.0"}},
        {{typed("play")}, false, false, {}, {"lumaflick: already playing"}},
        {{typed("seek +3")}, false, false, 9, {"lumaflick: to 0:09.0"}},
        // Before the start is the start; the end ends the playback.
        {{typed("seek -1:00")}, false, false, 5, {"lumaflick: to 0:05.0"}},
        {{typed("seek 15")}, false, true, {}, {"lumaflick: past the end, stopping"}},
        // Paused, a seek moves where play goes on.
        {{typed("pause"), typed("seek 8"), typed("play")}, false, false, 8,
         {"lumaflick: paused at 0:06.0", "lumaflick: paused at 0:08.0", "lumaflick: playing from 0:08.0"}},
        {{typed("stop"), typed("play")}, false, true, {}, {"lumaflick: stopping"}},
        // TextStart is honoured; other programs' words and other kinds of message are not ours.
        {{typed("xx pause", insim::MSO_O, 3)}, true, false, {}, {"lumaflick: paused at 0:06.0"}},
        {{typed("pause", insim::MSO_USER), typed("pause", insim::MSO_O, 200), typed("kick")}, false, false, {}, {}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        Timeline timeline(std::string("5"), std::string("10"), 30);
        timeline.run_from(5s);
        timeline.shown(30);
        Controls controls(timeline);
        for (const auto& message : cases[i].heard) controls.hear(message);
        EXPECT_EQ(controls.paused(), cases[i].paused);
        EXPECT_EQ(controls.stop_wanted(), cases[i].stop);
        const auto jump = controls.take_jump();
        EXPECT_EQ(jump.has_value(), cases[i].jump_s.has_value());
        if (jump && cases[i].jump_s) {
            EXPECT_EQ(*jump, std::chrono::seconds(*cases[i].jump_s));
        }
        EXPECT_EQ(replies(controls), cases[i].answers);
    }
}

}  // namespace
}  // namespace lumaflick
