#include "playback.hpp"

#include <cstdio>
#include <cstdlib>
#include <variant>

#include "args.hpp"

namespace lumaflick {

asio::awaitable<Status> run_playback(std::vector<std::string> words, std::chrono::milliseconds)
{
    auto parsed = parse_args(words);
    if (auto* exit = std::get_if<ParseExit>(&parsed)) {
        std::fputs(exit->out.c_str(), stdout);
        std::fputs(exit->err.c_str(), stderr);
        std::fflush(stdout);
        std::exit(exit->status);
    }
    co_return ok();
}

}  // namespace lumaflick
