#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "command_line.hpp"
#include "playback.hpp"

namespace {

[[noreturn]] void fail_building_runtime(const char* what)
{
    std::fprintf(stderr, "Failed building the Runtime: %s\n", what);
    std::abort();
}

}  // namespace

int main(int argc, char** argv)
{
    // Asio's reactor runs inside run(), so one thread serves the network, the
    // timers and the playback, which stays on the main thread.
    std::optional<asio::io_context> runtime;
    try {
        runtime.emplace(1);
    } catch (const std::exception& e) {
        fail_building_runtime(e.what());
    }

    std::optional<lumaflick::Status> outcome;
    asio::co_spawn(*runtime, lumaflick::run_playback(lumaflick::process_command_line(argc, argv)),
                   [&outcome](std::exception_ptr failure, lumaflick::Status status) {
                       if (failure) std::rethrow_exception(failure);
                       outcome = std::move(status);
                   });
    runtime->run();
    runtime.reset();

    if (outcome && !outcome->has_value()) {
        std::fflush(stdout);
        std::fprintf(stderr, "Error: %s\n", outcome->error().debug().c_str());
        return 1;
    }
    return 0;
}
