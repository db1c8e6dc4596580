#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace lumaflick {

// The command's definition: names, texts and the options in the order in which
// help lists them. The parser, the help and the error texts all read it.

inline constexpr std::string_view COMMAND_NAME = "lumaflick";
inline constexpr std::string_view COMMAND_VERSION = LUMAFLICK_VERSION;
inline constexpr std::string_view ABOUT = "LFS InSim video player...";
inline constexpr std::string_view LONG_ABOUT =
    "LFS InSim video player...\n\nRequires ffmpeg to function properly, and optiononaly ffplay, both findable on "
    "official site, as of time of writing: https://ffmpeg.org/";

// Named after the fields of Args that they fill.
enum class OptionId {
    insim_address, password, rate, ffmpeg_path, ffplay_path, video_path, s, t, subpixels, delay, colour, compact, guests,
    av_offset, resolution, keep_aspect, position, row_height, first_click_id, bandwidth, quiet, subtitles,
    subtitle_track
};

enum class ValueType { socket_address_v4, text, u64, i64, position, resolution, flag };

struct OptionDef {
    OptionId id;
    char short_name;               // '\0' when there is none
    std::string_view long_name;    // empty when there is none
    std::string_view value_name;
    ValueType type;
    std::size_t values;            // per occurrence; 0 for a flag
    bool repeatable;
    bool required;
    std::string_view default_value;  // values separated by blanks; empty when there is none
    std::string_view help;
    std::string_view long_help;      // empty: the short help serves
    std::string_view alias = {};     // a second long name
};

