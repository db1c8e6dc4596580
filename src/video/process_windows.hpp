#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "error.hpp"

namespace lumaflick {

// Owns one Windows handle (never INVALID_HANDLE_VALUE) and closes it when destroyed.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) noexcept : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    [[nodiscard]] HANDLE get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return handle_ != nullptr; }
    HANDLE release() noexcept { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) noexcept
    {
        if (handle_ != nullptr) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// `argument` as one word of a Windows command line, quoted only when it must
// be, so that the C runtime's splitting gives it back unchanged.
std::string quote_windows_argument(std::string_view argument);

// The program word (always quoted, so a path with blanks stays one word) and
// the quoted arguments, blank-separated, in UTF-8. Refuses what no command
// line can carry: NUL characters, and a quote in the program.
Result<std::string> windows_command_line(std::string_view program, std::span<const std::string> arguments);

// Strict UTF-8 to UTF-16.
Result<std::wstring> utf8_to_wide(std::string_view text);

}  // namespace lumaflick
