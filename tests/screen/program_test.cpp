#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <functional>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "child_process.hpp"
#include "host_packets.hpp"
#include "packet_stream.hpp"
#include "png_image.hpp"
#include "test_env.hpp"

namespace {

using namespace screen_test;
using namespace std::chrono_literals;
using insim_screen::Colour;

class ProgramTest : public ::testing::Test {
protected:
    // The program with only these options; its output goes to <prefix>out and <prefix>err.
    std::optional<ChildProcess> bare(std::vector<std::string> options, const std::string& prefix = "")
    {
        options.insert(options.begin(), INSIM_SCREEN_PATH);
        return ChildProcess::start(options, dir_.path() / (prefix + "out"), dir_.path() / (prefix + "err"));
    }

    std::optional<ChildProcess> start(std::vector<std::string> options)
    {
        options.insert(options.begin(), {"--listen", "127.0.0.1:0", "--port-file", path("port")});
        return bare(options);
    }

    std::uint16_t port()
    {
        const auto text = wait_for_file(dir_.path() / "port", 5s);
        return text ? static_cast<std::uint16_t>(std::stoi(*text)) : 0;
    }

    // Sends the bytes, and returns what the program sends back within `listen_for`.
    Bytes send(const Bytes& bytes, std::chrono::milliseconds listen_for = 0ms)
    {
        asio::io_context context;
        asio::ip::tcp::socket socket(context);
        socket.connect({asio::ip::address_v4::loopback(), port()});
        asio::write(socket, asio::buffer(bytes));
        Bytes got;
        std::array<std::uint8_t, 256> buffer{};
        std::function<void()> read = [&] {
            socket.async_read_some(asio::buffer(buffer), [&](std::error_code ec, std::size_t n) {
                got.insert(got.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
                if (!ec) read();
            });
        };
        read();
        context.run_for(listen_for);
        return got;
    }

    std::string path(const std::string& name) const { return (dir_.path() / name).string(); }
    std::string out() const { return read_file(dir_.path() / "out"); }
    std::string err() const { return read_file(dir_.path() / "err"); }

    lumaflick::test::TempDir dir_;
};

TEST_F(ProgramTest, RefusesBadCommandLinesWithStatusTwo)
{
    const std::vector<std::vector<std::string>> cases{
        {"--listen", "10.0.0.1:11000"}, {"--listen", "127.0.0.1"},      {"--listen", "127.0.0.1:65536"},
        {"--listen", "127.1:11000"},    {"--listen", "localhost:11000"}, {"--password", "sixteen-letters!"},
        {"--nonsense"},                 {"--snapshot"},                  {"--keepalive", "-5"},
        {"--keepalive", "0x10"},        {"--keepalive", "1.5"},          {"--keepalive", "86400001"},
    };
    for (const auto& options : cases) {
        auto child = bare(options);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->wait_for(5s), 2) << options.back();
        EXPECT_FALSE(err().empty()) << options.back();
    }
    auto help = bare({"--help"});
    ASSERT_TRUE(help);
    EXPECT_EQ(help->wait_for(5s), 0);
    EXPECT_NE(out().find("--snapshot"), std::string::npos);
    EXPECT_NE(out().find("--keepalive"), std::string::npos);
}

// As LFS: the version for an init with a ReqI, then keep-alives as often as
// asked (0 is never, not all the time); nothing at all after a wrong password.
TEST_F(ProgramTest, AnswersLikeLfs)
{
    struct Case {
        const char* keepalive;
        const char* password;
        unsigned fewest_keepalives, most_keepalives;
        int status;
    };
    const auto version = insim_screen::make_version_packet(7);
    for (const Case& c : {Case{"150", "secret", 2, 8, 0}, Case{"0", "secret", 0, 0, 0}, Case{"150", "guess", 0, 0, 1}}) {
        SCOPED_TRACE(std::string(c.keepalive) + " " + c.password);
        std::filesystem::remove(dir_.path() / "port");
        auto child = start({"--password", "secret", "--keepalive", c.keepalive});
        ASSERT_TRUE(child);
        const Bytes got = send(init_packet(c.password, 9, 7), 1000ms);
        EXPECT_EQ(child->wait_for(5s), c.status) << err();
        if (c.status != 0) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_GE(got.size(), version.size());
        EXPECT_EQ(Bytes(got.begin(), got.begin() + version.size()), Bytes(version.begin(), version.end()));
        const Bytes rest(got.begin() + version.size(), got.end());
        ASSERT_EQ(rest.size() % 4, 0u);
        EXPECT_GE(rest.size() / 4, c.fewest_keepalives);
        EXPECT_LE(rest.size() / 4, c.most_keepalives);
        for (std::size_t at = 0; at < rest.size(); at += 4) {
            const auto from = rest.begin() + static_cast<std::ptrdiff_t>(at);
            EXPECT_EQ(Bytes(from, from + 4), tiny_packet(0));
        }
    }
}

TEST_F(ProgramTest, ExitsWithStatusOneAfterAWrongPassword)
{
    auto child = start({"--password", "secret", "--snapshot", path("shot.png")});
    ASSERT_TRUE(child);
    send(join({init_packet("guess"), full_frame("7")}));
    ASSERT_EQ(child->wait_for(5s), 1);
    EXPECT_NE(err().find("wrong admin password"), std::string::npos) << err();
    EXPECT_NE(out().find("IS_ISI            1 packets"), std::string::npos) << out();
    EXPECT_EQ(out().find("IS_BTN"), std::string::npos) << out();
    EXPECT_TRUE(insim_screen::read_png(path("shot.png")));  // the empty screen
}

TEST_F(ProgramTest, StopsOnSigterm)
{
    struct Case {
        std::vector<std::string> options;
        int status;
    };
    for (const auto& c : std::vector<Case>{{{"--keep"}, 0}, {{}, 1}}) {
        std::filesystem::remove(dir_.path() / "port");
        auto child = start(c.options);
        ASSERT_TRUE(child);
        ASSERT_NE(port(), 0);
        child->signal(SIGTERM);
        EXPECT_EQ(child->wait_for(5s), c.status);
    }
}

TEST_F(ProgramTest, ReportsAPortInUse)
{
    auto first = start({});
    ASSERT_TRUE(first);
    const std::uint16_t taken = port();
    ASSERT_NE(taken, 0);
    auto second = bare({"--listen", "127.0.0.1:" + std::to_string(taken)}, "second-");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->wait_for(5s), 1);
    const std::string refused = read_file(path("second-err"));
    EXPECT_NE(refused.find("cannot listen on 127.0.0.1:" + std::to_string(taken)), std::string::npos) << refused;
}

}  // namespace
