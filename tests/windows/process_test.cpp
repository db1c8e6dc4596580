#include <windows.h>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "video/pipe_stream.hpp"
#include "video/process.hpp"
#include "video/process_windows.hpp"
#include "pipe_stream_reads.hpp"
#include "scripted_decoder_log.hpp"
#include "test_env.hpp"
#include "wine_paths.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using Words = std::vector<std::string>;

const std::string echo_path = test::windows_path(ARGUMENT_ECHO_PATH);
const std::string decoder_path = test::windows_path(SCRIPTED_DECODER_PATH);

// Everything the child writes until it closes its output; bounded by the
// child, which always ends on its own.
std::string read_all(PipeReader& output)
{
    std::string all;
    std::byte buffer[4096];
    for (;;) {
        auto got = output.read(buffer);
        if (!got) {
            ADD_FAILURE() << got.error().debug();
            return all;
        }
        if (*got == 0) return all;
        all.append(reinterpret_cast<const char*>(buffer), *got);
    }
}

Words split_records(const std::string& bytes)
{
    Words words;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        words.push_back(bytes.substr(start, end - start));
    }
    return words;
}

const std::vector<Words> awkward_to_pass = {
    {},
    {"", "two words", ""},
    {"C:\\Videos\\my clip.mp4", "C:\\trailing dir\\", "C:\\two\\\\", "\\\\server\\share\\x"},
    {"\"", "say \"hi\"", "\\\"", "a\\\\\"b", "end\\"},
    {"\t", " lead", "trail ", "a\tb"},
    {"\xc3\xa9t\xc3\xa9 vid\xc3\xa9o.mp4", "\xd0\xb2\xd0\xb8\xd0\xb4\xd0\xb5\xd0\xbe \xd0\xba\xd0\xbb\xd0\xb8\xd0\xbf",
     "\xe6\x98\xa0\xe7\x94\xbb", "\xf0\x9f\x8e\xac"},
    {"^0_", "%PATH%", "a&b|c<d>e^f", "!x!"},
};

// argument-echo splits with CommandLineToArgvW, as ffmpeg does: an oracle
// that is not our own splitter.
TEST(StartProcess, ArgumentsArriveUnchangedAndStdinIsTheNullDevice)
{
    for (const auto& arguments : awkward_to_pass) {
        auto started = start_process(echo_path, arguments, {Stdio::null, Stdio::pipe, Stdio::null});
        ASSERT_TRUE(started.has_value()) << started.error().debug();
        Words expected = arguments;
        expected.push_back("stdin:empty");
        EXPECT_EQ(split_records(read_all(started->output)), expected);
        EXPECT_TRUE(started->child.terminate().has_value());
    }
}

TEST(StartProcess, ScriptedDecoderRecordsTheArgumentList)
{
    test::TempDir dir;
    const auto log = dir.path() / "decoder.log";
    test::ScopedEnv log_env("SCRIPTED_DECODER_LOG", log.string());
    test::ScopedEnv plan_env("SCRIPTED_DECODER_PLAN", dir.write("plan", "frames 3 2400 7\n").string());

    const Words arguments{"-re", "-ss", "1:02.5", "-i", "C:\\My Vid\xc3\xa9os\\a \"quoted\" \xd0\xba\xd0\xbb\xd0\xb8\xd0\xbf\\",
                          "-t", "", "-vf", "scale=80:30,fps=30,format=gray", "-f", "rawvideo", "-"};
    auto started = start_process(decoder_path, arguments, {Stdio::null, Stdio::pipe, Stdio::inherit});
    ASSERT_TRUE(started.has_value()) << started.error().debug();
    const std::string frames = read_all(started->output);
    EXPECT_EQ(frames, std::string(3 * 2400, '\x07'));

    const auto run = test::wait_for_ready(log, "decoder", 10s);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->argc, arguments.size());
    EXPECT_EQ(run->args, arguments);
    EXPECT_TRUE(started->child.terminate().has_value());
}

