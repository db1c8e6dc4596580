#include "text/lfs_text.hpp"

#include <string>

#include <gtest/gtest.h>

namespace lumaflick::text {
namespace {

std::string hex(std::string_view bytes)
{
    std::string out;
    constexpr const char* digits = "0123456789abcdef";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0xf];
    }
    return out;
}

TEST(LfsText, Conversions)
{
    const std::pair<std::string, std::string> cases[] = {  // text, bytes in hex
        // unicode-to-lfs's own bytes for these.
        {"Hello world", "48656c6c6f20776f726c64"},
        {"caf\xc3\xa9", "636166e9"},
        {"\xc4\x9b \xd1\x88", "5e45ec205e43f8"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "5e4a93fa967b8cea"},
        {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82, \xd0\xbc\xd0\xb8\xd1\x80", "5e43cff0e8e2e5f22c20ece8f0"},
        {"\xc5\xbdlu\xc5\xa5ou\xc4\x8dk\xc3\xbd k\xc5\xaf\xc5\x88", "8e6c755e459d6f75e86bfd206bf9f2"},
        {"x\xe2\x80\x94y", "789779"},
        // A page switched to stays while it has the characters; Latin-1 is
        // not taken back for a character the current page also has.
        {"\xd1\x88\xc3\xa9", "5e43f85e4ce9"},
        {"\xc4\x9b\xc3\xa9", "5e45ece9"},
        // Carets doubled, so that LFS shows them; the rest of ASCII as it is.
        {"^1 a^b^", "5e5e312061"  "5e5e625e5e"},
        // Nobody has it: one ? a character, outside the plane too.
        {"\xf0\x9f\x98\x80!", "3f21"},
        // Not UTF-8: one ? a byte that starts no character.
        {"a\xff\xc3(", "613f3f28"},
        {"\xed\xa0\x80", "3f3f3f"},
        // Windows' code pages, where glibc or unicode-to-lfs differ: U+2212
        // is not in CP932 (glibc maps it to 0x817C); small Roman numerals take
        // the IBM codes; Latin-1's unused bytes are C1 controls.
        {"\xe2\x88\x92", "3f"},
        {"\xe2\x85\xb0", "5e4afa40"},
        {"\xc2\x81", "81"},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(hex(to_lfs(text)), bytes) << hex(text);
}

TEST(LfsText, OnlyWholeCharactersWithTheirSwitchWithinTheLimit)
{
    // a, ^E ě, ^C ш, ^J 日: 1, 3, 3 and 4 bytes.
    const std::pair<std::size_t, std::string> cases[] = {
        {0, ""}, {3, "61"}, {4, "615e45ec"}, {6, "615e45ec"}, {7, "615e45ec5e43f8"}, {11, "615e45ec5e43f85e4a93fa"}};
    for (const auto& [limit, bytes] : cases) EXPECT_EQ(hex(to_lfs("a\xc4\x9b\xd1\x88\xe6\x97\xa5", limit)), bytes) << limit;
    // The limit counts what is appended.
    std::string out = "xy";
    EXPECT_EQ(append_lfs("ab", out, 1), 1u);
    EXPECT_EQ(out, "xya");
}

}  // namespace
}  // namespace lumaflick::text
