// The program run with a standard stream whose reader is gone, or that is not
// open at all: it must end with its own exit status, not by SIGPIPE.

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

enum class Stream { pipe_without_reader, closed };

// The wait status of `words` run with `fd` set up as `stream`.
int run_with(const std::vector<std::string>& given, int fd, Stream stream)
{
    std::vector<std::string> words{std::string(LUMAFLICK_PATH)};
    words.insert(words.end(), given.begin(), given.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (stream == Stream::pipe_without_reader) {
        ::posix_spawn_file_actions_adddup2(&actions, ends[1], fd);
    } else {
        ::posix_spawn_file_actions_addclose(&actions, fd);
    }
    // The default disposition, whatever the test runner set.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    EXPECT_EQ(spawned, 0);
    int status = -1;
    if (spawned == 0) {
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    }
    return status;
}

TEST(ClosedStream, ExitStatusSurvivesAMissingReader)
{
    const struct {
        std::vector<std::string> words;
        int fd;
        Stream stream;
        int status;
    } cases[] = {
        {{"--help"}, STDOUT_FILENO, Stream::pipe_without_reader, 0},
        {{"--version"}, STDOUT_FILENO, Stream::pipe_without_reader, 0},
        {{"--version"}, STDOUT_FILENO, Stream::closed, 0},
        {{"-x"}, STDERR_FILENO, Stream::pipe_without_reader, 2},
        {{"-x"}, STDERR_FILENO, Stream::closed, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words) + " fd " + std::to_string(c.fd));
        const int status = run_with(c.words, c.fd, c.stream);
        ASSERT_FALSE(WIFSIGNALED(status)) << "signal " << WTERMSIG(status);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
    }
}

}  // namespace
