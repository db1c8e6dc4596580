#pragma once

// A program started in the background for a test (never through a shell),
// its output in files, killed and reaped if the test leaves it running.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace screen_test {

class ChildProcess {
public:
    // argv[0] is the program, by path or looked up on PATH. Standard input is /dev/null.
    static std::optional<ChildProcess> start(const std::vector<std::string>& argv, const std::filesystem::path& out,
                                             const std::filesystem::path& err);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The exit status, 128 + the signal's number if a signal ended it, or
    // nothing if it is still running after `timeout`.
    std::optional<int> wait_for(std::chrono::milliseconds timeout);
    void signal(int number) const;

private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
};

// Waits for a file to appear (bounded); its content, or nothing.
std::optional<std::string> wait_for_file(const std::filesystem::path& path, std::chrono::milliseconds timeout);

std::string read_file(const std::filesystem::path& path);

}  // namespace screen_test
