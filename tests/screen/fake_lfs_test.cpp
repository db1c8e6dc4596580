// The player's tests' fake LFS (tests/support) must answer as insim-screen
// and LFS do, and send its script when told: tests that rely on it would
// otherwise test the fake.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <thread>

#include "fake_lfs.hpp"
#include "host_packets.hpp"
#include "packet_stream.hpp"
#include "wire.hpp"

namespace {

using namespace screen_test;
using namespace std::chrono_literals;
using lumaflick::test::Clock;
using lumaflick::test::FakeLfs;
using lumaflick::test::FakeLfsOptions;
using When = FakeLfsOptions::Scripted::When;

struct Step {
    std::chrono::milliseconds at;  // after the connect
    Bytes bytes;
};

struct Heard {
    Bytes bytes;
    std::optional<Clock::duration> first_at;  // after the connect
    bool closed_by_lfs = false;               // before our own end
};

// A client that sends the steps, listens until `window` is over (or the fake
// closes), then shuts its end and reads to the end.
Heard talk(std::uint16_t port, const std::vector<Step>& steps, std::chrono::milliseconds window)
{
    Heard heard;
    const lumaflick::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Stamped before the connect, so that no accept comes earlier.
    const auto began = Clock::now();
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return heard;
    std::size_t next = 0;
    std::array<std::uint8_t, 4096> buffer{};
    const auto read_some = [&] {
        const ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (n > 0 && !heard.first_at) heard.first_at = Clock::now() - began;
        if (n > 0) heard.bytes.insert(heard.bytes.end(), buffer.begin(), buffer.begin() + n);
        return n > 0;
    };
    for (auto now = began; now < began + window; now = Clock::now()) {
        auto until = began + window;
        if (next < steps.size()) until = std::min(until, began + steps[next].at);
        pollfd events{fd.get(), POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        if (::poll(&events, 1, static_cast<int>(std::max<long>(wait.count(), 0))) > 0 && !read_some()) {
            heard.closed_by_lfs = true;
            return heard;
        }
        for (; next < steps.size() && Clock::now() >= began + steps[next].at; ++next) {
            ::send(fd.get(), steps[next].bytes.data(), steps[next].bytes.size(), MSG_NOSIGNAL);
        }
    }
    ::shutdown(fd.get(), SHUT_WR);
    for (pollfd events{fd.get(), POLLIN, 0}; ::poll(&events, 1, 2000) > 0 && read_some();) {
    }
    return heard;
}

TEST(FakeLfs, AnswersAndSendsItsScriptLikeLfs)
{
    const Bytes version = lumaflick::test::version_packet(7);
    const auto screen_version = insim_screen::make_version_packet(7);
    ASSERT_EQ(version, Bytes(screen_version.begin(), screen_version.end())) << "the two stand-ins differ";
    const Bytes ncn = lumaflick::test::ncn_packet(3, "guest", "Guest", 2);
    const Bytes mso = lumaflick::test::mso_packet("/o hi");
    ASSERT_EQ(mso, insim_screen::make_o_packet("hi")) << "the two stand-ins differ";
    const Bytes block = join({button_packet(1, 0, "a"), button_packet(2, 6, "b")});
    const Bytes init = init_packet("secret", 9, 7);

    struct Case {
        const char* name;
        FakeLfsOptions options;
        std::vector<Step> steps;
        Bytes expected;  // empty with keep-alives: those only
        bool closed_by_lfs;
        std::chrono::milliseconds not_before{0};  // the first answer, after the connect
    };
    FakeLfsOptions answering;
    answering.answer_version = true;
    FakeLfsOptions guarded = answering;
    guarded.password = "secret";
    FakeLfsOptions closing = answering;
    closing.script = {{When::after_init, {}, 0, mso}, {When::at, 10s, 0, ncn}};
    closing.close_after_script = 0;
    FakeLfsOptions timed;
    timed.script = {{When::at, 300ms, 0, ncn}};
    FakeLfsOptions keeping;
    keeping.keepalive_every = 100ms;
    FakeLfsOptions second_block;
    second_block.script = {{When::after_block, {}, 2, mso}};
    const std::vector<Case> cases{
        {"the version for a ReqI", answering, {{0ms, init}}, version, false},
        {"no version for ReqI 0", answering, {{0ms, init_packet("secret", 9, 0)}}, {}, false},
        {"nothing for a wrong password", guarded, {{0ms, init_packet("guess", 9, 7)}}, {}, true},
        {"the script after the answer, then the close", closing, {{0ms, init}}, join({version, mso}), true},
        {"a timed entry", timed, {{0ms, init}}, ncn, false, 300ms},
        {"keep-alives from the accept", keeping, {}, {}, false, 100ms},
        // The first block has all come when the second begins.
        {"a block after a ClickID that does not rise", second_block, {{0ms, join({init, block})}, {200ms, block}}, mso,
         false, 200ms},
        {"a block after another packet", second_block,
         {{0ms, join({init, block})}, {200ms, join({tiny_packet(0), button_packet(3, 12, "c")})}}, mso, false, 200ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto lfs = FakeLfs::start(c.options);
        ASSERT_TRUE(lfs);
        const Heard heard = talk((*lfs)->port(), c.steps, 550ms);
        ASSERT_TRUE((*lfs)->wait_closed(2s));
        EXPECT_EQ(heard.closed_by_lfs, c.closed_by_lfs);
        // The peer's end of file is seen only when the fake did not close first.
        EXPECT_EQ((*lfs)->peer_closed_at().has_value(), !c.closed_by_lfs);
        EXPECT_EQ((*lfs)->sent(), heard.bytes.size());
        if (c.options.keepalive_every > 0ms) {
            // Five in 550 ms, give or take the end.
            EXPECT_GE(heard.bytes.size(), 3 * 4u);
            EXPECT_EQ(heard.bytes.size() % 4, 0u);
            EXPECT_LE(heard.bytes.size(), 7 * 4u);
            for (std::size_t at = 0; at + 4 <= heard.bytes.size(); at += 4) {
                EXPECT_EQ(Bytes(heard.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                heard.bytes.begin() + static_cast<std::ptrdiff_t>(at + 4)),
                          tiny_packet(0));
            }
        } else {
            EXPECT_EQ(heard.bytes, c.expected);
        }
        if (heard.first_at) {
            EXPECT_GE(*heard.first_at, c.not_before);
        }
    }
}

TEST(FakeLfs, ReadsNoFasterThanItsRate)
{
    FakeLfsOptions options;
    options.read_rate = 30'000;
    auto lfs = FakeLfs::start(options);
    ASSERT_TRUE(lfs);
    const auto began = Clock::now();
    std::thread client([port = (*lfs)->port()] { talk(port, {{0ms, full_frame("7")}, {0ms, full_frame("3")}}, 100ms); });
    // 15,120 bytes at 30,000 a second: half a second at least, less one 10-ms quantum.
    EXPECT_TRUE((*lfs)->wait_bytes(2 * 7560, 10s));
    EXPECT_GE(Clock::now() - began, 480ms);
    client.join();
}

}  // namespace
