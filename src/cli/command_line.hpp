#pragma once

#include <string>
#include <vector>

namespace lumaflick {

// The process's words as UTF-8: argv on POSIX, GetCommandLineW split by the
// platform's rules on Windows. Text that is not valid Unicode is kept as
// invalid UTF-8 so that the parser refuses it.
std::vector<std::string> process_command_line(int argc, char** argv);

}  // namespace lumaflick
