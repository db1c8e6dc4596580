#pragma once

#include <span>
#include <string>
#include <string_view>

#include "error.hpp"

namespace lumaflick {

// `argument` as one word of a Windows command line, quoted only when it must
// be, so that the C runtime's splitting gives it back unchanged.
std::string quote_windows_argument(std::string_view argument);

// The program word (always quoted, so a path with blanks stays one word) and
// the quoted arguments, blank-separated, in UTF-8. Refuses what no command
// line can carry: NUL characters, and a quote in the program.
Result<std::string> windows_command_line(std::string_view program, std::span<const std::string> arguments);

// Strict UTF-8 to UTF-16.
Result<std::wstring> utf8_to_wide(std::string_view text);

}  // namespace lumaflick
