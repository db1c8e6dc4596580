#include "program.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>
#include <variant>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "cli/args.hpp"
#include "playback.hpp"

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#endif

namespace lumaflick {

namespace {

[[noreturn]] void fail_building_runtime(const char* what)
{
    std::fprintf(stderr, "Failed building the Runtime: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

int run_program(std::vector<std::string> words, std::chrono::milliseconds keepalive_interval)
{
#ifndef _WIN32
    // A reader that has gone away fails our writes instead of killing us, so the
    // exit status stays ours. Children get the default back when started.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard stream we were started without gets /dev/null for the life of
    // the process, so that no socket of ours takes its number and our console
    // lines with it.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
#endif
    // Asio's reactor runs inside run(), so this one thread serves the network,
    // the timers and the playback, which thus stays on the main thread.
    std::optional<asio::io_context> runtime;
    try {
        runtime.emplace(1);
    } catch (const std::exception& e) {
        fail_building_runtime(e.what());
    }

    auto parsed = parse_args(words);
    if (const auto* exit = std::get_if<ParseExit>(&parsed)) {
        std::fputs(exit->out.c_str(), stdout);
        std::fflush(stdout);
        std::fputs(exit->err.c_str(), stderr);
        std::fflush(stderr);
        return exit->status;
    }

    std::optional<Status> outcome;
    asio::co_spawn(*runtime, run_playback(std::get<Args>(std::move(parsed)), keepalive_interval),
                   [&outcome](std::exception_ptr failure, Status status) {
                       if (failure) std::rethrow_exception(failure);
                       outcome = std::move(status);
                   });
    runtime->run();
    runtime.reset();

    std::fflush(stdout);
    if (outcome && !outcome->has_value()) {
        std::fprintf(stderr, "Error: %s\n", outcome->error().debug().c_str());
        return 1;
    }
    return 0;
}

}  // namespace lumaflick
