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

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "video/decoder.hpp"
#include "frame.hpp"
#include "video/process.hpp"
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
    EXPECT_FALSE(start_process(ScriptedDecoderSetup::program(), {}, {.err = Stdio::pipe}));
}

TEST(StartProcess, LooksUpABareNameOnThePathButNotANameWithASlash)
{
    ScriptedDecoderSetup setup("frame 3 1\n");
    fs::create_directory(setup.dir().path() / "bin");
    fs::create_symlink(ScriptedDecoderSetup::program(), setup.dir().path() / "bin" / "fake-decoder");
    const test::ScopedEnv path("PATH", (setup.dir().path() / "bin").string());

    auto bare = start_decoder("fake-decoder", {"bare"});
    ASSERT_TRUE(bare) << bare.error().debug();
    EXPECT_EQ(drain(bare->output, 5s), 3);

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

TEST(Terminate, SucceedsForAChildThatHasExited)
{
    ScriptedDecoderSetup setup("exit 3\n");
    auto started = start_decoder(ScriptedDecoderSetup::program(), {});
    ASSERT_TRUE(started) << started.error().debug();
    EXPECT_EQ(drain(started->output, 5s), 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(started->child.terminate());
    EXPECT_TRUE(started->child.terminate());

    ChildProcess never_started;
    EXPECT_TRUE(never_started.terminate());
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

std::vector<std::string> descriptors_of(long pid)
{
    std::vector<std::string> links;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        links.push_back(link_of(entry.path()));
    }
    return links;
}

// Checked while both children are alive, from their /proc entries.
TEST(StandardStreams, AreSetUpAsTheDecoderAndSoundPlayerNeed)
{
    // Opened without close-on-exec, as a library might; must not reach the children.
    int stray[2];
    ASSERT_EQ(::pipe(stray), 0);
    const std::string stray_link = link_of("/proc/self/fd/" + std::to_string(stray[1]));

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

    const auto decoder_fds = descriptors_of(decoder_run->pid);
    const auto sound_fds = descriptors_of(sound_run->pid);
    EXPECT_EQ(std::count(decoder_fds.begin(), decoder_fds.end(), stray_link), 0);
    EXPECT_EQ(std::count(sound_fds.begin(), sound_fds.end(), stray_link), 0);
    EXPECT_EQ(std::count(sound_fds.begin(), sound_fds.end(), fd(decoder_run->pid, 1)), 0);

    EXPECT_TRUE(sound->terminate());
    EXPECT_TRUE(decoder->child.terminate());
    ::close(stray[0]);
    ::close(stray[1]);
}
#endif

}  // namespace
}  // namespace lumaflick
