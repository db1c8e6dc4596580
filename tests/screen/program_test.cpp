#include <gtest/gtest.h>

#include <csignal>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "child_process.hpp"
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

    void send(const Bytes& bytes)
    {
        asio::io_context context;
        asio::ip::tcp::socket socket(context);
        socket.connect({asio::ip::address_v4::loopback(), port()});
        asio::write(socket, asio::buffer(bytes));
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
        {"--nonsense"},                 {"--snapshot"},
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
}

// The client closes with the replies unread, which resets the connection;
// what came before still counts.
TEST_F(ProgramTest, DrawsAGoodStreamAndExitsWhenTheClientLeaves)
{
    auto child = start({"--password", "secret", "--snapshot", path("shot.png"), "--transcript", path("log.txt")});
    ASSERT_TRUE(child);
    send(join({init_packet("secret"), full_frame("0367"), tiny_packet(), message_packet("done")}));
    ASSERT_EQ(child->wait_for(5s), 0) << err();

    const std::string console = out();
    EXPECT_NE(console.find("message: done"), std::string::npos) << console;
    EXPECT_NE(console.find("IS_BTN           30 packets        7560 bytes"), std::string::npos) << console;
    EXPECT_NE(console.find("frames seen 1, warnings 0"), std::string::npos) << console;

    const auto image = insim_screen::read_png(path("shot.png"));
    ASSERT_TRUE(image);
    const auto colours = insim_screen::snapshot_colours(*image);
    ASSERT_TRUE(colours);
    constexpr Colour pattern[] = {Colour::black, Colour::yellow, Colour::cyan, Colour::white};
    for (std::size_t cell = 0; cell < colours->size(); ++cell) {
        ASSERT_EQ((*colours)[cell], pattern[cell % 80 % 4]) << cell;
    }

    const std::string transcript = read_file(path("log.txt"));
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 33);
    EXPECT_EQ(transcript.find("IS_ISI"), 6u) << transcript.substr(0, 80);
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
