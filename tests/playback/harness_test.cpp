// The fake LFS's own record keeping: a wrong split or stamp would make every
// wire assertion of the playback tests meaningless. (The splitter itself is
// insim-screen's, tested there.)
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "fake_lfs.hpp"
#include "wire.hpp"

namespace lumaflick::test {
namespace {

using namespace std::chrono_literals;

// A blocking client connected to the fake on loopback; -1 inside on failure.
Fd connect_to(std::uint16_t port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd.get() >= 0 && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fd.reset();
    return fd;
}

Chunk chunk(int ms, std::vector<std::uint8_t> bytes) { return {Clock::time_point(std::chrono::milliseconds(ms)), std::move(bytes)}; }

TEST(SplitPackets, CutsByTheSizeByteAcrossReads)
{
    struct Case {
        const char* name;
        std::vector<Chunk> chunks;
        std::vector<std::size_t> sizes;
        std::vector<int> arrival_ms;
        std::size_t trailing;
    };
    const std::vector<Case> cases{
        {"a packet over three reads stamped by its last byte",
         {chunk(1, {2, 9}), chunk(2, {9, 9, 9}), chunk(3, {9, 9, 9, 1, 3})}, {8}, {3}, 2},
        {"a zero size byte stops the split", {chunk(1, {1, 3, 0, 0, 0, 5, 1, 3, 0, 0})}, {4}, {1}, 6},
        {"nothing received", {}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Split split = split_packets(c.chunks);
        ASSERT_EQ(split.packets.size(), c.sizes.size());
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            EXPECT_EQ(split.packets[i].bytes.size(), c.sizes[i]);
            EXPECT_EQ(split.packets[i].at, Clock::time_point(std::chrono::milliseconds(c.arrival_ms[i])));
        }
        EXPECT_EQ(split.trailing_bytes, c.trailing);
    }
}

TEST(FakeLfs, RecordsUntilItClosesAfterTheGivenByteCount)
{
    FakeLfsOptions options;
    options.close_after_bytes = 6;
    auto lfs = FakeLfs::start(options);
    ASSERT_TRUE(lfs) << lfs.error().debug();

    const Fd client = connect_to((*lfs)->port());
    const int fd = client.get();
    ASSERT_GE(fd, 0);
    const std::uint8_t bytes[] = {2, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof bytes));

    EXPECT_TRUE((*lfs)->wait_closed(5s));
    std::uint8_t reply = 0;
    // The fake never writes: the only thing to read is the end (or a reset).
    EXPECT_LE(::recv(fd, &reply, 1, 0), 0);
    EXPECT_EQ((*lfs)->connections(), 1);
    EXPECT_GE((*lfs)->bytes().size(), 6U);
}

TEST(FakeLfs, HoldsBackReadingForThePause)
{
    FakeLfsOptions options;
    options.pause_after_bytes = 4;
    options.pause_for = 300ms;
    auto lfs = FakeLfs::start(options);
    ASSERT_TRUE(lfs) << lfs.error().debug();

    const Fd client = connect_to((*lfs)->port());
    ASSERT_GE(client.get(), 0);
    const std::uint8_t tiny[] = {1, 3, 0, 0};
    ASSERT_EQ(::send(client.get(), tiny, sizeof tiny, MSG_NOSIGNAL), 4);
    ASSERT_TRUE((*lfs)->wait_bytes(4, 5s));
    ASSERT_EQ(::send(client.get(), tiny, sizeof tiny, MSG_NOSIGNAL), 4);
    ASSERT_TRUE((*lfs)->wait_bytes(8, 5s));

    const auto chunks = (*lfs)->chunks();
    ASSERT_EQ(chunks.size(), 2U);
    EXPECT_GE(chunks[1].at - chunks[0].at, 290ms);
}

}  // namespace
}  // namespace lumaflick::test
