#pragma once

// One playback per test: a fake LFS, the scripted decoder standing in for
// ffmpeg (and ffplay), and lumaflick run as a real process between them.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "processes.hpp"
#include "fake_lfs.hpp"
#include "runner.hpp"
#include "scripted_decoder_log.hpp"
#include "test_env.hpp"
#include "wire.hpp"

namespace lumaflick::test {

using namespace std::chrono_literals;

inline const std::string LUMAFLICK = LUMAFLICK_PATH;
inline const std::string SCRIPTED_DECODER = SCRIPTED_DECODER_PATH;

// How late a stamp taken in this process may come: the test programs run
// under valgrind too, and on a machine loaded by other builds. Upper bounds on
// an interval that ends with such a stamp allow this much; lower bounds start
// from stamps that cannot come late (the runner's start, the decoder's own).
inline constexpr std::chrono::milliseconds SLACK{1000};

// `times` copies of `lines` (each ending in a line feed).
std::string repeat(std::string_view lines, int times);

std::chrono::milliseconds between(Clock::time_point from, Clock::time_point to);
Clock::time_point from_steady_ns(std::int64_t ns);

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    FakeLfs& start_lfs(FakeLfsOptions options = {});
    void write_plan(std::string_view plan) const;

    // -a <fake LFS> -p secret -v <video> -f <scripted decoder>, then `extra`.
    [[nodiscard]] std::vector<std::string> arguments(const std::vector<std::string>& extra) const;
    // Runs `program` with the scripted decoder's environment; a failure to
    // start or a time-out fails the test.
    RunOutcome play(const std::vector<std::string>& words, const std::string& program = LUMAFLICK);

    [[nodiscard]] std::optional<ScriptedRun> scripted(std::string_view role) const;

    TempDir dir_;
    std::filesystem::path log_ = dir_.path() / "scripted.log";
    std::filesystem::path plan_ = dir_.path() / "plan.txt";
    std::string video_ = (dir_.path() / "my clip.mp4").string();
    std::unique_ptr<FakeLfs> lfs_;
};

// The numbers of a statistics line; nullopt when it is malformed or they
// disagree (kilobytes that are no whole number of 2400-byte frames, a wrong
// percentage).
struct Statistics {
    std::uint64_t shown = 0;
    std::uint64_t skipped = 0;
};
std::optional<Statistics> parse_statistics(const std::string& line);


// The program a bare name starts, as the search path finds it.
std::optional<std::string> find_on_path(std::string_view name);

}  // namespace lumaflick::test
