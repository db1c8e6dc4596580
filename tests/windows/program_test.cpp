#include <windows.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "video/process_windows.hpp"
#include "wine_paths.hpp"

namespace lumaflick {
namespace {

// Runs lumaflick.exe with a raw UTF-16 command line, which start_process
// cannot build: it accepts valid UTF-8 only. `watch` runs every few
// milliseconds while the program runs.
DWORD exit_status(const std::wstring& arguments, const std::function<void()>& watch = [] {})
{
    const auto program = utf8_to_wide(test::windows_path(LUMAFLICK_EXE_PATH));
    EXPECT_TRUE(program.has_value());
    std::wstring line = L"\"" + program.value() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return 255;
    }
    ::CloseHandle(info.hThread);
    DWORD status = 255;
    DWORD waited = WAIT_TIMEOUT;
    for (int i = 0; i < 3000 && waited == WAIT_TIMEOUT; ++i) {
        watch();
        waited = ::WaitForSingleObject(info.hProcess, 10);
    }
    if (waited == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(info.hProcess, &status);
    } else {
        ADD_FAILURE() << "lumaflick.exe did not end in time";
        ::TerminateProcess(info.hProcess, 1);
    }
    ::CloseHandle(info.hProcess);
    return status;
}

TEST(ProgramCommandLine, UnpairedSurrogateIsAUsageErrorButPairsAreText)
{
    EXPECT_EQ(exit_status(L"-a 127.0.0.1:1 -p pw -v clip\xd800.mp4"), 2u);
    EXPECT_EQ(exit_status(L"-a 127.0.0.1:1 -p pw -v \"x \xdc00\""), 2u);
    // Valid text passes the parser; the refused connection then ends it.
    EXPECT_EQ(exit_status(L"-a 127.0.0.1:1 -p pw -v \"vid\x00e9o \xd83c\xdfac.mp4\""), 1u);
}

// Needs a console: ctest runs it on a terminal of its own (script), where
// wine gives the process one; the rest of the tests run without.
TEST(ConsoleCodePage, Utf8WhileRunningAndTheUsersBackOnEveryWayOut)
{
    ASSERT_NE(::GetConsoleOutputCP(), 0u) << "no console";
    constexpr UINT users = 850;
    ASSERT_TRUE(::SetConsoleOutputCP(users));
    // A fake LFS: the system accepts connections on it; nobody reads.
    asio::io_context io;
    const asio::ip::tcp::acceptor lfs(io, {asio::ip::address_v4::loopback(), 0});
    const std::wstring address = L"-a 127.0.0.1:" + std::to_wstring(lfs.local_endpoint().port());
    const struct {
        const char* way_out;
        std::wstring arguments;
        DWORD status;
    } cases[] = {
        // Connected, then a long pause that leaves time to look.
        {"return with an error", address + L" -p pw -v v --delay 1500 -f \"Z:\\no such ffmpeg.exe\"", 1},
        {"exit after a usage error", address + L" -p pw -v v stray", 2},
        {"exit after the version", L"-V", 0},
    };
    // Wine delivers no Ctrl+Break to a console process group (measured), so
    // that way out stays untested here.
    for (const auto& c : cases) {
        bool utf8 = false;
        EXPECT_EQ(exit_status(c.arguments, [&] { utf8 = utf8 || ::GetConsoleOutputCP() == CP_UTF8; }), c.status)
            << c.way_out;
        if (c.status == 1) {
            EXPECT_TRUE(utf8) << c.way_out;
        }
        EXPECT_EQ(::GetConsoleOutputCP(), users) << c.way_out;
    }
}

}  // namespace
}  // namespace lumaflick
