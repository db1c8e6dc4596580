#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "error.hpp"

namespace lumaflick {
namespace {

struct KindCase {
    int code;
    std::string_view kind;
};

TEST(WindowsErrors, WinsockAndWin32CodesHaveKinds)
{
    const KindCase cases[] = {
        {WSAECONNREFUSED, "ConnectionRefused"}, {WSAECONNRESET, "ConnectionReset"},
        {WSAECONNABORTED, "ConnectionAborted"}, {WSAETIMEDOUT, "TimedOut"},
        {WSAEADDRINUSE, "AddrInUse"},           {WSAENETUNREACH, "NetworkUnreachable"},
        {WSAEACCES, "PermissionDenied"},        {ERROR_BROKEN_PIPE, "BrokenPipe"},
        {ERROR_FILE_NOT_FOUND, "NotFound"},     {ERROR_PATH_NOT_FOUND, "NotFound"},
        {ERROR_ACCESS_DENIED, "PermissionDenied"}, {ERROR_NO_UNICODE_TRANSLATION, "InvalidData"},
        {ERROR_BAD_EXE_FORMAT, "InvalidInput"}, {ERROR_GEN_FAILURE, "Other"},
    };
    for (const auto& c : cases) {
        const auto error = Error::system({c.code, std::system_category()});
        EXPECT_EQ(error.kind(), c.kind) << c.code;
    }
}

TEST(WindowsErrors, LastSystemErrorReadsGetLastError)
{
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    const auto error = Error::last_system_error();
    EXPECT_EQ(error.code().value(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.kind(), "NotFound");
    // The system's text, without the trailing line break Windows adds.
    EXPECT_FALSE(error.text().empty());
    EXPECT_NE(error.text().back(), '\n');
}

TEST(WindowsErrors, RefusedConnectionCarriesWinsockCodeKindAndMessage)
{
    asio::io_context context;
    // A port that was free a moment ago is almost surely still closed.
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address_v4("127.0.0.1"), 0});
    const auto endpoint = acceptor.local_endpoint();
    acceptor.close();

    asio::ip::tcp::socket socket(context);
    std::error_code failure;
    socket.connect(endpoint, failure);
    ASSERT_TRUE(failure);
    const auto error = Error::system(failure);
    EXPECT_EQ(error.code().value(), WSAECONNREFUSED);
    EXPECT_EQ(error.kind(), "ConnectionRefused");
    EXPECT_TRUE(error.debug().starts_with("SystemError { code: 10061, kind: ConnectionRefused, message: \""))
        << error.debug();
}

}  // namespace
}  // namespace lumaflick
