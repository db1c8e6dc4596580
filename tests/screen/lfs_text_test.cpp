#include "lfs_text.hpp"
#include "transcript.hpp"

#include <string>

#include <gtest/gtest.h>

namespace insim_screen {
namespace {

// The player's bytes for texts (its unit tests check them against
// unicode-to-lfs), read back with the system's converters.
TEST(LfsText, ReadsCodePagesBackAsUnicode)
{
    const struct {
        std::string lfs;
        std::string text;
    } cases[] = {
        {"Hello", "Hello"},
        {"caf\xe9", "caf\xc3\xa9"},
        {"^E\xec ^C\xf8", "\xc4\x9b \xd1\x88"},
        {"\x8elu^E\x9dou\xe8k\xfd", "\xc5\xbdlu\xc5\xa5ou\xc4\x8dk\xc3\xbd"},
        {"^J\x93\xfa\x96{\x8c\xea", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
        // A trail byte that is a caret belongs to its character.
        {"^J\x83^", "\xe3\x82\xbf"},
        {"^S\xc4\xe3\xba\xc3", "\xe4\xbd\xa0\xe5\xa5\xbd"},
        // Colours take no room; escapes are their characters; a lone caret stays.
        {"^1red^8 ^^ ^v ^x ^", "red ^ | ^x ^"},
        // A byte the page does not have.
        {"^J\xa0", "\xef\xbf\xbd"},
    };
    for (const auto& c : cases) EXPECT_EQ(lfs_to_utf8(c.lfs), c.text) << quote_text(c.lfs);
    EXPECT_FALSE(has_code_pages("^0_^7_ ^8 x"));
    EXPECT_TRUE(has_code_pages("a^^b"));
    EXPECT_TRUE(has_code_pages("^Jx"));
    EXPECT_TRUE(has_code_pages("\xe9"));
}

}  // namespace
}  // namespace insim_screen
