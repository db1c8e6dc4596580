#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <functional>
#include <sstream>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "video/decoder.hpp"
#include "video/error_tail.hpp"
#include "frame.hpp"
#include "video/pipe_stream.hpp"
#include "video/process.hpp"
#include "pipe_stream_reads.hpp"
#include "scripted_decoder_setup.hpp"

namespace lumaflick {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ScriptedDecoderSetup;

// Reads until end of output, at most `limit` long (the child's plan bounds it);
// returns the bytes read, or -1 when the output was still open at the limit.
long long drain(PipeReader& pipe, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::array<std::byte, FRAME_SIZE> buffer{};
    long long total = 0;
    for (;;) {
        auto n = pipe.read(buffer);
        if (!n) {
            ADD_FAILURE() << n.error().debug();
            return -1;
        }
        if (*n == 0) return std::chrono::steady_clock::now() <= deadline ? total : -1;
        total += static_cast<long long>(*n);
    }
}

TEST(StartProcess, ReportsAProgramThatCannotStartAsASystemError)
{
    const test::TempDir dir;
    const auto plain = dir.write("not-executable", "#!/bin/sh\necho hi\n");
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory(dir.path() / "folder");

    const std::pair<std::string, std::errc> cases[] = {
        {"lumaflick-no-such-program", std::errc::no_such_file_or_directory},
        {(dir.path() / "missing").string(), std::errc::no_such_file_or_directory},
        {"", std::errc::no_such_file_or_directory},
        {plain.string(), std::errc::permission_denied},
        {(dir.path() / "folder").string(), std::errc::permission_denied},
    };
    for (const auto& [program, expected] : cases) {
        const std::vector<std::string> arguments{"-i", "x"};
        auto started = start_process(program, arguments, {.out = Stdio::pipe});
        ASSERT_FALSE(started) << program;
        EXPECT_TRUE(started.error().is_system()) << program;
        EXPECT_EQ(started.error().code(), expected) << program << ": " << started.error().debug();
        EXPECT_FALSE(start_sound(program, arguments)) << program;
    }
}

TEST(StartProcess, RefusesWhatItCannotPassOn)
{
    const std::vector<std::string> with_nul{std::string("a\0b", 3)};
    auto nul = start_process(ScriptedDecoderSetup::program(), with_nul, {});
    ASSERT_FALSE(nul);
    EXPECT_EQ(nul.error().code(), std::errc::invalid_argument);

    EXPECT_FALSE(start_process(ScriptedDecoderSetup::program(), {}, {.in = Stdio::pipe}));
}

TEST(StartProcess, StandardOutputAndErrorEachHaveTheirOwnPipe)
{
    ScriptedDecoderSetup setup("say to out\ncomplain to err\nsay more\n");
    auto started = start_process(ScriptedDecoderSetup::program(), {}, {.out = Stdio::pipe, .err = Stdio::pipe});
    ASSERT_TRUE(started) << started.error().debug();
    const auto read_all = [](PipeReader& pipe) {
        std::string text;
        std::array<std::byte, 256> buffer;
        for (auto got = pipe.read(buffer); got && *got > 0; got = pipe.read(buffer)) {
            text.append(reinterpret_cast<const char*>(buffer.data()), *got);
        }
        return text;
    };
    EXPECT_EQ(read_all(started->output), "to out\nmore\n");
    EXPECT_EQ(read_all(started->errors), "to err\n");
}

TEST(StartProcess, LooksUpABareNameOnThePathButNotANameWithASlash)
{
    ScriptedDecoderSetup setup("frame 3 1\n");
    fs::create_directory(setup.dir().path() / "bin");
    fs::create_symlink(ScriptedDecoderSetup::program(), setup.dir().path() / "bin" / "fake-decoder");
    // As execvp does: past a file it may not execute, which alone is EACCES.
    fs::permissions(setup.dir().write("fake-decoder", "#!/bin/sh\n"), fs::perms::owner_read);
    const std::string plain = setup.dir().path().string();
    std::optional<test::ScopedEnv> path(std::in_place, "PATH", plain + ":" + plain + "/bin");

    auto bare = start_decoder("fake-decoder", {"bare"});
    ASSERT_TRUE(bare) << bare.error().debug();
    EXPECT_EQ(drain(bare->output, 5s), 3);
    path.emplace("PATH", plain);
    auto denied = start_decoder("fake-decoder", {});
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().code(), std::errc::permission_denied);
    // Unset, it is the system's default.
    path.reset();
    const std::string saved = std::getenv("PATH");
    ::unsetenv("PATH");
    EXPECT_TRUE(start_process("true", {}, {}));
    ::setenv("PATH", saved.c_str(), 1);

