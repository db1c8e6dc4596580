#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <array>
#include <system_error>
#include <utility>
#include <vector>

#include "video/error_tail.hpp"
#include "video/pipe_stream_native.hpp"
#include "video/process.hpp"
#include "video/unique_fd.hpp"

extern char** environ;

namespace lumaflick {

namespace {

Error system_error(int code) { return Error::system({code, std::system_category()}); }

// Keeps a descriptor clear of 0, 1 and 2: if our own standard streams were
// closed, it could land there and the child's stream setup would clobber it.
Result<Fd> above_stdio(Fd fd)
{
    if (fd.get() > 2) return fd;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return Error::last_system_error();
    return Fd(moved);
}

struct Pipe {
    Fd read;
    Fd write;
};

Result<Pipe> make_pipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return Error::last_system_error();
    Fd read_end(fds[0]);
    Fd write_end(fds[1]);
    auto read = above_stdio(std::move(read_end));
    if (!read) return std::move(read).error();
    auto write = above_stdio(std::move(write_end));
    if (!write) return std::move(write).error();
    return Pipe{std::move(*read), std::move(*write)};
}

Result<Fd> open_null(int flags)
{
    const int fd = ::open("/dev/null", flags | O_CLOEXEC);
    if (fd < 0) return Error::last_system_error();
    return above_stdio(Fd(fd));
}

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool is_executable_file(const std::string& path, bool& denied)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        denied = denied || errno == EACCES;
        return false;
    }
    if (S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0) return true;
    denied = true;
    return false;
}