TEST(StartProcess, FindsBareNamesOnTheSearchPathAddingExe)
{
    // The parent's own folder comes first in Windows' search order.
    auto echo = start_process("argument-echo", Words{"found"}, {Stdio::null, Stdio::pipe, Stdio::null});
    ASSERT_TRUE(echo.has_value()) << echo.error().debug();
    EXPECT_EQ(split_records(read_all(echo->output)), (Words{"found", "stdin:empty"}));

    const char* old_path = std::getenv("PATH");
    test::ScopedEnv path("PATH", test::windows_folder(decoder_path) + ";" + (old_path ? old_path : ""));
    test::ScopedEnv linger("SCRIPTED_DECODER_LINGER_MS", "20000");
    auto sound = start_process("scripted-decoder", Words{"-vn"}, {});
    ASSERT_TRUE(sound.has_value()) << sound.error().debug();
    EXPECT_TRUE(sound->child.terminate().has_value());
}

TEST(StartProcess, MissingProgramIsASystemErrorOfKindNotFound)
{
    for (const std::string program : {"lumaflick-no-such-program", "C:\\no\\such\\dir\\ffmpeg.exe"}) {
        auto started = start_process(program, Words{"x"}, {Stdio::null, Stdio::pipe, Stdio::null});
        ASSERT_FALSE(started.has_value());
        EXPECT_TRUE(started.error().is_system());
        EXPECT_EQ(started.error().kind(), "NotFound") << started.error().debug();
    }
}

TEST(StartProcess, RefusesAPipeForStandardInput)
{
    EXPECT_FALSE(start_process(echo_path, {}, {Stdio::pipe, Stdio::null, Stdio::null}).has_value());
}

TEST(StartProcess, StandardOutputAndErrorEachHaveTheirOwnPipe)
{
    test::TempDir dir;
    test::ScopedEnv plan_env("SCRIPTED_DECODER_PLAN", dir.write("plan", "say to out\ncomplain to err\n").string());
    auto started = start_process(decoder_path, {}, {Stdio::null, Stdio::pipe, Stdio::pipe});
    ASSERT_TRUE(started.has_value()) << started.error().debug();
    EXPECT_EQ(read_all(started->output), "to out\n");
    // Standard error is in text mode there.
    EXPECT_EQ(read_all(started->errors), "to err\r\n");
}

TEST(StartProcess, ChildInheritsNoOtherInheritableHandle)
{
    // A pipe whose write end is inheritable, as another child's would be
    // while it is being started on another thread.
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, &inheritable, 0));

    test::ScopedEnv linger("SCRIPTED_DECODER_LINGER_MS", "20000");
    auto sound = start_process(decoder_path, Words{"-vn"}, {});
    ASSERT_TRUE(sound.has_value()) << sound.error().debug();
    ::CloseHandle(write_end);

    // With no writer left anywhere the pipe is broken; a leaked copy in the
    // lingering child would keep it open.
    DWORD available = 0;
    EXPECT_FALSE(::PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    ::CloseHandle(read_end);
    EXPECT_TRUE(sound->child.terminate().has_value());
}

TEST(PipeReader, EndsWhenTheChildClosesItsOutputThoughItLivesOn)
{
    test::TempDir dir;
    test::ScopedEnv plan_env("SCRIPTED_DECODER_PLAN", dir.write("plan", "frame 100 1\nclose\nhang 20000\n").string());
    auto started = start_process(decoder_path, Words{"-i", "x"}, {Stdio::null, Stdio::pipe, Stdio::null});
    ASSERT_TRUE(started.has_value()) << started.error().debug();
    EXPECT_EQ(read_all(started->output).size(), 100u);
    EXPECT_EQ(started->output.read({}).value(), 0u);

    started->output.close();
    EXPECT_FALSE(started->output.is_open());
    std::byte byte[1];
    EXPECT_FALSE(started->output.read(byte).has_value());
    EXPECT_TRUE(started->child.terminate().has_value());
}

// Far more than the pipe holds: the child never blocks, and its last line is kept.
TEST(ChildProcess, KeepsTheLastLineOfItsStandardError)
{
    test::TempDir dir;
    test::ScopedEnv plan_env("SCRIPTED_DECODER_PLAN",
                             dir.write("plan", "complain 20000 progress 0:01.5\ncomplain 1 audio open failed\nexit 3\n")
                                 .string());
    auto started = start_process(decoder_path, Words{"-i", "x"}, {Stdio::null, Stdio::null, Stdio::last_line});
    ASSERT_TRUE(started.has_value()) << started.error().debug();
    auto status = started->child.poll_exit();
    for (int i = 0; i < 1000 && status && !*status; ++i, status = started->child.poll_exit()) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(status && *status);
    EXPECT_EQ(**status, ExitStatus{.code = 3});
    EXPECT_EQ(started->child.last_error_line(), "audio open failed");
}

