#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line_windows.hpp"
#include "video/process_windows.hpp"

namespace lumaflick {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    std::wstring line;
    Words words;
};

TEST(SplitWindowsCommandLine, FollowsTheCRuntimeRules)
{
    const SplitCase cases[] = {
        {L"", {}},
        {L"prog", {"prog"}},
        {L"prog a  b\tc ", {"prog", "a", "b", "c"}},
        {L"\"C:\\Program Files\\lf.exe\" -p x", {"C:\\Program Files\\lf.exe", "-p", "x"}},
        // In the program word a backslash never escapes a quote.
        {L"\"C:\\dir\\\" a", {"C:\\dir\\", "a"}},
        {L"\"C:\\dir\\\"rest a", {"C:\\dir\\rest", "a"}},
        {L"C:\\my\" \"dir\\p q", {"C:\\my dir\\p", "q"}},
        {L"prog \"a b\" c", {"prog", "a b", "c"}},
        {L"prog \"\" x", {"prog", "", "x"}},
        {L"prog a\"b c\"d", {"prog", "ab cd"}},
        {L"prog a\\\\b \\\\", {"prog", "a\\\\b", "\\\\"}},
        {L"prog a\\\"b", {"prog", "a\"b"}},
        {L"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
        {L"prog \"a\\\\\"", {"prog", "a\\"}},
        {L"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
        {L"prog \"a\"\"b c\"", {"prog", "a\"b c"}},
        {L"prog \"\"\"", {"prog", "\""}},
        {L"prog \"open quote", {"prog", "open quote"}},
        {L"prog \x00e9t\x00e9 \x0436", {"prog", "\xc3\xa9t\xc3\xa9", "\xd0\xb6"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split_windows_command_line(c.line), c.words) << wide_to_wtf8(c.line);
    }
}

struct Wtf8Case {
    std::wstring text;
    std::string bytes;
};

TEST(WideToWtf8, EncodesPairsAsUtf8AndLoneSurrogatesOnTheirOwn)
{
    const Wtf8Case cases[] = {
        {L"", ""},
        {L"abc", "abc"},
        {L"\x00e9", "\xc3\xa9"},
        {L"\x20ac", "\xe2\x82\xac"},
        {L"\xd834\xdd1e", "\xf0\x9d\x84\x9e"},
        {L"\xdbff\xdfff", "\xf4\x8f\xbf\xbf"},
        {L"\xd800", "\xed\xa0\x80"},
        {L"a\xdc00z", "a\xed\xb0\x80z"},
        {L"\xd800\xd800\xdc00", "\xed\xa0\x80\xf0\x90\x80\x80"},
        {L"\xdc00\xd800", "\xed\xb0\x80\xed\xa0\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wide_to_wtf8(c.text), c.bytes);
    }
}

TEST(WideToWtf8, LoneSurrogatesAreNotValidUtf8)
{
    // The parser must refuse such a word, so the bytes must not decode.
    for (const std::wstring text : {L"\xd800", L"x\xdfff"}) {
        EXPECT_FALSE(utf8_to_wide(wide_to_wtf8(text)).has_value());
    }
}

struct QuoteCase {
    std::string argument;
    std::string quoted;
};

TEST(QuoteWindowsArgument, QuotesOnlyWhatNeedsIt)
{
    const QuoteCase cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"tab\there", "\"tab\there\""},
        {"new\nline", "\"new\nline\""},
        {"C:\\dir\\file", "C:\\dir\\file"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"C:\\my dir\\\\", "\"C:\\my dir\\\\\\\\\""},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quote_windows_argument(c.argument), c.quoted) << c.argument;
    }
}

// Awkward argument lists that must survive quoting and splitting unchanged.
const std::vector<Words> awkward_to_quote = {
    {},
    {""},
    {"", "", ""},
    {"C:\\Videos\\my clip.mp4"},
    {"C:\\Videos\\trailing dir\\", "C:\\no space\\\\"},
    {"\"", "\"\"", "\\\"", "\\\\\"", "a\\\\\\\"b"},
    {"quote \"inside\" words", "end with quote\""},
    {"\t", " ", "  lead and trail  ", "\n"},
    {"-vf", "scale=80:30,fps=30,format=gray", "-f", "rawvideo", "-"},
    {"\xc3\xa9t\xc3\xa9 vid\xc3\xa9o.mp4", "\xd0\xb2\xd0\xb8\xd0\xb4\xd0\xb5\xd0\xbe", "\xf0\x9f\x8e\xac"},
    {"^0_", "^3_", "%PATH%", "a&b|c<d>e", "!x!"},
};

TEST(WindowsCommandLine, RoundTripsThroughTheSplitter)
{
    for (const std::string program : {"ffmpeg", "C:\\Program Files\\ffmpeg\\bin\\ffmpeg.exe", "C:\\dir\\"}) {
        for (const auto& arguments : awkward_to_quote) {
            const auto line = windows_command_line(program, arguments);
            ASSERT_TRUE(line.has_value());
            const auto wide = utf8_to_wide(*line);
            ASSERT_TRUE(wide.has_value());
            Words expected{program};
            expected.insert(expected.end(), arguments.begin(), arguments.end());
            EXPECT_EQ(split_windows_command_line(*wide), expected) << *line;
        }
    }
}

TEST(WindowsCommandLine, RefusesWhatNoCommandLineCanCarry)
{
    using namespace std::string_literals;
    const Words nul_argument{"ok", "bad\0byte"s};
    for (const auto& refused : {windows_command_line("prog", nul_argument), windows_command_line("pr\0og"s, {}),
                                windows_command_line("C:\\a\"b.exe", {})}) {
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error().kind(), "InvalidInput") << refused.error().debug();
    }
    EXPECT_TRUE(windows_command_line("C:\\a b.exe", {}).has_value());
}

TEST(Utf8ToWide, IsStrict)
{
    EXPECT_EQ(utf8_to_wide("").value(), L"");
    EXPECT_EQ(utf8_to_wide("a\xc3\xa9\xf0\x9d\x84\x9e").value(), L"a\x00e9\xd834\xdd1e");
    for (const std::string bad : {"\x80", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ok\xff"}) {
        const auto result = utf8_to_wide(bad);
        ASSERT_FALSE(result.has_value());
        EXPECT_TRUE(result.error().is_system());
    }
}

}  // namespace
}  // namespace lumaflick