    // Relative to the working folder, which holds no bin/.
    auto relative = start_decoder("bin/fake-decoder", {"relative"});
    ASSERT_FALSE(relative);
    EXPECT_EQ(relative.error().code(), std::errc::no_such_file_or_directory);

    const auto runs = setup.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, std::vector<std::string>{"bare"});
}

TEST(Terminate, KillsARunningChild)
{
    ScriptedDecoderSetup setup("frame 1 1\nhang 5000\nframe 1 2\n");
    auto started = start_decoder(ScriptedDecoderSetup::program(), {});
    ASSERT_TRUE(started) << started.error().debug();
    std::array<std::byte, 1> first{};
    ASSERT_EQ(*started->output.read(first), 1u);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(started->child.terminate());
    EXPECT_EQ(drain(started->output, 3s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    const auto runs = setup.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].exit_code);
}

// waitpid refuses a pid that is no longer our unreaped child.
bool reaped(long pid) { return ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == -1 && errno == ECHILD; }

// Killed or exited, terminate() succeeds again and keeps the status.
TEST(ChildProcess, PollExitTellsHowTheChildEndedAndKeepsIt)
{
    const std::tuple<const char*, ExitStatus, const char*> cases[] = {
        {"exit 0\n", {.code = 0}, "exit status 0"},
        {"exit 3\n", {.code = 3}, "exit status 3"},
        {"hang 60000\n", {.signal = SIGKILL}, "signal 9"},
    };
    for (const auto& [plan, expected, text] : cases) {
        ScriptedDecoderSetup setup(plan);
        auto started = start_decoder(ScriptedDecoderSetup::program(), {});
        ASSERT_TRUE(started) << started.error().debug();
        ChildProcess& child = started->child;
        if (expected.signal) {
            EXPECT_EQ(*child.poll_exit(), std::nullopt);
            ASSERT_TRUE(child.terminate());
            EXPECT_TRUE(reaped(child.id()));
        }
        auto status = child.poll_exit();
        for (int i = 0; i < 500 && status && !*status; ++i, status = child.poll_exit()) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(status && *status) << plan;
        EXPECT_EQ(**status, expected);
        EXPECT_EQ((*status)->describe(), text);
        EXPECT_TRUE(reaped(child.id()));
        EXPECT_TRUE(child.terminate());
        EXPECT_EQ(*child.poll_exit(), *status);
    }
    EXPECT_TRUE(ChildProcess{}.terminate());
}

TEST(LastLine, IsTheLastLineWithTextInAnyCut)
{
    const std::string long_line(LastLine::LIMIT + 10, 'x');
    const struct {
        std::vector<std::string> pieces;
        std::string line;
    } cases[] = {
        {{}, ""},
        {{"one\ntwo\n"}, "two"},
        {{"one\ntw", "o\n", "\n  \r\n"}, "two"},
        {{"done\nunfinished"}, "unfinished"},
        {{"  frame=  10 \r", "  frame=  20 \r"}, "frame=  20"},
        {{"audio open failed\r\n", "\t\n"}, "audio open failed"},
        {{long_line, "\n"}, long_line.substr(0, LastLine::LIMIT)},
    };
    for (const auto& c : cases) {
        LastLine last;
        for (const auto& piece : c.pieces) last.add(piece);
        EXPECT_EQ(last.line(), c.line) << ::testing::PrintToString(c.pieces);
    }
}

