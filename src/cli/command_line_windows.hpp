#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumaflick {

// Splits a Windows command line into words the way the C runtime builds argv:
// in the program word quotes only group blanks; later words follow the
// backslash and double-quote rules.
std::vector<std::string> split_windows_command_line(std::wstring_view command_line);

// UTF-16 to UTF-8. An unpaired surrogate is encoded on its own as three bytes
// (WTF-8), which no UTF-8 validator accepts.
std::string wide_to_wtf8(std::wstring_view text);

}  // namespace lumaflick
