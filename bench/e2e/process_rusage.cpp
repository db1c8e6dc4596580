// process-rusage: runs a program and reports the CPU time and memory of it and
// of every process it leaves behind. It becomes a child subreaper, so children
// that the program never waits for (lumaflick does not wait for ffmpeg) come
// back to it when the program ends, and wait4 gives their exact rusage.
//
//   process-rusage --report FILE [--timeout SECONDS] -- PROGRAM [ARGS...]
//
// FILE gets one line per process, the started program first:
//   <pid> <comm> <exit> <user_us> <system_us> <maxrss_kb> <hwm_kb> <own_us>
// <exit> is the exit status, or "signal<n>". <user_us> and <system_us> come
// from wait4, so they include every child the process waited for itself
// (lumaflick waits for ffmpeg); <own_us> is the CPU time of the process alone,
// read from its main thread's /proc/<pid>/schedstat before it is reaped (a
// thread that ended earlier is not in it). <maxrss_kb> comes from wait4 and,
// as the kernel keeps the high-water mark across exec, includes the few
// megabytes of this process from before the exec; <hwm_kb> is the program's
// own VmHWM, sampled every 10 ms while it runs ("-" for the others).
// The exit status is the program's; 124 when the time-out killed it.

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Usage {
    pid_t pid = 0;
    std::string comm;
    std::string exit;
    long long user_us = 0;
    long long system_us = 0;
    long maxrss_kb = 0;
    long long own_us = -1;
};

long long microseconds(const timeval& time) { return time.tv_sec * 1'000'000LL + time.tv_usec; }

std::string read_comm(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "?" : name;
}

// The CPU time of a process's main thread in microseconds, its children not
// counted; -1 once it is gone.
long long read_own_us(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    long long ns = -1;
    if (!(in >> ns)) return -1;
    return ns / 1000;
}

// The VmHWM line of /proc/<pid>/status in kB, or -1 once it is gone.
long read_hwm_kb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: process-rusage --report FILE [--timeout SECONDS] -- PROGRAM [ARGS...]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string report;
    long timeout_s = 300;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string_view word = argv[first];
        if (word == "--") {
            ++first;
            break;
        }
        if (first + 1 >= argc) usage();
        if (word == "--report") {
            report = argv[++first];
        } else if (word == "--timeout") {
            timeout_s = std::atol(argv[++first]);
        } else {
            usage();
        }
    }
    if (report.empty() || first >= argc) usage();

    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::perror("process-rusage: prctl");
        return 1;
    }
    const pid_t program = ::fork();
    if (program < 0) {
        std::perror("process-rusage: fork");
        return 1;
    }
    if (program == 0) {
        ::execvp(argv[first], argv + first);
        std::fprintf(stderr, "process-rusage: %s: %s\n", argv[first], std::strerror(errno));
        ::_exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    bool timed_out = false;
    long hwm_kb = 0;
    std::vector<Usage> usages;
    int program_status = 1;
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            if (errno == EINTR) continue;
            if (errno == ECHILD) break;
            std::perror("process-rusage: waitid");
            return 1;
        }
        if (info.si_pid == 0) {
            if (const long sampled = read_hwm_kb(program); sampled > hwm_kb) hwm_kb = sampled;
            if (!timed_out && std::chrono::steady_clock::now() > deadline) {
                timed_out = true;
                ::kill(program, SIGKILL);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // Still a zombie, so its name can be read before it is reaped.
        Usage usage;
        usage.pid = info.si_pid;
        usage.comm = read_comm(usage.pid);
        usage.own_us = read_own_us(usage.pid);
        int status = 0;
        rusage resources{};
        if (::wait4(usage.pid, &status, 0, &resources) != usage.pid) continue;
        usage.exit = WIFEXITED(status) ? std::to_string(WEXITSTATUS(status))
                                       : "signal" + std::to_string(WTERMSIG(status));
        usage.user_us = microseconds(resources.ru_utime);
        usage.system_us = microseconds(resources.ru_stime);
        usage.maxrss_kb = resources.ru_maxrss;
        if (usage.pid == program) {
            program_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            usages.insert(usages.begin(), usage);
        } else {
            usages.push_back(usage);
        }
    }

    std::ofstream out(report);
    for (const Usage& usage : usages) {
        out << usage.pid << ' ' << usage.comm << ' ' << usage.exit << ' ' << usage.user_us << ' ' << usage.system_us
            << ' ' << usage.maxrss_kb << ' ' << (usage.pid == program ? std::to_string(hwm_kb) : "-") << ' ' << usage.own_us << '\n';
    }
    if (!out.flush()) {
        std::fprintf(stderr, "process-rusage: cannot write %s\n", report.c_str());
        return 1;
    }
    return timed_out ? 124 : program_status;
}
