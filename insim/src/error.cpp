#include "insim/error.hpp"

#include <cerrno>
#include <cstdio>

#include <asio/error_code.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

namespace insim {

namespace {

class IoCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "insim.io"; }
    std::string message(int value) const override
    {
        switch (static_cast<io_errc>(value)) {
        case io_errc::write_zero: return "write zero";
        }
        return "unknown error";
    }
};

struct KindEntry {
    std::errc errc;
    std::string_view kind;
};

constexpr KindEntry kinds[] = {
    {std::errc::connection_refused, "ConnectionRefused"},
    {std::errc::connection_reset, "ConnectionReset"},
    {std::errc::connection_aborted, "ConnectionAborted"},
    {std::errc::not_connected, "NotConnected"},
    {std::errc::address_in_use, "AddrInUse"},
    {std::errc::address_not_available, "AddrNotAvailable"},
    {std::errc::network_unreachable, "NetworkUnreachable"},
    {std::errc::host_unreachable, "HostUnreachable"},
    {std::errc::broken_pipe, "BrokenPipe"},
    {std::errc::no_such_file_or_directory, "NotFound"},
    {std::errc::permission_denied, "PermissionDenied"},
    {std::errc::operation_not_permitted, "PermissionDenied"},
    {std::errc::timed_out, "TimedOut"},
    {std::errc::interrupted, "Interrupted"},
    {std::errc::invalid_argument, "InvalidInput"},
    {std::errc::resource_unavailable_try_again, "WouldBlock"},
    {std::errc::not_enough_memory, "OutOfMemory"},
    {std::errc::no_such_process, "NotFound"},
    {std::errc::too_many_files_open, "Uncategorized"},
};

#ifdef _WIN32
struct WinKindEntry {
    int code;
    std::string_view kind;
};

// Winsock and Win32 codes that the C++ library does not map to std::errc.
constexpr WinKindEntry win_kinds[] = {
    {WSAECONNREFUSED, "ConnectionRefused"}, {WSAECONNRESET, "ConnectionReset"},
    {WSAECONNABORTED, "ConnectionAborted"}, {WSAENOTCONN, "NotConnected"},
    {WSAEADDRINUSE, "AddrInUse"},           {WSAEADDRNOTAVAIL, "AddrNotAvailable"},
    {WSAENETUNREACH, "NetworkUnreachable"}, {WSAEHOSTUNREACH, "HostUnreachable"},
    {WSAETIMEDOUT, "TimedOut"},             {WSAEWOULDBLOCK, "WouldBlock"},
    {ERROR_BROKEN_PIPE, "BrokenPipe"},      {ERROR_NO_DATA, "BrokenPipe"},
    {ERROR_FILE_NOT_FOUND, "NotFound"},     {ERROR_PATH_NOT_FOUND, "NotFound"},
    {ERROR_ACCESS_DENIED, "PermissionDenied"}, {ERROR_INVALID_PARAMETER, "InvalidInput"},
    {ERROR_BAD_EXE_FORMAT, "InvalidInput"}, {ERROR_NOT_ENOUGH_MEMORY, "OutOfMemory"},
    {WSAEACCES, "PermissionDenied"},        {WSAEINTR, "Interrupted"},
    {WSAEINVAL, "InvalidInput"},            {ERROR_OUTOFMEMORY, "OutOfMemory"},
    {ERROR_INVALID_NAME, "InvalidInput"},   {ERROR_NO_UNICODE_TRANSLATION, "InvalidData"},
};
#endif

}  // namespace

const std::error_category& io_category() noexcept
{
    static const IoCategory category;
    return category;
}

std::error_code make_error_code(io_errc e) noexcept { return {static_cast<int>(e), io_category()}; }

std::string_view error_kind(std::error_code code) noexcept
{
    if (code.category() == io_category()) {
        return code.value() == static_cast<int>(io_errc::write_zero) ? "WriteZero" : "Other";
    }
#ifdef _WIN32
    if (code.category() == std::system_category()) {
        for (const auto& entry : win_kinds) {
            if (entry.code == code.value()) return entry.kind;
        }
    }
#endif
    for (const auto& entry : kinds) {
        if (code == entry.errc) return entry.kind;
    }
    return "Other";
}

std::string quote_debug(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                char buf[12];
                std::snprintf(buf, sizeof buf, "\\u{%x}", byte);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

Error Error::message(std::string text) { return Error{std::move(text)}; }

Error Error::system(std::error_code code)
{
    // Asio reports operating-system errors in a category of its own that maps
    // no value to std::errc; the same value in the system category does, so
    // kinds and comparisons work whichever layer produced the code.
    if (code.category() == asio::system_category()) code = {code.value(), std::system_category()};
    return Error{code};
}

Error Error::last_system_error()
{
#ifdef _WIN32
    return system({static_cast<int>(::GetLastError()), std::system_category()});
#else
    return system({errno, std::system_category()});
#endif
}

std::string Error::text() const
{
    if (const auto* text = std::get_if<std::string>(&value_)) return *text;
    std::string message = std::get<std::error_code>(value_).message();
    // Windows system messages end with ".\r\n".
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

std::error_code Error::code() const noexcept
{
    if (const auto* code = std::get_if<std::error_code>(&value_)) return *code;
    return {};
}

std::string_view Error::kind() const noexcept
{
    if (is_message()) return "Message";
    return error_kind(code());
}

std::string Error::debug() const
{
    if (is_message()) return quote_debug(std::get<std::string>(value_));
    return "SystemError { code: " + std::to_string(code().value()) + ", kind: " + std::string(kind()) +
           ", message: " + quote_debug(text()) + " }";
}

}  // namespace insim
