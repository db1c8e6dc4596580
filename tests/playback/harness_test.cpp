// The fake LFS's own record keeping: a wrong split or stamp would make every
// wire assertion of the playback tests meaningless. (The framing itself is
// the InSim library's, tested there; the fake's closing and pausing are
// checked by the fault tests that rely on them.)
#include <gtest/gtest.h>

#include "fake_lfs.hpp"
#include "wire.hpp"

namespace lumaflick::test {
namespace {

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

}  // namespace
}  // namespace lumaflick::test