inline constexpr std::array<OptionDef, 23> OPTIONS{{
    {OptionId::insim_address, 'a', "insim-address", "INSIM_ADDRESS", ValueType::socket_address_v4, 1, false, false,
     "127.0.0.1:11000", "Address to InSim protocol TCP IPv4 port", ""},
    {OptionId::password, 'p', "password", "PASSWORD", ValueType::text, 1, false, true, "", "Password to lfs instance",
     ""},
    {OptionId::rate, 'r', "rate", "RATE", ValueType::u64, 1, false, false, "30", "Video playback rate",
     "Video playback rate.\n\nThis value now works so quirky, you just have to test your case."},
    {OptionId::ffmpeg_path, 'f', "ffmpeg", "FFMPEG_PATH", ValueType::text, 1, false, false, "ffmpeg", "Path to ffmpeg",
     ""},
    {OptionId::ffplay_path, '\0', "ffplay", "FFPLAY_PATH", ValueType::text, 1, false, false, "", "Path to ffplay",
     "Path to ffplay.\n\nIf given, there's a chance sound will play along."},
    {OptionId::video_path, 'v', "video", "VIDEO_PATH", ValueType::text, 1, false, true, "", "Path to video",
     "Path to video.\n\nLater on supplied to ffmpeg."},
    {OptionId::s, 's', "", "S", ValueType::text, 1, false, false, "", "Skip forward video. FFmpeg time syntax",
     "Skip forward video. FFmpeg time syntax.\n\nThe equivlaent of pre-input -ss ffmpeg param."},
    {OptionId::t, 't', "", "T", ValueType::text, 1, false, false, "", "Duration of playback. FFmpeg time syntax",
     "Duration of playback. FFmpeg time syntax.\n\nThe equivlaent of post-inputs -t ffmpeg param."},
    {OptionId::subpixels, '\0', "subpixels", "CHARACTER/S", ValueType::text, 4, true, false, "^0_ ^3_ ^6_ ^7_",
     "Determines display outlook",
     "Determines display outlook.\n\nMore specificly, how the grayscaled picture pixels will translate to button "
     "text.\n\nFrom lowest luminace to highest."},
    {OptionId::delay, '\0', "delay", "microseconds", ValueType::u64, 1, false, false, "",
     "Optional delay between program start and playback start",
     "Optional delay between program start and playback start.\n\nApplicable if you're afraid that you won't "
     "ALT+TAB fast enought to see show right as it starts."},
    {OptionId::colour, '\0', "colour", "", ValueType::flag, 0, false, false, "",
     "Show the video in LFS's eight colours, dithered",
     "Show the video in LFS's eight colours, dithered.\n\nAlso --color. ffmpeg delivers RGB frames; each pixel "
     "becomes ^0 to ^7 by ordered dithering. Cannot be combined with --subpixels.",
     "color"},
    {OptionId::compact, '\0', "compact", "", ValueType::flag, 0, false, false, "",
     "Send each button at its shortest size",
     "Send each button at its shortest size.\n\nRepeated colour codes within a line are left out and each button "
     "packet is cut to its text, which about halves the bytes sent; recommended for hosts with guests."},
    {OptionId::guests, '\0', "guests", "", ValueType::flag, 0, false, false, "",
     "Show the video to the host's guests too, even when LFS is at 127.0.0.1",
     "Show the video to the host's guests too, even when LFS is at 127.0.0.1.\n\nAt 127.0.0.1 the buttons are "
     "otherwise local ones, seen only on the screen of the computer running LFS (SHIFT+B); with this flag they are "
     "host buttons, seen by every connection to the host (SHIFT+I)."},
    {OptionId::av_offset, '\0', "av-offset", "MS", ValueType::i64, 1, false, false, "",
     "Play the sound MS milliseconds later (negative: earlier)",
     "Play the sound MS milliseconds later (negative: earlier).\n\nA sound path slower than usual, such as "
     "Bluetooth headphones (100-250 ms late), needs the sound earlier: --av-offset=-150 (a negative value is "
     "attached with '='). At most 10000 either way."},
    {OptionId::resolution, '\0', "resolution", "COLSxROWS", ValueType::resolution, 1, false, false, "80x30",
     "The picture's pixels: COLS a row, ROWS rows",
     "The picture's pixels: COLS a row, ROWS rows.\n\nffmpeg scales the video to them. A row of more than 80 "
     "pixels is split into buttons of 80 side by side; a pixel is half a row height wide. Without --row-height the "
     "rows are as tall as LFS's limits allow, up to 6 units: 160x60 gives 3, so it covers the same 240 by 180 units "
     "as 80x30 with four times the pixels. 240x80 needs --first-click-id 0, at most 240 buttons in all. Frames of "
     "this size are always read whole."},
    {OptionId::keep_aspect, '\0', "keep-aspect", "", ValueType::flag, 0, false, false, "",
     "Keep the video's shape: the largest picture of it that fits, centred",
     "Keep the video's shape: the largest picture of it that fits, centred.\n\nThe video's display shape (its "
     "sample aspect ratio and rotation applied) is learnt from one frame that ffmpeg decodes before the playback. "
     "The picture then fills the --resolution box in one direction and is centred in the other; the bars around it "
     "are no buttons at all. A video whose shape cannot be learnt fills the whole box."},
    {OptionId::position, '\0', "position", "L,T", ValueType::position, 1, false, false, "0,0",
     "Where the picture's top-left corner goes, in LFS's button units",
     "Where the picture's top-left corner goes, in LFS's button units.\n\nThe screen is 200 by 200 units; 100,0 "
     "puts a half-size picture (--row-height 3) in the top right corner."},
    {OptionId::row_height, '\0', "row-height", "H", ValueType::u64, 1, false, false, "6",
     "Each row's height in button units, 1 to 6",
     "Each row's height in button units, 1 to 6.\n\nA pixel is half as wide, so the picture keeps its "
     "proportions: 3 gives half the size. With --resolution and without this option, the largest height at which "
     "the picture fits LFS's screen."},
    {OptionId::first_click_id, '\0', "first-click-id", "N", ValueType::u64, 1, false, false, "1",
     "The picture's buttons use ClickIDs from N on, one a button (N to N + 29 at 80x30)",
     "The picture's buttons use ClickIDs from N on, one a button (N to N + 29 at 80x30).\n\nFor running beside other "
     "InSim programs, or a second player: each needs ClickIDs of its own, within 0-239. A --resolution with rows "
     "wider than 80 pixels needs more: 160x60 takes N to N + 119."},
    {OptionId::bandwidth, '\0', "bandwidth", "B", ValueType::u64, 1, false, false, "",
     "Send at most B bytes of buttons a second, to each guest",
     "Send at most B bytes of buttons a second, to each guest.\n\nA host sends every button to every guest, so "
     "each guest costs the host the whole stream. Within the budget the rows that look most wrong and have waited "
     "longest go first; the others follow as the budget allows, so a moving picture lags and a still one becomes "
     "exact. A row split into several buttons competes button by button. From 252 (one button) to 1000000000. "
     "Best with --compact: at a quarter of the unlimited stream the "
     "picture follows the video more closely than at a lowered --rate of the same bytes."},
    {OptionId::quiet, '\0', "quiet", "", ValueType::flag, 0, false, false, "",
     "Ask ffmpeg and ffplay for errors only, and keep one status line",
     "Ask ffmpeg and ffplay for errors only, and keep one status line.\n\nffmpeg's banner and progress line are left "
     "out. On a terminal one line of lumaflick's own, rewritten in place, shows the position, playing or paused, "
     "the frames shown and skipped, the bytes a second to LFS and the answer to the last key or /o command; it is "
     "cleared before any other output and at the end."},
    {OptionId::subtitles, '\0', "subtitles", "FILE", ValueType::text, 1, false, false, "",
     "Show the subtitles of FILE under the picture",
     "Show the subtitles of FILE under the picture.\n\nAn .srt file is read directly; any other (.vtt, .ass, a video "
     "with a text track) through ffmpeg. Two lines as wide as the picture, under it or, without room there, above "
     "it, with the two ClickIDs after the picture's. Cannot be combined with --subtitle-track."},
    {OptionId::subtitle_track, '\0', "subtitle-track", "N", ValueType::u64, 1, false, false, "",
     "Show the video's subtitle track N (0 is the first) under the picture",
     "Show the video's subtitle track N (0 is the first) under the picture.\n\nRead through ffmpeg before playback; "
     "tracks of pictures (DVD, Blu-ray) cannot be shown. Cannot be combined with --subtitles."},
}};

inline constexpr bool options_in_id_order()
{
    for (std::size_t i = 0; i < OPTIONS.size(); ++i) {
        if (static_cast<std::size_t>(OPTIONS[i].id) != i) return false;
    }
    return true;
}
static_assert(options_in_id_order());

}  // namespace lumaflick
