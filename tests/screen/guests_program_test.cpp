// insim-screen with an events file, against a client that answers the host's
// packets as the player should: the whole picture to a guest who joins or asks
// for it again, nothing to a guest who cleared it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "child_process.hpp"
#include "packet_stream.hpp"
#include "png_image.hpp"
#include "test_env.hpp"

namespace {

using namespace screen_test;
using namespace std::chrono_literals;
using asio::ip::tcp;

Bytes next_packet(tcp::socket& socket)
{
    Bytes packet(4);
    asio::read(socket, asio::buffer(packet));
    packet.resize(std::max<std::size_t>(packet[0] * 4u, 4));
    asio::read(socket, asio::buffer(packet.data() + 4, packet.size() - 4));
    return packet;
}

// Reads until a packet of that type with that byte at `at` arrives; throws after 5 s.
void wait_for(tcp::socket& socket, std::uint8_t type, std::size_t at, std::uint8_t value)
{
    for (;;) {
        const Bytes packet = next_packet(socket);
        if (packet[1] == type && packet.size() > at && packet[at] == value) return;
    }
}

TEST(GuestsProgram, PlaysItsEventsAndReportsEveryConnection)
{
    const lumaflick::test::TempDir dir;
    const auto events = dir.write("events.txt", "# a guest joins, clears and asks again; another comes and goes\n"
                                                "100 join 1 bob\n200 clear 1\n300 request 1\n400 join 2\n500 leave 2\n");
    auto child = ChildProcess::start(
        {INSIM_SCREEN_PATH, "--listen", "127.0.0.1:0", "--port-file", (dir.path() / "port").string(), "--events",
         events.string(), "--stdin-events", "--transcript", (dir.path() / "t.txt").string(), "--snapshot",
         (dir.path() / "host.png").string(), "--guest-snapshot", "1=" + (dir.path() / "bob.png").string()},
        dir.path() / "out", dir.path() / "err");
    ASSERT_TRUE(child);
    const auto port = wait_for_file(dir.path() / "port", 5s);
    ASSERT_TRUE(port);

    asio::io_context context;
    tcp::socket socket(context);
    socket.connect({asio::ip::address_v4::loopback(), static_cast<std::uint16_t>(std::stoi(*port))});
    const timeval timeout{5, 0};
    ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    asio::write(socket, asio::buffer(join({init_packet("", 9, 1, 0), full_frame("1")})));
    wait_for(socket, 18, 3, 1);  // IS_NCN of bob
    asio::write(socket, asio::buffer(full_frame("2")));
    wait_for(socket, 42, 3, 2);  // BFN_USER_CLEAR
    asio::write(socket, asio::buffer(full_frame("3", 0)));
    wait_for(socket, 42, 3, 3);  // BFN_REQUEST
    asio::write(socket, asio::buffer(full_frame("3", 1)));
    wait_for(socket, 19, 3, 2);  // IS_CNL of guest 2
    asio::write(socket, asio::buffer(button_packet(1, 0, "^6_")));
    socket.close();

    ASSERT_EQ(child->wait_for(5s), 0) << read_file(dir.path() / "err");
    const std::string out = read_file(dir.path() / "out");
    for (const char* line : {
             "UCID 0 \"host\": 91 button packets, 0 while cleared, cleared 0, requested 0\n",
             "UCID 1 \"bob\": 61 button packets, 0 while cleared, cleared 1, requested 1, picture the host's\n",
             "UCID 2 \"guest2\": 0 button packets, 0 while cleared, cleared 0, requested 0, left at 0.5",
             "button packets for no connection: 0\n",
         }) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    const std::string transcript = read_file(dir.path() / "t.txt");
    EXPECT_NE(transcript.find(" event clear 1\n"), std::string::npos);
    EXPECT_NE(transcript.find("\" UCID=0\n"), std::string::npos);
    const auto host = insim_screen::read_png((dir.path() / "host.png").string());
    const auto bob = insim_screen::read_png((dir.path() / "bob.png").string());
    ASSERT_TRUE(host && bob);
    EXPECT_EQ(bob->pixels, host->pixels);
}

TEST(GuestsProgram, RefusesBadEventsAndScreenOptionsWithStatusTwo)
{
    const lumaflick::test::TempDir dir;
    const auto bad = dir.write("bad.txt", "100 join 1\n\n200 leave one\n");
    struct Case {
        std::vector<std::string> options;
        std::string complaint;
    };
    const std::vector<Case> cases{
        {{"--events", bad.string()}, "line 3: leave: \"one\" is not a UCID"},
        {{"--events", (dir.path() / "absent").string()}, "--events: cannot read"},
        {{"--show", "255"}, "--show: \"255\" is not a UCID"},
        {{"--guest-snapshot", "bob.png"}, "is not UCID=FILE.png"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{INSIM_SCREEN_PATH};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        auto child = ChildProcess::start(argv, dir.path() / "out", dir.path() / "err");
        ASSERT_TRUE(child);
        EXPECT_EQ(child->wait_for(5s), 2) << c.complaint;
        EXPECT_NE(read_file(dir.path() / "err").find(c.complaint), std::string::npos) << read_file(dir.path() / "err");
    }
}

}  // namespace
