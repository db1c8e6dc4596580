#include "insim/error.hpp"

#include <gtest/gtest.h>

#include <asio/error.hpp>

#include <cerrno>
#include <string>
#include <system_error>

namespace {

using insim::Error;

TEST(ErrorDebug, MessagesAreQuotedAndEscaped)
{
    struct Case {
        std::string text;
        std::string debug;
    };
    const Case cases[] = {
        {"Admin password cannot be longer than 15 characters!",
         "\"Admin password cannot be longer than 15 characters!\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\video\\clip.mp4", "\"C:\\\\video\\\\clip.mp4\""},
        {"two\nlines\r\tend", "\"two\\nlines\\r\\tend\""},
        {std::string("nul\0byte", 8), "\"nul\\0byte\""},
        {"bell\x07 esc\x1b del\x7f", "\"bell\\u{7} esc\\u{1b} del\\u{7f}\""},
        // Bytes above ASCII pass through unchanged.
        {"caf\xc3\xa9 ^7_", "\"caf\xc3\xa9 ^7_\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.debug);
        const Error error = Error::message(c.text);
        EXPECT_EQ(error.debug(), c.debug);
        EXPECT_TRUE(error.is_message());
        EXPECT_EQ(error.text(), c.text);
        EXPECT_EQ(error.kind(), "Message");
        EXPECT_FALSE(error.code());
        EXPECT_EQ(error, Error::message(c.text));
        EXPECT_NE(error, Error::message(c.text + "x"));
    }
}

TEST(ErrorDebug, SystemErrorsNameCodeKindAndMessage)
{
    const Error refused = Error::system(std::make_error_code(std::errc::connection_refused));
    EXPECT_TRUE(refused.is_system());
    EXPECT_EQ(refused.kind(), "ConnectionRefused");
    EXPECT_EQ(refused.code(), std::errc::connection_refused);
    EXPECT_NE(refused, Error::message("Connection refused"));
#ifdef __linux__
    EXPECT_EQ(Error::system({ECONNREFUSED, std::system_category()}).debug(),
              "SystemError { code: 111, kind: ConnectionRefused, message: \"Connection refused\" }");
    EXPECT_EQ(Error::system({EPIPE, std::system_category()}).debug(),
              "SystemError { code: 32, kind: BrokenPipe, message: \"Broken pipe\" }");
#endif
}

TEST(ErrorKind, AsioCodesCountAsSystemErrors)
{
    struct Case {
        asio::error::basic_errors asio_error;
        std::errc errc;
        std::string_view kind;
    };
    const Case cases[] = {
        {asio::error::connection_refused, std::errc::connection_refused, "ConnectionRefused"},
        {asio::error::broken_pipe, std::errc::broken_pipe, "BrokenPipe"},
        {asio::error::connection_reset, std::errc::connection_reset, "ConnectionReset"},
    };
    for (const auto& c : cases) {
        const std::error_code asio_code = asio::error::make_error_code(c.asio_error);
        const Error error = Error::system(asio_code);
        EXPECT_EQ(error.kind(), c.kind);
#ifndef _WIN32
        // Windows' library maps no Winsock code to std::errc; the kind is what is portable.
        EXPECT_EQ(error.code(), c.errc);
#endif
        EXPECT_EQ(error.code().value(), asio_code.value());
        EXPECT_EQ(error, Error::system({asio_code.value(), std::system_category()}));
    }
}

TEST(ErrorDebug, WriteZero)
{
    const Error error = Error::system(make_error_code(insim::io_errc::write_zero));
    EXPECT_EQ(error.kind(), "WriteZero");
    EXPECT_EQ(error.text(), "write zero");
    EXPECT_EQ(error.debug(), "SystemError { code: 1, kind: WriteZero, message: \"write zero\" }");
    // Value 1 of our own category is not EPERM.
    EXPECT_NE(error, Error::system({1, std::system_category()}));
}

TEST(ErrorKind, SocketAndFileErrors)
{
    struct Case {
        std::errc errc;
        std::string_view kind;
    };
    const Case cases[] = {
        {std::errc::broken_pipe, "BrokenPipe"},
        {std::errc::connection_reset, "ConnectionReset"},
        {std::errc::connection_aborted, "ConnectionAborted"},
        {std::errc::no_such_file_or_directory, "NotFound"},
        {std::errc::permission_denied, "PermissionDenied"},
        {std::errc::timed_out, "TimedOut"},
        {std::errc::io_error, "Other"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(insim::error_kind(std::make_error_code(c.errc)), c.kind) << static_cast<int>(c.errc);
    }
}

}  // namespace
