#pragma once

// Starts a program (never through a shell), captures its standard output and
// error line by line with arrival times, and kills it when it overstays.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_lfs.hpp"
#include "insim/result.hpp"

namespace lumaflick::test {

struct OutputLine {
    Clock::time_point at;  // when the read that completed the line returned
    std::string text;      // without its line feed
};

struct RunOptions {
    // Added to (or replacing in) this process's environment.
    std::vector<std::pair<std::string, std::string>> env;
    std::chrono::milliseconds timeout{20'000};
};

struct RunOutcome {
    Clock::time_point started;
    Clock::time_point ended;
    long pid = 0;
    bool timed_out = false;
    std::optional<int> exit_status;  // when it exited
    std::optional<int> signal;       // when a signal ended it
    std::string out;                 // everything, as written
    std::string err;
    std::vector<OutputLine> out_lines;  // complete lines only
    std::vector<OutputLine> err_lines;
};

insim::Result<RunOutcome> run(const std::string& program, const std::vector<std::string>& arguments,
                              const RunOptions& options = {});

}  // namespace lumaflick::test
