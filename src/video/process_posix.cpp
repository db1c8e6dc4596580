#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <system_error>
#include <utility>
#include <vector>

#include "video/process.hpp"
#include "video/unique_fd.hpp"

extern char** environ;

namespace lumaflick {

namespace {

Error system_error(int code) { return Error::system({code, std::system_category()}); }

// Keeps the pipe clear of 0, 1 and 2: if our own standard streams were closed,
// a pipe end could land there and the child's stream setup would clobber it.
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

class FileActions {
public:
    FileActions() { error_ = ::posix_spawn_file_actions_init(&actions_); }
    ~FileActions()
    {
        if (error_ == 0) ::posix_spawn_file_actions_destroy(&actions_);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    [[nodiscard]] int error() const noexcept { return error_; }
    posix_spawn_file_actions_t* get() noexcept { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    int error_ = 0;
};

// We ignore SIGPIPE; ffmpeg and ffplay expect it at its default.
class SpawnAttributes {
public:
    SpawnAttributes()
    {
        error_ = ::posix_spawnattr_init(&attributes_);
        initialised_ = error_ == 0;
        if (!initialised_) return;
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        error_ = ::posix_spawnattr_setsigdefault(&attributes_, &pipe_signal);
        if (error_ == 0) error_ = ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes()
    {
        if (initialised_) ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    [[nodiscard]] int error() const noexcept { return error_; }
    const posix_spawnattr_t* get() const noexcept { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool initialised_ = false;
    int error_ = 0;
};

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

struct PipeReader::Handle {
    Fd fd;
};

struct ChildProcess::Handle {
    pid_t pid = -1;
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
    // The child is never reaped, so its pid cannot be reused under us: an exited
    // child is a zombie, which kill() accepts.
    if (::kill(handle_->pid, SIGKILL) == 0 || errno == ESRCH) return ok();
    return Error::last_system_error();
}

Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio)
{
    if (stdio.in == Stdio::pipe || stdio.err == Stdio::pipe) {
        return Error::message("Only standard output can be a pipe");
    }
    // A NUL would silently cut an argument short.
    if (has_nul(program)) return system_error(EINVAL);
    for (const auto& argument : arguments) {
        if (has_nul(argument)) return system_error(EINVAL);
    }

    std::string program_text(program);
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(program_text.data());
    // posix_spawn takes char* const[] but does not write through it.
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    FileActions actions;
    if (actions.error() != 0) return system_error(actions.error());

    Pipe pipe;
    if (stdio.out == Stdio::pipe) {
        auto made = make_pipe();
        if (!made) return std::move(made).error();
        pipe = std::move(*made);
        // dup2 clears close-on-exec on the copy, so only this child gets the write end.
        if (const int e = ::posix_spawn_file_actions_adddup2(actions.get(), pipe.write.get(), STDOUT_FILENO)) {
            return system_error(e);
        }
    }
    const std::pair<Stdio, int> streams[] = {
        {stdio.in, STDIN_FILENO}, {stdio.out, STDOUT_FILENO}, {stdio.err, STDERR_FILENO}};
    for (const auto& [setup, fd] : streams) {
        if (setup != Stdio::null) continue;
        const int flags = fd == STDIN_FILENO ? O_RDONLY : O_WRONLY;
        if (const int e = ::posix_spawn_file_actions_addopen(actions.get(), fd, "/dev/null", flags, 0)) {
            return system_error(e);
        }
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened without close-on-exec elsewhere in the process (sockets
    // among them) stay ours; the child gets its three streams only.
    if (const int e = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1)) {
        return system_error(e);
    }
#endif

    SpawnAttributes attributes;
    if (attributes.error() != 0) return system_error(attributes.error());

    pid_t pid = -1;
    // glibc reports a failed exec (not found, not executable) as the return value.
    if (const int e = ::posix_spawnp(&pid, program_text.c_str(), actions.get(), attributes.get(), argv.data(),
                                     environ)) {
        return system_error(e);
    }
    pipe.write.reset();

    StartedProcess started;
    started.child = ChildProcess(std::make_unique<ChildProcess::Handle>(ChildProcess::Handle{pid}));
    if (stdio.out == Stdio::pipe) {
        started.output = PipeReader(std::make_unique<PipeReader::Handle>(PipeReader::Handle{std::move(pipe.read)}));
    }
    return started;
}

}  // namespace lumaflick
