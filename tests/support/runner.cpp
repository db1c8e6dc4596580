#include "runner.hpp"

#include "video/unique_fd.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

extern char** environ;

namespace lumaflick::test {

namespace {

insim::Error system_error(int code) { return insim::Error::system(std::error_code(code, std::system_category())); }

struct Pipe {
    Fd read;
    Fd write;
};

insim::Result<Pipe> make_pipe()
{
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) return system_error(errno);
    Pipe pipe{Fd(ends[0]), Fd(ends[1])};
    // Non-blocking, so that draining after the child's exit cannot hang on a
    // grandchild that still holds the write end.
    ::fcntl(pipe.read.get(), F_SETFL, O_NONBLOCK);
    return pipe;
}

struct FileActions {
    posix_spawn_file_actions_t actions{};
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

// Appends what is available now; false once the write end is closed everywhere.
bool drain(int fd, std::string& all, std::vector<OutputLine>& lines, std::size_t& line_start)
{
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            const auto at = Clock::now();
            all.append(buffer.data(), static_cast<std::size_t>(n));
            for (std::size_t end = all.find('\n', line_start); end != std::string::npos;
                 end = all.find('\n', line_start)) {
                lines.push_back({at, all.substr(line_start, end - line_start)});
                line_start = end + 1;
            }
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace

insim::Result<RunOutcome> run(const std::string& program, const std::vector<std::string>& arguments,
                              const RunOptions& options)
{
    auto out = make_pipe();
    if (!out) return std::move(out).error();
    auto err = make_pipe();
    if (!err) return std::move(err).error();

    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        bool replaced = false;
        for (const auto& [name, value] : options.env) replaced = replaced || text.starts_with(name + "=");
        if (!replaced) environment.emplace_back(text);
    }
    for (const auto& [name, value] : options.env) environment.push_back(name + "=" + value);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    FileActions actions;
    ::posix_spawn_file_actions_addopen(&actions.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions.actions, out->write.get(), 1);
    ::posix_spawn_file_actions_adddup2(&actions.actions, err->write.get(), 2);

    RunOutcome outcome;
    outcome.started = Clock::now();
    pid_t pid = 0;
    if (const int failed = ::posix_spawn(&pid, program.c_str(), &actions.actions, nullptr, argv.data(), envp.data()))
        return system_error(failed);
    outcome.pid = pid;
    out->write.reset();
    err->write.reset();

    const auto deadline = outcome.started + options.timeout;
    std::size_t out_start = 0;
    std::size_t err_start = 0;
    bool out_open = true;
    bool err_open = true;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            outcome.timed_out = true;
            break;
        }
        std::array<pollfd, 2> fds{{{out_open ? out->read.get() : -1, POLLIN, 0},
                                   {err_open ? err->read.get() : -1, POLLIN, 0}}};
        ::poll(fds.data(), fds.size(), 5);
        if (out_open) out_open = drain(out->read.get(), outcome.out, outcome.out_lines, out_start);
        if (err_open) err_open = drain(err->read.get(), outcome.err, outcome.err_lines, err_start);
    }
    outcome.ended = Clock::now();
    // Whatever it wrote before its exit is in the pipes by now.
    if (out_open) drain(out->read.get(), outcome.out, outcome.out_lines, out_start);
    if (err_open) drain(err->read.get(), outcome.err, outcome.err_lines, err_start);

    if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    return outcome;
}

}  // namespace lumaflick::test
