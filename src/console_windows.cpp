#include "console.hpp"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace lumaflick {

namespace {

// The user's code page, 0 once it is back (or was never changed). Atomic:
// Ctrl+C handlers run on a thread of their own.
std::atomic<UINT> saved_code_page{0};

void restore_code_page() noexcept
{
    if (const UINT page = saved_code_page.exchange(0); page != 0) ::SetConsoleOutputCP(page);
}

extern "C" void restore_at_exit() { restore_code_page(); }

extern "C" void restore_on_abort(int) { restore_code_page(); }

// Ctrl+C, Ctrl+Break, closing the window, logoff, shutdown: the default
// handler that runs next ends the process without running atexit functions.
BOOL WINAPI restore_on_control(DWORD) noexcept
{
    restore_code_page();
    return FALSE;
}

}  // namespace

void use_utf8_console() noexcept
{
    const UINT page = ::GetConsoleOutputCP();
    // 0: no console attached (output into a pipe or file keeps its bytes).
    if (page == 0 || page == CP_UTF8) return;
    if (std::atexit(restore_at_exit) != 0) return;
    ::SetConsoleCtrlHandler(restore_on_control, TRUE);
    std::signal(SIGABRT, restore_on_abort);
    saved_code_page = page;
    if (!::SetConsoleOutputCP(CP_UTF8)) saved_code_page = 0;
}

}  // namespace lumaflick
