#pragma once

#include <optional>
#include <string>

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "server.hpp"

namespace insim_screen {

// Events typed or piped into standard input, one a line, each handed to the
// server as soon as its line is complete. Reading ends at the end of the
// input or at stop(); a closed standard input gives no events at all.
class StdinEvents {
public:
    StdinEvents(asio::io_context& context, Server& server, ServerEvents& events);

    // Reads a copy of descriptor 0, never descriptor 0 itself: asio would
    // switch it to non-blocking, which the shell's other programs share.
    void start();
    void stop();

private:
    asio::awaitable<void> read_lines();
    void take(std::string_view line);

    asio::io_context& context_;
    Server& server_;
    ServerEvents& events_;
    std::optional<asio::posix::stream_descriptor> input_;
    std::string pending_;
};

}  // namespace insim_screen
