#include "program.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>
#include <variant>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include "cli/args.hpp"
#include "driver/playback.hpp"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
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

// The signals that end a playback early, the children with it.
void add_ending_signals(asio::signal_set& signals)
{
    std::error_code ignored;
    signals.add(SIGINT, ignored);
    signals.add(SIGTERM, ignored);
#ifdef _WIN32
    signals.add(SIGBREAK, ignored);
#else
    signals.add(SIGHUP, ignored);
    signals.add(SIGQUIT, ignored);
#endif
}

// Ends the process the way the signal would have, now that it is clean.
int end_as_signalled(int signal_number)
{
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    // What Windows reports for a console program that Ctrl+C or Ctrl+Break ended.
    (void)signal_number;
    return static_cast<int>(STATUS_CONTROL_C_EXIT);
#else
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return 128 + signal_number;
#endif
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
    // the timers and the playback, which thus stays on the main thread. No
    // other thread touches the runtime, so on POSIX it need not lock.
    std::optional<asio::io_context> runtime;
    try {
#ifdef _WIN32
        runtime.emplace(1);
#else
        runtime.emplace(ASIO_CONCURRENCY_HINT_UNSAFE);
#endif
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

    // A signal cancels the playback, which then ends its children and closes
    // the connection on its way out. A second one does not wait for that: the
    // runtime stops, and destroying it ends the children and sets the terminal
    // back, before the process ends as the first signal would have it.
    std::optional<int> caught;
    asio::cancellation_signal cancel;
    std::optional<asio::signal_set> signals(std::in_place, *runtime);
    add_ending_signals(*signals);
    signals->async_wait([&](std::error_code ec, int signal_number) {
        if (ec) return;
        caught = signal_number;
        cancel.emit(asio::cancellation_type::terminal);
        signals->async_wait([&](std::error_code again, int /*second*/) {
            if (!again) runtime->stop();
        });
    });

    std::optional<Status> outcome;
    asio::co_spawn(*runtime, run_playback(std::get<Args>(std::move(parsed)), keepalive_interval),
                   asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr failure, Status status) {
                       outcome = std::move(status);
                       // Our code throws nothing; should a library, the children
                       // have been ended on the way out and it is an error.
                       if (failure) {
                           try {
                               std::rethrow_exception(failure);
                           } catch (const std::exception& e) {
                               outcome = Error::message(e.what());
                           } catch (...) {
                               outcome = Error::message("unknown failure");
                           }
                       }
                       std::error_code ignored;
                       signals->cancel(ignored);
                   }));
    try {
        runtime->run();
    } catch (const std::exception& e) {
        outcome = Error::message(e.what());
    }
    signals.reset();
    runtime.reset();

    if (caught) return end_as_signalled(*caught);
    std::fflush(stdout);
    if (outcome && !outcome->has_value()) {
        std::fprintf(stderr, "Error: %s\n", outcome->error().debug().c_str());
        return 1;
    }
    return 0;
}

}  // namespace lumaflick