// The file to execute, found as execvp finds it; done before the fork, since
// the child may not allocate. ENOENT when nothing is there, EACCES when only
// files we may not execute are.
Result<std::string> resolve_program(std::string_view program)
{
    if (program.empty()) return system_error(ENOENT);
    if (program.find('/') != std::string_view::npos) return std::string(program);

    std::string search;
    if (const char* path = std::getenv("PATH")) {
        search = path;
    } else if (const std::size_t size = ::confstr(_CS_PATH, nullptr, 0); size > 0) {
        search.resize(size);
        ::confstr(_CS_PATH, search.data(), size);
        search.pop_back();
    }
    bool denied = false;
    for (std::size_t start = 0;;) {
        const std::size_t end = search.find(':', start);
        const std::string_view entry = std::string_view(search).substr(start, end - start);
        // An empty entry is the working folder.
        std::string candidate = entry.empty() ? "./" : std::string(entry) + '/';
        candidate += program;
        if (is_executable_file(candidate, denied)) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return system_error(denied ? EACCES : ENOENT);
}

// Everything the child needs, made before the fork.
struct ChildPlan {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    std::array<int, 3> stdio{-1, -1, -1};  // the descriptor for 0, 1 and 2; -1 inherits ours
    int report = -1;                       // write end of the close-on-exec error pipe
    pid_t parent = -1;
    long open_max = 1024;
};

[[noreturn]] void fail_child(int report) noexcept
{
    const int error = errno;
    while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

void close_range_loop(int first, int last, int keep) noexcept
{
    for (int fd = first; fd <= last; ++fd) {
        if (fd != keep) ::close(fd);
    }
}

// Every descriptor from 3 up but `keep`.
void close_others(int keep, long open_max) noexcept
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    const auto keep_at = static_cast<unsigned>(keep);
    if ((keep_at == 3 || ::close_range(3, keep_at - 1, 0) == 0) && ::close_range(keep_at + 1, ~0U, 0) == 0) return;
#endif
    // Kernels before 5.9 have no close_range.
    close_range_loop(3, static_cast<int>(open_max - 1), keep);
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void run_child(const ChildPlan& plan) noexcept
{
#ifdef __linux__
    // Dies with the thread that forked; if that is already gone, the signal
    // would never come.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail_child(plan.report);
    if (::getppid() != plan.parent) ::_exit(127);
#endif
    // Our handlers must not run here (the runtime's would write to its wake-up
    // pipe, which the parent shares), and SIGPIPE, which we ignore, is at its
    // default for ffmpeg and ffplay. The mask was blocked for the fork.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0) continue;
        const bool caught = (current.sa_flags & SA_SIGINFO) != 0 ||
                            (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
        if (caught || signal == SIGPIPE) ::sigaction(signal, &default_action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) fail_child(plan.report);

    // dup2 clears close-on-exec on the copy, so only this child gets the write end.
    for (int target = 0; target < 3; ++target) {
        const int source = plan.stdio[static_cast<std::size_t>(target)];
        if (source < 0) continue;
        while (::dup2(source, target) < 0) {
            if (errno != EINTR) fail_child(plan.report);
        }
    }
    // Descriptors opened without close-on-exec elsewhere in the process
    // (sockets among them) stay ours; the child gets its three streams only.
    close_others(plan.report, plan.open_max);

    ::execve(plan.path, plan.argv, plan.envp);
    fail_child(plan.report);
}

// Blocks every signal for the fork, so that no handler runs in the child
// before it has reset them.
class BlockedSignals {
public:
    BlockedSignals()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~BlockedSignals() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;

private:
    sigset_t previous_{};
};

ExitStatus exit_status_of(int status)
{
    if (WIFSIGNALED(status)) return {.code = std::nullopt, .signal = WTERMSIG(status)};
    return {.code = WEXITSTATUS(status), .signal = std::nullopt};
}

}  // namespace

std::string ExitStatus::describe() const
{
    if (signal) return "signal " + std::to_string(*signal);
    return "exit status " + std::to_string(code.value_or(0));
}

struct ChildProcess::Handle {
    pid_t pid = -1;
    // Once reaped the pid may belong to another process: never signal it again.
    bool reaped = false;
    std::optional<ExitStatus> status;
    // Last, so that it waits for the end of the output after end() has ended the child.
    std::unique_ptr<ErrorTail> error_tail;

    explicit Handle(pid_t started) noexcept : pid(started) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { (void)end(); }

    // 0 once reaped (or still running with WNOHANG), else the errno.
    int wait(int options) noexcept
    {
        int raw = 0;
        for (;;) {
            const pid_t got = ::waitpid(pid, &raw, options);
            if (got == pid) {
                reaped = true;
                status = exit_status_of(raw);
                return 0;
            }
            if (got == 0) return 0;
            if (errno == EINTR) continue;
            // Reaped by someone else (SIGCHLD ignored): gone, status unknown.
            if (errno == ECHILD) reaped = true;
            return errno;
        }
    }

    Status end() noexcept
    {
        if (reaped) return ok();
        // Not reaped yet, so the pid is still this child's, if only a zombie.
        if (::kill(pid, SIGKILL) != 0 && errno != ESRCH) return Error::last_system_error();
        const int error = wait(0);
        if (error == 0 || error == ECHILD) return ok();
        return system_error(error);
    }
};

PipeReader::PipeReader() noexcept = default;
PipeReader::PipeReader(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
PipeReader::PipeReader(PipeReader&&) noexcept = default;
PipeReader& PipeReader::operator=(PipeReader&&) noexcept = default;
PipeReader::~PipeReader() = default;

Result<std::size_t> PipeReader::read(std::span<std::byte> buffer)
{
    if (!is_open()) return system_error(EBADF);
    for (;;) {
        const ssize_t n = ::read(handle_->fd.get(), buffer.data(), buffer.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EPIPE) return std::size_t{0};
        return Error::last_system_error();
    }
}

void PipeReader::close() noexcept { handle_.reset(); }

bool PipeReader::is_open() const noexcept { return handle_ != nullptr && handle_->fd.get() >= 0; }

ChildProcess::ChildProcess() noexcept = default;
ChildProcess::ChildProcess(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

Status ChildProcess::terminate()
{
    // Nothing started: nothing to end.
    if (handle_ == nullptr) return ok();
    return handle_->end();
}

Result<std::optional<ExitStatus>> ChildProcess::poll_exit()
{
    if (handle_ == nullptr) return system_error(ECHILD);
    if (!handle_->reaped) {
        if (const int error = handle_->wait(WNOHANG); error != 0) return system_error(error);
    }
    if (handle_->reaped && !handle_->status) return system_error(ECHILD);
    return handle_->status;
}

std::string ChildProcess::last_error_line()
{
    if (handle_ == nullptr || handle_->error_tail == nullptr) return {};
    if (handle_->reaped) handle_->error_tail->finish();
    return handle_->error_tail->line();
}

long ChildProcess::id() const noexcept { return handle_ == nullptr ? 0 : static_cast<long>(handle_->pid); }

Status check_program(std::string_view program)
{
    if (has_nul(program)) return system_error(EINVAL);
    auto path = resolve_program(program);
    if (!path) return std::move(path).error();
    bool denied = false;
    if (!is_executable_file(*path, denied)) return system_error(denied ? EACCES : ENOENT);
    return ok();
}

Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio)
{
    if (stdio.in == Stdio::pipe) return Error::message("Standard input cannot be a pipe");
    if (stdio.in == Stdio::last_line || stdio.out == Stdio::last_line) {
        return Error::message("Only standard error can keep its last line");
    }
    // A NUL would silently cut an argument short.
    if (has_nul(program)) return system_error(EINVAL);
    for (const auto& argument : arguments) {
        if (has_nul(argument)) return system_error(EINVAL);
    }
    auto path = resolve_program(program);
    if (!path) return std::move(path).error();

    std::string program_text(program);
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(program_text.data());
    // execve takes char* const[] but does not write through it.
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    ChildPlan plan;
    plan.path = path->c_str();
    plan.argv = argv.data();
    plan.envp = environ;

    Pipe output;
    if (stdio.out == Stdio::pipe) {
        auto made = make_pipe();
        if (!made) return std::move(made).error();
        output = std::move(*made);
        plan.stdio[1] = output.write.get();
    }
    Pipe errors;
    if (stdio.err == Stdio::last_line || stdio.err == Stdio::pipe) {
        auto made = make_pipe();
        if (!made) return std::move(made).error();
        errors = std::move(*made);
        plan.stdio[2] = errors.write.get();
    }
    Fd null_in;
    Fd null_out;
    const std::array<Stdio, 3> setups{stdio.in, stdio.out, stdio.err};
    for (std::size_t target = 0; target < 3; ++target) {
        if (setups[target] != Stdio::null) continue;
        Fd& null = target == 0 ? null_in : null_out;
        if (null.get() < 0) {
            auto opened = open_null(target == 0 ? O_RDONLY : O_WRONLY);
            if (!opened) return std::move(opened).error();
            null = std::move(*opened);
        }
        plan.stdio[target] = null.get();
    }

    // The child reports a failed exec here; a successful one closes it.
    auto report = make_pipe();
    if (!report) return std::move(report).error();
    plan.report = report->write.get();
    plan.parent = ::getpid();
    if (const long open_max = ::sysconf(_SC_OPEN_MAX); open_max > 0) plan.open_max = open_max;

    pid_t pid = -1;
    int fork_error = 0;
    {
        const BlockedSignals blocked;
        pid = ::fork();
        if (pid == 0) run_child(plan);
        fork_error = errno;
    }
    if (pid < 0) return system_error(fork_error);
    auto handle = std::make_unique<ChildProcess::Handle>(pid);
    ChildProcess::Handle* const child_handle = handle.get();
    ChildProcess child(std::move(handle));
    report->write.reset();
    output.write.reset();
    errors.write.reset();

    int exec_error = 0;
    ssize_t got = -1;
    do {
        got = ::read(report->read.get(), &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    // The child's destructor reaps it.
    if (got < 0) return Error::last_system_error();
    if (got == sizeof exec_error) return system_error(exec_error);
    if (got != 0) return system_error(EIO);

    if (stdio.err == Stdio::last_line) {
        auto tail = ErrorTail::start(PipeReader(std::make_unique<PipeReader::Handle>(PipeReader::Handle{std::move(errors.read)})));
        if (!tail) return std::move(tail).error();
        child_handle->error_tail = std::move(*tail);
    }

    StartedProcess started;
    started.child = std::move(child);
    if (stdio.out == Stdio::pipe) {
        started.output = PipeReader(std::make_unique<PipeReader::Handle>(PipeReader::Handle{std::move(output.read)}));
    }
    if (stdio.err == Stdio::pipe) {
        started.errors = PipeReader(std::make_unique<PipeReader::Handle>(PipeReader::Handle{std::move(errors.read)}));
    }
    return started;
}

}  // namespace lumaflick
