#pragma once

#include <string>
#include <string_view>

namespace lumaflick::test {

// A path of the Linux build folder as the Windows program under wine sees it:
// wine maps the Linux root to drive Z:.
std::string windows_path(std::string_view build_path);

// The folder part of a Windows path, without the trailing backslash.
std::string windows_folder(std::string_view path);

}  // namespace lumaflick::test
