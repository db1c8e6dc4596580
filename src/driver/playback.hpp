#pragma once

#include <chrono>

#include <asio/awaitable.hpp>

#include "cli/args.hpp"
#include "error.hpp"

namespace lumaflick {

// The whole playback, from the connection to the termination of the children.
// A keep-alive is written when nothing has been sent for `keepalive_interval`.
asio::awaitable<Status> run_playback(Args args, std::chrono::milliseconds keepalive_interval);

}  // namespace lumaflick
