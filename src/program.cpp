#include "program.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "playback.hpp"

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
    // Asio's reactor runs inside run(), so this one thread serves the network,
    // the timers and the playback, which thus stays on the main thread.
    std::optional<asio::io_context> runtime;
    try {
        runtime.emplace(1);
    } catch (const std::exception& e) {
        fail_building_runtime(e.what());
    }

    std::optional<Status> outcome;
    asio::co_spawn(*runtime, run_playback(std::move(words), keepalive_interval),
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
