#pragma once

// Reads the log that scripted-decoder appends to (format in scripted_decoder.cpp).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaflick::test {

struct ScriptedFrame {
    std::size_t bytes = 0;
    std::int64_t steady_ns = 0;  // std::chrono::steady_clock, just before the write
};

// What the tests read of one scripted-decoder process's log.
struct ScriptedRun {
    std::string role;  // "decoder" or "sound"
    long pid = 0;
    std::size_t argc = 0;
    std::vector<std::string> args;
    bool ready = false;
    std::vector<ScriptedFrame> frames;
    std::optional<int> exit_code;
};

// Runs in order of their first line; a missing file gives none.
std::vector<ScriptedRun> read_scripted_log(const std::filesystem::path& path);

// Polls the log until a run of `role` has logged "ready"; nullopt on time-out.
std::optional<ScriptedRun> wait_for_ready(const std::filesystem::path& path, std::string_view role,
                                          std::chrono::milliseconds timeout);

}  // namespace lumaflick::test
