#include "cli/args.hpp"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

const std::string USAGE_TAIL = "\n\nUsage: lumaflick [OPTIONS] --password <PASSWORD> --video <VIDEO_PATH>\n\n"
                               "For more information, try '--help'.\n";

std::vector<std::string> command(std::vector<std::string> head, const std::vector<std::string>& tail)
{
    head.insert(head.begin(), "/opt/lf/lumaflick");
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Args defaults()
{
    Args args;
    args.insim_address = {{127, 0, 0, 1}, 11000};
    args.password = "pw";
    args.rate = 30;
    args.ffmpeg_path = "ffmpeg";
    args.video_path = "clip.mp4";
    args.subpixels = {"^0_", "^3_", "^6_", "^7_"};
    return args;
}

Args expect_args(const std::vector<std::string>& words)
{
    SCOPED_TRACE(testing::PrintToString(words));
    auto parsed = parse_args(words);
    if (auto* exit = std::get_if<ParseExit>(&parsed)) {
        ADD_FAILURE() << "status " << exit->status << ": " << exit->err << exit->out;
        return {};
    }
    return std::get<Args>(std::move(parsed));
}

ParseExit expect_exit(const std::vector<std::string>& words)
{
    SCOPED_TRACE(testing::PrintToString(words));
    auto parsed = parse_args(words);
    if (!std::holds_alternative<ParseExit>(parsed)) {
        ADD_FAILURE() << "parsed although it should not";
        return {-1, {}, {}};
    }
    return std::get<ParseExit>(std::move(parsed));
}

TEST(ParseArgs, PasswordAndVideoAloneGiveTheDefaults)
{
    const auto one_order = command({"-p", "pw", "-v", "clip.mp4"}, {});
    const auto other_order = command({"-v", "clip.mp4", "-p", "pw"}, {});
    for (const auto& words : {one_order, other_order}) {
        const Args args = expect_args(words);
        EXPECT_EQ(args, defaults());
        EXPECT_FALSE(args.ffplay_path);
        EXPECT_FALSE(args.s);
        EXPECT_FALSE(args.t);
        EXPECT_FALSE(args.delay);
    }
}

TEST(ParseArgs, AcceptedForms)
{
    const auto rate = [](std::uint64_t r) { return [r](Args& a) { a.rate = r; }; };
    const auto address = [](Args& a) { a.insim_address = {{192, 168, 1, 5}, 29999}; };
    const auto subpixels = [](std::vector<std::string> s) { return [s](Args& a) { a.subpixels = s; }; };
    const auto sized = [](std::size_t width, std::size_t rows, std::uint8_t height) {
        return [=](Args& a) {
            a.geometry.width = width;
            a.geometry.rows = rows;
            a.geometry.row_height = height;
            a.resolution = true;
        };
    };
    const struct {
        std::vector<std::string> words;  // after "-p pw -v clip.mp4"
        std::function<void(Args&)> change;
    } cases[] = {
        {{"-r", "25"}, rate(25)},
        {{"-r25"}, rate(25)},
        {{"-r=25"}, rate(25)},
        {{"--rate", "25"}, rate(25)},
        {{"--rate=25"}, rate(25)},
        {{"-r", "010"}, rate(10)},
        {{"-r", "+7"}, rate(7)},
        {{"--rate=18446744073709551615"}, rate(std::numeric_limits<std::uint64_t>::max())},
        {{"-a", "192.168.1.5:29999"}, address},
        {{"-a192.168.1.5:29999"}, address},
        {{"-a=192.168.1.5:29999"}, address},
        {{"--insim-address", "192.168.1.5:29999"}, address},
        {{"--insim-address=192.168.1.5:29999"}, address},
        {{"-a", "192.168.1.5:0029999"}, address},
        {{"-f", "/usr/bin/ffmpeg"}, [](Args& a) { a.ffmpeg_path = "/usr/bin/ffmpeg"; }},
        {{"--ffmpeg=C:\\ff mpeg.exe"}, [](Args& a) { a.ffmpeg_path = "C:\\ff mpeg.exe"; }},
        {{"--ffplay", "ffplay"}, [](Args& a) { a.ffplay_path = "ffplay"; }},
        {{"--ffplay="}, [](Args& a) { a.ffplay_path = ""; }},
        {{"-s", "00:01:30"}, [](Args& a) { a.s = "00:01:30"; }},
        {{"-t10"}, [](Args& a) { a.t = "10"; }},
        {{"--delay", "1500"}, [](Args& a) { a.delay = 1500; }},
        {{"--delay=0"}, [](Args& a) { a.delay = 0; }},
        {{"--subpixels", "a", "b", "c", "d"}, subpixels({"a", "b", "c", "d"})},
        {{"--subpixels=a", "b", "c", "d"}, subpixels({"a", "b", "c", "d"})},
        {{"--subpixels", "a", "b", "c", "d", "--subpixels", "e", "f", "g", "h"},
         subpixels({"a", "b", "c", "d", "e", "f", "g", "h"})},
        // Values as they stand: not split at commas, not read as an option.
        {{"--subpixels", "-", "[x,y]", "{}", ""}, subpixels({"-", "[x,y]", "{}", ""})},
        {{"--subpixels", "^0\xe2\x96\x88", "^3_", "^6_", "^7_"}, subpixels({"^0\xe2\x96\x88", "^3_", "^6_", "^7_"})},
        {{"--colour"}, [](Args& a) { a.colour = true; }},
        {{"--color"}, [](Args& a) { a.colour = true; }},
        {{"--compact"}, [](Args& a) { a.compact = true; }},
        {{"--compact", "--color", "-r5"}, [](Args& a) { a.compact = a.colour = true; a.rate = 5; }},
        {{"--guests"}, [](Args& a) { a.guests = true; }},
        {{"--quiet", "--colour"}, [](Args& a) { a.quiet = a.colour = true; }},
        {{"--av-offset=-10000"}, [](Args& a) { a.av_offset = -10'000; }},
        {{"--av-offset", "+150"}, [](Args& a) { a.av_offset = 150; }},
        // The top right quarter, and the last ClickIDs there are.
        {{"--position", "100,0", "--row-height", "3"}, [](Args& a) { a.geometry.left = 100; a.geometry.row_height = 3; }},
        {{"--position=200,20", "--first-click-id=210"},
         [](Args& a) { a.geometry.left = 200; a.geometry.top = 20; a.geometry.first_click_id = 210; }},
        {{"--row-height", "1", "--position", "0,170"}, [](Args& a) { a.geometry.row_height = 1; a.geometry.top = 170; }},
        // Without --row-height, the tallest rows that fit.
        {{"--resolution", "160x60"}, sized(160, 60, 3)},
        {{"--resolution=120x45"}, sized(120, 45, 4)},
        {{"--resolution", "160x90"}, sized(160, 90, 2)},
        {{"--resolution", "81x30"}, sized(81, 30, 4)},  // at 5 the 1-pixel button is half a unit
        {{"--resolution", "240x80", "--first-click-id", "0"},
         [=](Args& a) { sized(240, 80, 2)(a); a.geometry.first_click_id = 0; }},
        {{"--keep-aspect"}, [](Args& a) { a.keep_aspect = true; }},
        {{"--bandwidth", "252"}, [](Args& a) { a.bandwidth = 252; }},
        {{"--bandwidth=1000000000", "--colour"}, [](Args& a) { a.bandwidth = 1'000'000'000; a.colour = true; }},
        {{"--subtitles", "a b.srt"}, [](Args& a) { a.subtitles = "a b.srt"; }},
        {{"--subtitle-track=0"}, [](Args& a) { a.subtitle_track = 0; }},
        // The last ClickIDs there are; no room under the picture, so above it.
        {{"--subtitles=x.vtt", "--first-click-id", "208", "--position=0,20"},
         [](Args& a) { a.subtitles = "x.vtt"; a.geometry.first_click_id = 208; a.geometry.top = 20; }},
    };
    for (const auto& c : cases) {
        Args expected = defaults();
        c.change(expected);
        EXPECT_EQ(expect_args(command({"-p", "pw", "-v", "clip.mp4"}, c.words)), expected);
    }
}

TEST(ParseArgs, TextValueForms)
{
    const struct {
        std::vector<std::string> words;
        std::string password;
    } cases[] = {
        {{"-p", "secret"}, "secret"},
        {{"-psecret"}, "secret"},
        {{"-p=secret"}, "secret"},
        {{"-p==x"}, "=x"},
        {{"--password=a=b"}, "a=b"},
        {{"-p-x"}, "-x"},  // attached, so a "-" is part of the value
        {{"--password=-x"}, "-x"},
        {{"-p", "-"}, "-"},  // a lone "-" is a plain word
        {{"-p", ""}, ""},
        {{"-p="}, ""},
        {{"--password="}, ""},
        {{"-p", "p\xc3\xa4ss w\xc3\xb6rd"}, "p\xc3\xa4ss w\xc3\xb6rd"},
    };
    for (const auto& c : cases) {
        // The value must not swallow the word after it.
        Args expected = defaults();
        expected.password = c.password;
        EXPECT_EQ(expect_args(command(c.words, {"-v", "clip.mp4"})), expected);
    }
}

TEST(ParseArgs, UsageErrors)
{
    const struct {
        std::vector<std::string> words;  // after "-p pw -v clip.mp4"
        std::string error;
    } cases[] = {
        // Numbers and addresses: which texts parse is convert_test's; here, how
        // a refusal is worded for each option.
        {{"-r", "0x10"}, "invalid value '0x10' for '--rate <RATE>': invalid digit found in string"},
        {{"--rate=-5"}, "invalid value '-5' for '--rate <RATE>': invalid digit found in string"},
        {{"-r", ""}, "invalid value '' for '--rate <RATE>': cannot parse integer from empty string"},
        {{"--rate="}, "invalid value '' for '--rate <RATE>': cannot parse integer from empty string"},
        {{"-r", "18446744073709551616"},
         "invalid value '18446744073709551616' for '--rate <RATE>': number too large to fit in target type"},
        {{"--delay", "0x5"}, "invalid value '0x5' for '--delay <microseconds>': invalid digit found in string"},
        // A rate of 0 would divide by zero in the frame pacing.
        {{"-r", "0"}, "invalid value '0' for '--rate <RATE>': the rate must be at least 1"},
        {{"-r=+000"}, "invalid value '+000' for '--rate <RATE>': the rate must be at least 1"},
        {{"-a", "localhost:29999"},
         "invalid value 'localhost:29999' for '--insim-address <INSIM_ADDRESS>': invalid IPv4 socket address syntax"},
        // A separate word starting with "-" is never a value.
        {{"-r", "-5"}, "a value is required for '--rate <RATE>' but none was supplied"},
        {{"-s", "-1"}, "a value is required for '-s <S>' but none was supplied"},
        {{"--ffplay", "--delay", "5"}, "a value is required for '--ffplay <FFPLAY_PATH>' but none was supplied"},
        {{"--delay"}, "a value is required for '--delay <microseconds>' but none was supplied"},
        {{"-t"}, "a value is required for '-t <T>' but none was supplied"},
        {{"--av-offset=10001"},
         "invalid value '10001' for '--av-offset <MS>': the offset must lie within -10000 and 10000 milliseconds"},
        {{"--av-offset=--5"}, "invalid value '--5' for '--av-offset <MS>': invalid digit found in string"},
        // Each of LFS's limits, told by the option that breaks it.
        {{"--first-click-id", "211"},
         "invalid value '211' for '--first-click-id <N>': the picture's ClickIDs 211 to 240 must stay within 0-239"},
        {{"--position", "201,0"}, "invalid value '201,0' for '--position <L,T>': L 201 must lie within 0-200"},
        {{"--position", "0,21"}, "invalid value '0,21' for '--position <L,T>': the last row would reach T + H = 201, "
                                 "but every row's T and T + H must stay within 0-200"},
        {{"--position", "0,0", "--row-height", "7"}, "invalid value '7' for '--row-height <H>': the row height must lie within 1-6"},
        {{"--row-height", "0"}, "invalid value '0' for '--row-height <H>': the row height must lie within 1-6"},
        // The size's limits, told by the option that the user set.
        {{"--resolution", "0x30"}, "invalid value '0x30' for '--resolution <COLSxROWS>': the picture must be at least "
                                   "1x1 pixels"},
        {{"--resolution", "160*60"}, "invalid value '160*60' for '--resolution <COLSxROWS>': expected COLSxROWS: two "
                                     "numbers with an x between, such as 160x60"},
        {{"--resolution", "240x80"}, "invalid value '240x80' for '--resolution <COLSxROWS>': the picture's ClickIDs 1 "
                                     "to 240 must stay within 0-239"},
        {{"--resolution", "160x60", "--first-click-id", "121"},
         "invalid value '121' for '--first-click-id <N>': the picture's ClickIDs 121 to 240 must stay within 0-239"},
        {{"--resolution", "1000x1000", "--first-click-id", "0"},
         "invalid value '1000x1000' for '--resolution <COLSxROWS>': the picture's 1000 rows of 13 buttons need more "
         "ClickIDs than 0-239 hold"},
        {{"--first-click-id", "18446744073709551615"},
         "invalid value '18446744073709551615' for '--first-click-id <N>': the picture's ClickIDs "
         "18446744073709551615 to 18446744073709551615 must stay within 0-239"},
        {{"--resolution", "160x60", "--row-height", "7"},
         "invalid value '7' for '--row-height <H>': the row height must lie within 1-6"},
        {{"--resolution", "160x60", "--row-height", "4"},
         "invalid value '4' for '--row-height <H>': the last row would reach T + H = 240, but every row's T and T + H "
         "must stay within 0-200"},
        {{"--resolution", "160x60", "--position", "0,141"},
         "invalid value '0,141' for '--position <L,T>': the last row would reach T + H = 201, but every row's T and "
         "T + H must stay within 0-200"},
        {{"--resolution", "161x60", "--row-height", "3"},
         "invalid value '3' for '--row-height <H>': the last button of a row would start at L = 240, but every "
         "button's L must lie within 0-200"},
        {{"--resolution", "160x60", "--position", "200,0"},
         "invalid value '200,0' for '--position <L,T>': the last button of a row would start at L = 240, but every "
         "button's L must lie within 0-200"},
        {{"--resolution", "81x30", "--row-height", "3"},
         "invalid value '3' for '--row-height <H>': a button of 1 pixel at row height 3 would not be whole units "
         "wide: an odd number of pixels in a button needs an even row height"},
        {{"--resolution", "81x101"}, "invalid value '81x101' for '--resolution <COLSxROWS>': a button of 1 pixel at "
                                     "row height 1 would not be whole units wide: an odd number of pixels in a button "
                                     "needs an even row height"},
        {{"--bandwidth", "251"}, "invalid value '251' for '--bandwidth <B>': the budget must lie within 252 (one "
                                 "button) and 1000000000 bytes a second"},
        {{"--bandwidth", "1000000001"}, "invalid value '1000000001' for '--bandwidth <B>': the budget must lie within "
                                        "252 (one button) and 1000000000 bytes a second"},
        {{"--bandwidth", "5000", "--subpixels", "a", "b\n", "c", "d"},
         "the argument '--bandwidth <B>' cannot be used with glyph strings that hold a line feed or end in a carriage "
         "return"},
        {{"--subtitles", "a.srt", "--subtitle-track", "1"},
         "the argument '--subtitles <FILE>' cannot be used with '--subtitle-track <N>'"},
        {{"--subtitle-track", "1", "--first-click-id", "209"},
         "invalid value '209' for '--first-click-id <N>': the subtitles' ClickIDs 239 and 240 must stay within 0-239"},
        {{"--subtitle-track", "-1"}, "a value is required for '--subtitle-track <N>' but none was supplied"},
        {{"--subtitle-track", "first"}, "invalid value 'first' for '--subtitle-track <N>': invalid digit found in string"},
        {{"--subtitles", "a", "--subtitles", "b"}, "the argument '--subtitles <FILE>' cannot be used multiple times"},
        {{"--subtitles", "\xff.srt"}, "invalid value '\xef\xbf\xbd.srt' for '--subtitles <FILE>': invalid UTF-8"},
        {{"--position", "100"},
         "invalid value '100' for '--position <L,T>': expected L,T: two numbers with a comma between, such as 100,0"},
        {{"--position", "1,2,3"},
         "invalid value '1,2,3' for '--position <L,T>': expected L,T: two numbers with a comma between, such as 100,0"},
        // --subpixels counts
        {{"--subpixels", "a", "b", "c"},
         "4 values required by '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> <CHARACTER/S>'; only 3 were "
         "provided"},
        {{"--subpixels=a"},
         "4 values required by '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> <CHARACTER/S>'; only 1 was "
         "provided"},
        {{"--subpixels", "a", "b", "-c", "d"},
         "4 values required by '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> <CHARACTER/S>'; only 2 were "
         "provided"},
        {{"--subpixels"},
         "a value is required for '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> <CHARACTER/S>' but none was "
         "supplied"},
        {{"--subpixels", "a", "b", "c", "d", "e"}, "unexpected argument 'e' found"},
        // Repetitions
        {{"-r", "25", "-r", "30"}, "the argument '--rate <RATE>' cannot be used multiple times"},
        {{"-r", "25", "--rate=25"}, "the argument '--rate <RATE>' cannot be used multiple times"},
        {{"-p", "again"}, "the argument '--password <PASSWORD>' cannot be used multiple times"},
        {{"-a", "1.2.3.4:5", "-a", "1.2.3.4:5"},
         "the argument '--insim-address <INSIM_ADDRESS>' cannot be used multiple times"},
        {{"-s", "1", "-s", "2"}, "the argument '-s <S>' cannot be used multiple times"},
        {{"--ffplay", "a", "--ffplay", "b"}, "the argument '--ffplay <FFPLAY_PATH>' cannot be used multiple times"},
        {{"--delay", "1", "--delay", "1"}, "the argument '--delay <microseconds>' cannot be used multiple times"},
        {{"--colour", "--color"}, "the argument '--colour' cannot be used multiple times"},
        {{"--compact", "--compact"}, "the argument '--compact' cannot be used multiple times"},
        {{"--quiet", "--quiet"}, "the argument '--quiet' cannot be used multiple times"},
        {{"--quiet=1"}, "unexpected value '1' for '--quiet' found"},
        // Flags
        {{"--compact=yes"}, "unexpected value 'yes' for '--compact' found"},
        {{"--color="}, "unexpected value '' for '--color' found"},
        {{"--compact", "yes"}, "unexpected argument 'yes' found"},
        {{"--color", "--subpixels", "a", "b", "c", "d"},
         "the argument '--colour' cannot be used with '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> "
         "<CHARACTER/S>'"},
        // Unknown words
        {{"-i", "1.2.3.4:5"}, "unexpected argument '-i' found"},
        {{"--insim", "1.2.3.4:5"}, "unexpected argument '--insim' found"},
        {{"--Rate", "5"}, "unexpected argument '--Rate' found"},
        {{"-S", "5"}, "unexpected argument '-S' found"},
        {{"--s", "5"}, "unexpected argument '--s' found"},
        {{"--subpixel", "a", "b", "c", "d"}, "unexpected argument '--subpixel' found"},
        {{"stray"}, "unexpected argument 'stray' found"},
        {{"--"}, "unexpected argument '--' found"},
        {{"---x"}, "unexpected argument '---x' found"},
        {{"-5"}, "unexpected argument '-5' found"},
        {{"--help=yes"}, "unexpected value 'yes' for '--help' found"},
        // Text that is not UTF-8, shown with replacement characters.
        {{"--ffplay", "\xff"}, "invalid value '\xef\xbf\xbd' for '--ffplay <FFPLAY_PATH>': invalid UTF-8"},
        {{"-s", "\xed\xa0\x80"},
         "invalid value '\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd' for '-s <S>': invalid UTF-8"},
        {{"--subpixels", "a", "b", "\xc0\xaf", "d"},
         "invalid value '\xef\xbf\xbd\xef\xbf\xbd' for '--subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> "
         "<CHARACTER/S>': invalid UTF-8"},
        {{"--\xff"}, "unexpected argument '--\xef\xbf\xbd' found"},
    };
    for (const auto& c : cases) {
        const ParseExit exit = expect_exit(command({"-p", "pw", "-v", "clip.mp4"}, c.words));
        EXPECT_EQ(exit.status, 2);
        EXPECT_EQ(exit.out, "");
        EXPECT_EQ(exit.err, "error: " + c.error + USAGE_TAIL);
    }
}

TEST(ParseArgs, MissingRequiredOptionsAreNamedTogether)
{
    const struct {
        std::vector<std::string> words;
        std::string missing;
    } cases[] = {
        {{}, "\n  --password <PASSWORD>\n  --video <VIDEO_PATH>"},
        {{"-r", "5", "-a", "1.2.3.4:5"}, "\n  --password <PASSWORD>\n  --video <VIDEO_PATH>"},
        {{"-p", "pw"}, "\n  --video <VIDEO_PATH>"},
        {{"--video=v"}, "\n  --password <PASSWORD>"},
    };
    for (const auto& c : cases) {
        const ParseExit exit = expect_exit(command(c.words, {}));
        EXPECT_EQ(exit.status, 2);
        EXPECT_EQ(exit.err, "error: the following required arguments were not provided:" + c.missing + USAGE_TAIL);
    }
}

TEST(ParseArgs, InvalidUtf8PasswordAndVideoAreRefused)
{
    for (const auto& words : {command({"-p", "p\xe9", "-v", "v"}, {}), command({"-p", "pw", "-v", "v\xe9"}, {})}) {
        const ParseExit exit = expect_exit(words);
        EXPECT_EQ(exit.status, 2);
        EXPECT_NE(exit.err.find("': invalid UTF-8\n"), std::string::npos) << exit.err;
    }
}

TEST(ParseArgs, HelpAndVersionGoToStandardOutput)
{
    const struct {
        std::vector<std::string> words;
        std::string kind;
    } cases[] = {
        {{"-V"}, "version"},
        {{"--version"}, "version"},
        {{"-h"}, "short"},
        {{"--help"}, "long"},
        // They end the parse where they stand, before anything after them or any check.
        {{"-p", "pw", "-V"}, "version"},
        {{"-hV"}, "short"},
        {{"-Vh"}, "version"},
        {{"-r", "0", "-h"}, "short"},
        {{"-h", "--bogus"}, "short"},
        {{"-r", "1", "-r", "2", "--help", "-x"}, "long"},
    };
    for (const auto& c : cases) {
        const ParseExit exit = expect_exit(command(c.words, {}));
        EXPECT_EQ(exit.status, 0);
        EXPECT_EQ(exit.err, "");
        if (c.kind == "version") {
            EXPECT_EQ(exit.out, "lumaflick " LUMAFLICK_VERSION "\n");
        } else {
            EXPECT_TRUE(exit.out.starts_with("LFS InSim video player...\n\n")) << exit.out;
            EXPECT_NE(exit.out.find("Usage: lumaflick [OPTIONS] --password <PASSWORD> --video <VIDEO_PATH>\n"),
                      std::string::npos);
            const bool long_texts = exit.out.find("From lowest luminace to highest.") != std::string::npos;
            EXPECT_EQ(long_texts, c.kind == "long") << exit.out;
        }
    }
}

// Each option's flags, in table order, and the texts that the help must carry.
TEST(ParseArgs, HelpListsEveryOptionInOrderWithDefaults)
{
    const std::vector<std::string> in_order = {
        "-a, --insim-address <INSIM_ADDRESS>", "-p, --password <PASSWORD>", "-r, --rate <RATE>",
        "-f, --ffmpeg <FFMPEG_PATH>", "    --ffplay <FFPLAY_PATH>", "-v, --video <VIDEO_PATH>", "-s <S>", "-t <T>",
        "    --subpixels <CHARACTER/S> <CHARACTER/S> <CHARACTER/S> <CHARACTER/S>", "    --delay <microseconds>",
        "    --colour", "    --compact", "    --guests", "    --av-offset <MS>", "    --resolution <COLSxROWS>",
        "    --keep-aspect", "    --position <L,T>", "    --row-height <H>",
        "    --first-click-id <N>", "    --bandwidth <B>", "    --quiet", "    --subtitles <FILE>", "    --subtitle-track <N>",
        "-h, --help", "-V, --version",
    };
    const std::vector<std::string> both = {
        "[default: 127.0.0.1:11000]", "[default: 30]", "[default: ffmpeg]", "[default: ^0_ ^3_ ^6_ ^7_]",
        "[default: 0,0]", "[default: 6]", "[default: 1]",
    };
    const std::vector<std::string> short_only = {
        "Address to InSim protocol TCP IPv4 port", "Password to lfs instance", "Video playback rate",
        "Path to ffmpeg", "Path to ffplay", "Path to video", "Skip forward video. FFmpeg time syntax",
        "Duration of playback. FFmpeg time syntax", "Determines display outlook",
        "Optional delay between program start and playback start",
        "Show the video in LFS's eight colours, dithered", "Send each button at its shortest size",
    };
    const std::vector<std::string> long_only = {
        "Requires ffmpeg to function properly, and optiononaly ffplay, both findable on official site, as of time of "
        "writing: https://ffmpeg.org/",
        "This value now works so quirky, you just have to test your case.",
        "If given, there's a chance sound will play along.", "Later on supplied to ffmpeg.",
        "The equivlaent of pre-input -ss ffmpeg param.", "The equivlaent of post-inputs -t ffmpeg param.",
        "More specificly, how the grayscaled picture pixels will translate to button text.",
        "From lowest luminace to highest.",
        "Applicable if you're afraid that you won't ALT+TAB fast enought to see show right as it starts.",
        "Also --color. ffmpeg delivers RGB frames; each pixel becomes ^0 to ^7 by ordered dithering. Cannot be "
        "combined with --subpixels.",
        "Repeated colour codes within a line are left out and each button packet is cut to its text, which about "
        "halves the bytes sent; recommended for hosts with guests.",
    };
    for (const std::string flag : {"-h", "--help"}) {
        SCOPED_TRACE(flag);
        const std::string out = expect_exit(command({flag}, {})).out;
        std::size_t at = 0;
        for (const auto& entry : in_order) {
            const std::size_t found = out.find("\n  " + entry, at);
            ASSERT_NE(found, std::string::npos) << entry << " after position " << at << " in\n" << out;
            at = found + 1;
        }
        for (const auto& text : both) EXPECT_NE(out.find(text), std::string::npos) << text;
        for (const auto& text : short_only) EXPECT_NE(out.find(text), std::string::npos) << text;
        for (const auto& text : long_only) EXPECT_EQ(out.find(text) != std::string::npos, flag == "--help") << text;
    }
}

TEST(ParseArgs, ProgramNameIsTheLastPathComponent)
{
    const struct {
        std::vector<std::string> words;
        std::string usage;
    } cases[] = {
        {{"/usr/local/bin/lf", "-x"}, "Usage: lf [OPTIONS]"},
        {{"lf2", "-x"}, "Usage: lf2 [OPTIONS]"},
        {{"./bin/", "-x"}, "Usage: bin [OPTIONS]"},
        {{"", "-x"}, "Usage: lumaflick [OPTIONS]"},
        {{"/", "-x"}, "Usage: lumaflick [OPTIONS]"},
        {{"a/..", "-x"}, "Usage: lumaflick [OPTIONS]"},
        {{"/tmp/l\xff", "-x"}, "Usage: l\xef\xbf\xbd [OPTIONS]"},
        {{}, "Usage: lumaflick [OPTIONS]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words));
        auto parsed = parse_args(c.words);
        ASSERT_TRUE(std::holds_alternative<ParseExit>(parsed));
        EXPECT_NE(std::get<ParseExit>(parsed).err.find("\n\n" + c.usage + " --password"), std::string::npos)
            << std::get<ParseExit>(parsed).err;
    }
}

}  // namespace
}  // namespace lumaflick
