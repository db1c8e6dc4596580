// insim-screen with an events file, against a client that answers the host's
// packets as the player should: the whole picture to a guest who joins or asks
// for it again, nothing to a guest who cleared it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

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

// Sends the bytes, then reads until a packet of that type with that byte 3 (UCID, or IS_BFN's SubT)
// arrives, and returns it; the socket's timeout ends a wait in vain.
Bytes send_then_wait(tcp::socket& socket, const Bytes& bytes, std::uint8_t type, std::uint8_t third)
{
    asio::write(socket, asio::buffer(bytes));
    for (Bytes packet(4);; packet.resize(4)) {
        asio::read(socket, asio::buffer(packet));
        packet.resize(std::max<std::size_t>(packet[0] * 4u, 4));
        asio::read(socket, asio::buffer(packet.data() + 4, packet.size() - 4));
        if (packet[1] == type && packet[3] == third) return packet;
    }
}

TEST(GuestsProgram, PlaysItsEventsAndReportsEveryConnection)
{
    const lumaflick::test::TempDir dir;
    const auto events = dir.write("events.txt", "# a guest joins, clears and asks again; another comes and goes\n"
                                                "100 join 1 bob\n200 clear 1\n300 request 1\n400 join 2\n500 leave 2\n"
                                                "600 o pause\n");
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
    send_then_wait(socket, join({init_packet("", 9, 1, 0), full_frame("1")}), 18, 1);  // IS_NCN of bob
    send_then_wait(socket, full_frame("2"), 42, 2);                                    // BFN_USER_CLEAR
    send_then_wait(socket, full_frame("3", 0), 42, 3);                                 // BFN_REQUEST
    send_then_wait(socket, full_frame("3", 1), 19, 2);                                 // IS_CNL of guest 2
    EXPECT_EQ(send_then_wait(socket, {}, 11, 0),
              (Bytes{5, 11, 0, 0, 0, 0, 3, 0, '/', 'o', ' ', 'p', 'a', 'u', 's', 'e', 0, 0, 0, 0}));  // IS_MSO
    asio::write(socket, asio::buffer(join({local_message_packet("Paused"), button_packet(1, 0, "^6_")})));
    socket.close();

    ASSERT_EQ(child->wait_for(5s), 0) << read_file(dir.path() / "err");
    const std::string out = read_file(dir.path() / "out");
    for (auto line : {"\"bob\": 61 button packets, 0 while cleared, cleared 1, requested 1, picture the host's\n",
                      "\"guest2\": 0 button packets, 0 while cleared, cleared 0, requested 0, left at 0.5",
                      "\nevent: o \"pause\"\nlocal message: Paused\n",
                      "IS_MSL            1 packets         132 bytes\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    const std::string transcript = read_file(dir.path() / "t.txt");
    EXPECT_NE(transcript.find(" event clear 1\n"), std::string::npos);
    EXPECT_NE(transcript.find(" IS_MSL - \"Paused\"\n"), std::string::npos) << transcript;
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
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{INSIM_SCREEN_PATH, "--events", bad.string()}, "line 3: leave: \"one\" is not a UCID"},
        {{INSIM_SCREEN_PATH, "--events", (dir.path() / "absent").string()}, "--events: cannot read"},
        {{INSIM_SCREEN_PATH, "--show", "255"}, "--show: \"255\" is not a UCID"},
        {{INSIM_SCREEN_PATH, "--guest-snapshot", "bob.png"}, "is not UCID=FILE.png"},
    };
    for (const auto& [argv, complaint] : cases) {
        auto child = ChildProcess::start(argv, dir.path() / "out", dir.path() / "err");
        ASSERT_TRUE(child);
        EXPECT_EQ(child->wait_for(5s), 2) << complaint;
        EXPECT_NE(read_file(dir.path() / "err").find(complaint), std::string::npos) << read_file(dir.path() / "err");
    }
}

}  // namespace