TEST(ChildProcess, TerminatingRunningOrExitedChildrenSucceeds)
{
    test::ScopedEnv linger("SCRIPTED_DECODER_LINGER_MS", "20000");
    auto running = start_process(decoder_path, Words{"-vn"}, {});
    ASSERT_TRUE(running.has_value()) << running.error().debug();
    EXPECT_TRUE(running->child.terminate().has_value());
    // Now it is dead or dying: termination still succeeds.
    const auto again = running->child.terminate();
    EXPECT_TRUE(again.has_value()) << again.error().debug();

    // This one ends on its own; its output ends first, so poll its exit a while.
    auto exited = start_process(echo_path, {}, {Stdio::null, Stdio::pipe, Stdio::null});
    ASSERT_TRUE(exited.has_value()) << exited.error().debug();
    read_all(exited->output);
    std::this_thread::sleep_for(500ms);
    const auto status = exited->child.terminate();
    EXPECT_TRUE(status.has_value()) << status.error().debug();
    EXPECT_EQ(exited->child.poll_exit().value(), ExitStatus{.code = 0});
    EXPECT_EQ(running->child.poll_exit().value(), ExitStatus{.code = 1});

    ChildProcess none;
    EXPECT_TRUE(none.terminate().has_value());
}

// Through the named pipe: whole frames to the end of output, and a pending
// read aborted by cancel().
TEST(PipeStream, ReadsTheScriptedDecodersFramesOnTheRuntime)
{
    test::TempDir dir;
    const std::tuple<const char*, std::size_t, bool> cases[] = {
        {"frames 3 2400 7\n", 7200, false},
        {"hang 20000\n", 0, true},
    };
    for (const auto& [plan, bytes, cancel] : cases) {
        test::ScopedEnv plan_env("SCRIPTED_DECODER_PLAN", dir.write("plan", plan).string());
        auto started = start_process(decoder_path, Words{"-i", "x"}, {Stdio::null, Stdio::pipe, Stdio::null});
        ASSERT_TRUE(started.has_value()) << started.error().debug();
        asio::io_context context;
        auto opened = PipeStream::open(context.get_executor(), std::move(started->output));
        ASSERT_TRUE(opened.has_value()) << opened.error().debug();
        std::optional<PipeStream> stream = std::move(*opened);
        std::byte buffer[2400];
        const std::function<void()> cancelling = [&] { stream->cancel(); };
        const auto [total, last] = test::read_to_end(context, stream, buffer, cancel ? cancelling : nullptr, 15s);
        ASSERT_TRUE(last.has_value()) << plan;
        EXPECT_EQ(total, bytes) << plan;
        if (cancel) {
            EXPECT_EQ(last->error(), Error::system(asio::error::operation_aborted)) << last->error().debug();
        } else {
            EXPECT_EQ(last->value(), 0u) << plan;
        }
    }
}

// Run by the next test only, in a process of its own that it then kills.
TEST(JobHelper, StartsALingeringChildAndWaits)
{
    if (std::getenv("LUMAFLICK_JOB_HELPER") == nullptr) GTEST_SKIP() << "started by ChildProcess.DiesWithItsParent";
    auto sound = start_process(decoder_path, Words{"-vn"}, {});
    ASSERT_TRUE(sound.has_value()) << sound.error().debug();
    std::this_thread::sleep_for(30s);
}

TEST(ChildProcess, DiesWithItsParent)
{
    char self[MAX_PATH];
    ASSERT_NE(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    test::TempDir dir;
    const auto log = dir.path() / "sound.log";
    test::ScopedEnv log_env("SCRIPTED_DECODER_LOG", log.string());
    test::ScopedEnv helper("LUMAFLICK_JOB_HELPER", "1");
    test::ScopedEnv linger("SCRIPTED_DECODER_LINGER_MS", "30000");
    auto middle = start_process(self, Words{"--gtest_filter=JobHelper.*"}, {});
    ASSERT_TRUE(middle.has_value()) << middle.error().debug();
    const auto run = test::wait_for_ready(log, "sound", 10s);
    ASSERT_TRUE(run.has_value());
    const HANDLE grandchild = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(run->pid));
    ASSERT_NE(grandchild, nullptr);
    ASSERT_TRUE(middle->child.terminate().has_value());
    EXPECT_EQ(::WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0);
    ::CloseHandle(grandchild);
}

}  // namespace
}  // namespace lumaflick
