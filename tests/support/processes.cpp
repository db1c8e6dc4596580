#include "processes.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

namespace lumaflick::test {

namespace {

using namespace std::chrono_literals;

struct ProcStat {
    char state = '?';
    long ppid = 0;
};

std::optional<ProcStat> read_stat(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    // The command name may hold spaces and parentheses; the fields resume
    // after the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size()) return std::nullopt;
    ProcStat stat;
    stat.state = line[close + 2];
    const char* first = line.data() + close + 4;
    if (std::from_chars(first, line.data() + line.size(), stat.ppid).ec != std::errc{}) return std::nullopt;
    return stat;
}

}  // namespace

bool adopt_orphans() { return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }

bool is_running(long pid)
{
    const auto stat = read_stat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X';
}

std::optional<int> reap(long pid, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid)) return status;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

void kill_adopted()
{
    for (const long pid : children_of(static_cast<long>(::getpid()))) ::kill(static_cast<pid_t>(pid), SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, WNOHANG);
        if (done < 0 && errno == ECHILD) return;
        if (done <= 0) {
            if (std::chrono::steady_clock::now() >= deadline) return;
            std::this_thread::sleep_for(5ms);
        }
    }
}

std::optional<long> parent_of(long pid)
{
    const auto stat = read_stat(pid);
    return stat ? std::optional<long>(stat->ppid) : std::nullopt;
}

std::vector<long> children_of(long pid)
{
    std::vector<long> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        long child = 0;
        const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), child);
        if (failure == std::errc{} && end == name.data() + name.size() && parent_of(child) == pid)
            children.push_back(child);
    }
    return children;
}

std::optional<std::size_t> resident_kib(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    constexpr std::string_view key = "VmRSS:";
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(key)) continue;
        const auto digits = line.find_first_of("0123456789");
        std::size_t value = 0;
        if (digits == std::string::npos ||
            std::from_chars(line.data() + digits, line.data() + line.size(), value).ec != std::errc{})
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace lumaflick::test
