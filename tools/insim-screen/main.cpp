#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include "console.hpp"
#include "options.hpp"
#include "server.hpp"
#include "stdin_events.hpp"
#include "transcript.hpp"

namespace {

using namespace insim_screen;

int fail(const std::string& text)
{
    std::fprintf(stderr, "insim-screen: %s\n", text.c_str());
    return 1;
}

// Written aside and renamed, so that a reader never sees half a number.
Status write_port_file(const std::string& path, std::uint16_t port)
{
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "w");
    if (file == nullptr) return Failure{"cannot write the port file " + path};
    const bool written = std::fprintf(file, "%u\n", unsigned{port}) > 0;
    if (std::fclose(file) != 0 || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return Failure{"cannot write the port file " + path};
    }
    return {};
}

SessionConfig session_config(const ScreenOptions& options)
{
    SessionConfig config;
    if (options.password) {
        std::array<std::uint8_t, insim::ADMIN_SIZE> admin{};
        std::copy(options.password->begin(), options.password->end(), admin.begin());
        config.admin = admin;
    }
    return config;
}

int run(const ScreenOptions& options, bool stdin_open)
{
    std::optional<Transcript> transcript;
    if (options.transcript) {
        auto opened = Transcript::open(*options.transcript);
        if (!opened) return fail(opened.failure().text);
        transcript.emplace(std::move(*opened));
    }

    asio::io_context context(1);
    ServerConfig config;
    config.endpoint = {asio::ip::address_v4(options.listen.address), options.listen.port};
    config.session = session_config(options);
    config.keep = options.keep;
    config.keepalive_interval = options.keepalive;
    config.script = options.events;

    ConsoleConfig console_config;
    console_config.terminal = ::isatty(::fileno(stdout)) == 1;
    console_config.snapshot = options.snapshot;
    console_config.transcript = transcript ? &*transcript : nullptr;
    console_config.guests = options.with_guests();
    console_config.shown = options.show;
    console_config.guest_snapshots = options.guest_snapshots;
    Console console(std::move(console_config), stdout, stderr);

    Server server(context, config, console);
    if (auto listening = server.listen(); !listening) return fail(listening.failure().text);
    const std::string where = config.endpoint.address().to_string() + ":" + std::to_string(server.port());
    std::fprintf(stderr, "insim-screen: listening on %s\n", where.c_str());
    if (options.port_file) {
        if (auto written = write_port_file(*options.port_file, server.port()); !written) {
            return fail(written.failure().text);
        }
    }

    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&server](std::error_code ec, int) {
        if (!ec) server.stop();
    });

    StdinEvents stdin_events(context, server, console);
    if (options.stdin_events && stdin_open) stdin_events.start();

    std::optional<SessionEnd> end;
    asio::co_spawn(context, server.serve(), [&](std::exception_ptr failure, SessionEnd result) {
        if (!failure) end = result;
        std::error_code ignored;
        signals.cancel(ignored);
        stdin_events.stop();
    });
    context.run();

    if (!end) return fail("the server stopped on an internal error");
    if (console.failure()) return 1;
    const bool fine = ended_normally(*end) || (options.keep && *end == SessionEnd::stopped);
    return fine ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // Asked before anything is opened: a closed descriptor 0 would be the next file's.
    const bool stdin_open = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
    std::vector<std::string> words(argv, argv + argc);
    if (words.empty()) words.emplace_back("insim-screen");
    auto parsed = parse_options(words);
    if (const auto* exit = std::get_if<OptionsExit>(&parsed)) {
        std::fputs(exit->out.c_str(), stdout);
        std::fputs(exit->err.c_str(), stderr);
        return exit->status;
    }
    try {
        return run(std::get<ScreenOptions>(parsed), stdin_open);
    } catch (const std::exception& e) {
        return fail(std::string("internal error: ") + e.what());
    }
}
