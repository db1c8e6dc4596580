#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/options.hpp"

namespace lumaflick {

// The last path component of the first word, or the command name.
std::string program_name(std::span<const std::string> words);

// How messages name an option: "--rate <RATE>", "-s <S>", and the four value
// names of "--subpixels".
std::string option_display(const OptionDef& opt);

// "lumaflick [OPTIONS] --password <PASSWORD> --video <VIDEO_PATH>"
std::string usage_line(std::string_view program);

// The short help of -h and the long help of --help.
std::string short_help(std::string_view program);
std::string long_help(std::string_view program);

// "lumaflick " and the version
std::string version_text();

// "error: " and the message, the usage line and the hint to run with --help.
std::string usage_error_text(std::string_view message, std::string_view program);

}  // namespace lumaflick
