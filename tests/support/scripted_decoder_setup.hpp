#pragma once

// One scripted-decoder scene for a test: a scratch folder holding the plan and
// the log, and the environment that points scripted-decoder at them. Children
// started while it lives read these; it restores the environment when it ends.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scripted_decoder_log.hpp"
#include "test_env.hpp"

namespace lumaflick::test {

class ScriptedDecoderSetup {
public:
    // `linger` bounds the life of a sound-role child, so none outlives the test.
    explicit ScriptedDecoderSetup(std::string_view plan,
                                  std::chrono::milliseconds linger = std::chrono::milliseconds(10000));

    // Full path of the scripted-decoder program.
    [[nodiscard]] static std::string program();

    [[nodiscard]] const TempDir& dir() const noexcept { return dir_; }
    [[nodiscard]] std::vector<ScriptedRun> runs() const { return read_scripted_log(log_); }
    [[nodiscard]] std::optional<ScriptedRun> wait_for_ready(
        std::string_view role, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const
    {
        return test::wait_for_ready(log_, role, timeout);
    }

private:
    TempDir dir_;
    std::filesystem::path log_;
    ScopedEnv plan_env_;
    ScopedEnv log_env_;
    ScopedEnv linger_env_;
};

}  // namespace lumaflick::test
