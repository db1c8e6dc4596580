#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "video/process_windows.hpp"
#include "wine_paths.hpp"

namespace lumaflick {
namespace {

// Runs lumaflick.exe with a raw UTF-16 command line, which start_process
// cannot build: it accepts valid UTF-8 only.
DWORD exit_status(const std::wstring& arguments)
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
    if (::WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0) {
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

}  // namespace
}  // namespace lumaflick
