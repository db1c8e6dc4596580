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
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xe9 ^E\xec ^C\xf8", "caf\xc3\xa9 \xc4\x9b \xd1\x88"},
        {"^J\x93\xfa\x96{", "\xe6\x97\xa5\xe6\x9c\xac"},
        // A trail byte that is a caret belongs to its character.
        {"^J\x83^", "\xe3\x82\xbf"},
        // Colours take no room; escapes are their characters; a lone caret stays.
        {"^1red^8 ^^ ^v ^x ^", "red ^ | ^x ^"},
        // A byte the page does not have.
        {"^J\xa0", "\xef\xbf\xbd"},
    };
    for (const auto& [lfs, text] : cases) EXPECT_EQ(lfs_to_utf8(lfs), text) << quote_text(lfs);
    EXPECT_FALSE(has_code_pages("^0_^7_ ^8 x"));
    EXPECT_TRUE(has_code_pages("a^^b") && has_code_pages("^Jx") && has_code_pages("\xe9"));
}

}  // namespace
}  // namespace insim_screen