// Far more than a pipe holds: the child never blocks, and only its last line is kept.
TEST(ErrorTail, KeepsTheLastLineOfAChattyChildThatFailed)
{
    ScriptedDecoderSetup setup("complain 20000 progress 0:01.5 frames 45\ncomplain 1 Audio target 'x' not available\n"
                               "exit 3\n");
    auto started = start_process(ScriptedDecoderSetup::program(), std::vector<std::string>{"decoder"},
                                 {.in = Stdio::null, .out = Stdio::null, .err = Stdio::last_line});
    ASSERT_TRUE(started) << started.error().debug();
    ChildProcess& child = started->child;
    auto status = child.poll_exit();
    for (int i = 0; i < 1000 && status && !*status; ++i, status = child.poll_exit()) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(status && *status);
    EXPECT_EQ((*status)->describe(), "exit status 3");
    EXPECT_EQ(child.last_error_line(), "Audio target 'x' not available");
    // Without the option nothing is kept.
    auto quiet = start_sound(ScriptedDecoderSetup::program(), {"-vn"});
    ASSERT_TRUE(quiet);
    ASSERT_TRUE(quiet->terminate());
    EXPECT_EQ(quiet->last_error_line(), "");
}

// The grandchild of a process that is SIGKILLed dies with it.
TEST(ChildProcess, DiesWithTheProcessThatStartedIt)
{
    const ScriptedDecoderSetup setup("", 30s);
    const pid_t middle = ::fork();
    ASSERT_GE(middle, 0);
    if (middle == 0) {
        auto sound = start_sound(ScriptedDecoderSetup::program(), {"-vn"});
        ::pause();
        ::_exit(0);
    }
    const auto grandchild = setup.wait_for_ready("sound");
    ::kill(middle, SIGKILL);
    ::waitpid(middle, nullptr, 0);
    ASSERT_TRUE(grandchild);

    // Killed, it stays a zombie until its new parent reaps it.
    const auto ended = [pid = grandchild->pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string number, name, state;
        return !(stat >> number >> name >> state) || state == "Z";
    };
    for (int i = 0; i < 500 && !ended(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(ended());
}

// The player ignores SIGPIPE, and a thread may block signals; the child starts with neither.
TEST(StartProcess, ChildStartsWithSignalsAtTheirDefaults)
{
    const auto old_handler = std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    auto started = start_process("sleep", std::vector<std::string>{"30"}, {});
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    std::signal(SIGPIPE, old_handler);
    ASSERT_TRUE(started) << started.error().debug();

    std::ostringstream status;
    status << std::ifstream("/proc/" + std::to_string(started->child.id()) + "/status").rdbuf();
    const auto mask = [text = status.str()](const std::string& name) {
        return std::stoull(text.substr(text.find(name) + name.size()), nullptr, 16);
    };
    EXPECT_EQ(mask("SigIgn:") & (1ULL << (SIGPIPE - 1)), 0u);
    EXPECT_EQ(mask("SigBlk:"), 0u);
}

// Reads chained from the handlers until the end of output, or until `end`
// (posted while a read waits) aborts the pending one.
TEST(PipeStream, ReadsOnTheRuntimeUntilTheEndOrAnAbort)
{
    using End = std::function<void(std::optional<PipeStream>&)>;
    const std::tuple<const char*, End, std::size_t> cases[] = {
        {"frame 2400 1\nframe 100 2\n", nullptr, 2500},
        {"frame 100 1\nclose\nhang 60000\n", nullptr, 100},
        {"hang 60000\n", [](auto& stream) { stream->cancel(); }, 0},
        {"hang 60000\n", [](auto& stream) { stream->close(); }, 0},
        {"hang 60000\n", [](auto& stream) { stream.reset(); }, 0},
    };
    for (const auto& [plan, end, bytes] : cases) {
        const ScriptedDecoderSetup setup(plan);
        asio::io_context context;
        auto started = start_decoder(ScriptedDecoderSetup::program(), {});
        ASSERT_TRUE(started) << started.error().debug();
        auto opened = PipeStream::open(context.get_executor(), std::move(started->output));
        ASSERT_TRUE(opened) << opened.error().debug();
        std::optional<PipeStream> stream = std::move(*opened);
        std::array<std::byte, FRAME_SIZE> buffer{};
        const std::function<void()> meanwhile = [&, &end = end] { end(stream); };
        const auto [total, last] = test::read_to_end(context, stream, buffer, end ? meanwhile : nullptr, 10s);
        ASSERT_TRUE(last) << plan;
        EXPECT_EQ(total, bytes) << plan;
        // Without `end`, the last read is the end of output (0).
        const Error aborted = Error::system(asio::error::operation_aborted);
        EXPECT_EQ(last->has_value(), !end) << plan << (*last ? "" : last->error().debug());
        EXPECT_TRUE(*last || last->error() == aborted) << plan << ": " << last->error().debug();
    }
}

TEST(PipeReader, ReadingAClosedPipeIsAnErrorNotTheEnd)
{
    ScriptedDecoderSetup setup("frame 10 1\n");
    auto started = start_decoder(ScriptedDecoderSetup::program(), {});
    ASSERT_TRUE(started) << started.error().debug();
    PipeReader pipe = std::move(started->output);
    EXPECT_FALSE(started->output.is_open());
    ASSERT_TRUE(pipe.is_open());
    pipe.close();
    EXPECT_FALSE(pipe.is_open());
    std::array<std::byte, 4> buffer{};
    EXPECT_FALSE(pipe.read(buffer));
    EXPECT_FALSE(PipeReader{}.read(buffer));
}

// The sound player starts after ffmpeg and outlives it; if it held a copy of
// ffmpeg's pipe, the end of ffmpeg's output would never be seen.
TEST(PipeWriteEnd, GoesToTheDecoderOnly)
{
    ScriptedDecoderSetup setup("sleep 150\nframe 2400 1\n", 10s);
    auto decoder = start_decoder(ScriptedDecoderSetup::program(), ffmpeg_arguments("v", {}, {}, "f"));
    ASSERT_TRUE(decoder) << decoder.error().debug();
    auto sound = start_sound(ScriptedDecoderSetup::program(), ffplay_arguments("v", {}, {}));
    ASSERT_TRUE(sound) << sound.error().debug();
    ASSERT_TRUE(setup.wait_for_ready("sound"));

    EXPECT_EQ(drain(decoder->output, 5s), static_cast<long long>(FRAME_SIZE));
    EXPECT_TRUE(sound->terminate());
    EXPECT_TRUE(decoder->child.terminate());
}

#ifdef __linux__
std::string link_of(const fs::path& path)
{
    std::error_code error;
    return fs::read_symlink(path, error).string();
}

// The targets of the descriptors from 3 up.
std::vector<std::string> descriptors_of(long pid)
{
    std::vector<std::string> links;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        if (std::stoi(entry.path().filename().string()) > 2) links.push_back(link_of(entry.path()));
    }
    return links;
}

// Checked while both children are alive, from their /proc entries.
TEST(StandardStreams, AreSetUpAsTheDecoderAndSoundPlayerNeed)
{
    // Opened without close-on-exec, as a library might; must not reach the children.
    int stray[2];
    ASSERT_EQ(::pipe(stray), 0);

    ScriptedDecoderSetup setup("hang 5000\n");
    auto decoder = start_decoder(ScriptedDecoderSetup::program(), {"decoder"});
    ASSERT_TRUE(decoder) << decoder.error().debug();
    auto sound = start_sound(ScriptedDecoderSetup::program(), {"-vn"});
    ASSERT_TRUE(sound) << sound.error().debug();
    const auto decoder_run = setup.wait_for_ready("decoder");
    const auto sound_run = setup.wait_for_ready("sound");
    ASSERT_TRUE(decoder_run);
    ASSERT_TRUE(sound_run);

    const auto fd = [](long pid, int n) { return link_of("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(n)); };
    EXPECT_EQ(fd(decoder_run->pid, 0), "/dev/null");
    EXPECT_EQ(fd(decoder_run->pid, 1).rfind("pipe:[", 0), 0u) << fd(decoder_run->pid, 1);
    EXPECT_EQ(fd(decoder_run->pid, 2), link_of("/proc/self/fd/2"));
    for (int n = 0; n < 3; ++n) EXPECT_EQ(fd(sound_run->pid, n), "/dev/null") << n;

    // Beyond its three streams, each has only the plan and log it opened itself.
    const std::string own_files = fs::canonical(setup.dir().path()).string() + "/";
    for (const long pid : {decoder_run->pid, sound_run->pid}) {
        for (const auto& link : descriptors_of(pid)) EXPECT_EQ(link.rfind(own_files, 0), 0u) << pid << ": " << link;
    }

    // Destroyed or replaced, a ChildProcess ends and reaps its child.
    decoder = Error::message("destroyed");
    *sound = ChildProcess{};
    EXPECT_TRUE(reaped(decoder_run->pid) && reaped(sound_run->pid));
    ::close(stray[0]);
    ::close(stray[1]);
}
#endif

}  // namespace
}  // namespace lumaflick
