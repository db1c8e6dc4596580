#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

namespace insim {

// The one error value of the library and of the program that uses it: either a
// fixed message, or an operating-system error with its code, kind and text.
class Error {
public:
    static Error message(std::string text);
    static Error system(std::error_code code);
    // The error of the calling thread's last failed system call
    // (errno on POSIX, GetLastError on Windows).
    static Error last_system_error();

    [[nodiscard]] bool is_message() const noexcept { return std::holds_alternative<std::string>(value_); }
    [[nodiscard]] bool is_system() const noexcept { return !is_message(); }
    // Message text, or the system's message for a system error.
    [[nodiscard]] std::string text() const;
    // Empty for message errors.
    [[nodiscard]] std::error_code code() const noexcept;
    // A short kind name such as "ConnectionRefused", "BrokenPipe", "NotFound" or "WriteZero".
    [[nodiscard]] std::string_view kind() const noexcept;
    // `"text"` with escapes for a message error,
    // `SystemError { code: 111, kind: ConnectionRefused, message: "Connection refused" }` otherwise.
    [[nodiscard]] std::string debug() const;

    friend bool operator==(const Error&, const Error&) = default;

private:
    explicit Error(std::variant<std::string, std::error_code> value) : value_(std::move(value)) {}
    std::variant<std::string, std::error_code> value_;
};

// Errors of our own that have no operating-system code.
enum class io_errc { write_zero = 1 };
const std::error_category& io_category() noexcept;
std::error_code make_error_code(io_errc e) noexcept;

// Kind name of any error code; "Other" when it has none of the known kinds.
std::string_view error_kind(std::error_code code) noexcept;

// Quotes a text as a debug string: `"`, `\` and control characters escaped.
std::string quote_debug(std::string_view text);

}  // namespace insim

template <>
struct std::is_error_code_enum<insim::io_errc> : std::true_type {};
