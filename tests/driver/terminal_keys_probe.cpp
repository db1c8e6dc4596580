// Prints the keys typed on the terminal, a line each, until q or Ctrl+C: for
// trying the terminal's settings by hand (tmux send-keys, then stty -a).
#include <csignal>
#include <cstdio>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include "control/terminal_keys.hpp"

int main()
{
    using namespace lumaflick;
    asio::io_context context;
    auto opened = TerminalKeys::open(context.get_executor());
    if (!opened) {
        std::fprintf(stderr, "terminal_keys_probe: %s\n", opened.error().text().c_str());
        return 1;
    }
    if (!*opened) {
        std::puts("no keys: standard input is no terminal, or not in the foreground");
        return 0;
    }
    TerminalKeys& keys = **opened;
    asio::signal_set signals(context, SIGINT, SIGTERM);
    signals.async_wait([&](const std::error_code& error, int) {
        if (!error) keys.cancel();
    });
    constexpr const char* names[] = {"play_pause", "back_10", "forward_10", "back_60", "forward_60", "stop"};
    TerminalKeys::ReadHandler on_keys = [&](Result<std::span<const Key>> read) {
        if (!read) {
            std::printf("read ended: %s\n", read.error().text().c_str());
            signals.cancel();
            return;
        }
        for (const Key key : *read) {
            std::printf("%s\n", names[static_cast<int>(key)]);
            if (key == Key::stop) {
                signals.cancel();
                return;
            }
        }
        keys.async_read(on_keys);
    };
    keys.async_read(on_keys);
    context.run();
    std::fflush(stdout);
}
