#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace lumaflick {

// LFS drops a connection that has been silent for 70 seconds.
inline constexpr std::chrono::milliseconds KEEPALIVE_INTERVAL{30'000};

// Builds the runtime and parses `words`: help, version and usage errors are
// printed and end it with 0 or 2. Otherwise runs the playback on this thread to
// completion and turns its outcome into the exit status: 0, or 1 after
// printing "Error: ...".
// The keep-alive interval is a parameter only so that tests can shorten it.
int run_program(std::vector<std::string> words, std::chrono::milliseconds keepalive_interval = KEEPALIVE_INTERVAL);

}  // namespace lumaflick
