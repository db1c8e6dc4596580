#include "cli/command_line.hpp"

namespace lumaflick {

std::vector<std::string> process_command_line(int argc, char** argv)
{
    std::vector<std::string> words;
    words.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[i]);
    return words;
}

}  // namespace lumaflick
