#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "error.hpp"

namespace lumaflick {

// The whole playback, from the parse of `words` to the termination of the
// children. Help, version and usage errors end the process inside the parse.
// A keep-alive is written when nothing has been sent for `keepalive_interval`.
asio::awaitable<Status> run_playback(std::vector<std::string> words, std::chrono::milliseconds keepalive_interval);

}  // namespace lumaflick
