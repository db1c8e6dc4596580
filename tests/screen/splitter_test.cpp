#include <gtest/gtest.h>

#include "packet_splitter.hpp"
#include "packet_stream.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;

struct Collected {
    std::vector<Bytes> packets;
    bool framed = true;
};

// Feeds `stream` in chunks that end at the given offsets (and at the end).
Collected feed_in_chunks(const Bytes& stream, const std::vector<std::size_t>& cuts, std::vector<std::uint8_t>& carry)
{
    Collected out;
    std::size_t from = 0;
    auto cut_points = cuts;
    cut_points.push_back(stream.size());
    for (const std::size_t to : cut_points) {
        const std::span<const std::uint8_t> chunk(stream.data() + from, to - from);
        out.framed = split_packets(chunk, carry, [&](std::span<const std::uint8_t> p) {
            out.packets.emplace_back(p.begin(), p.end());
        });
        if (!out.framed) break;
        from = to;
    }
    return out;
}

TEST(PacketSplitter, GivesTheSamePacketsWhereverTheStreamIsCut)
{
    const std::vector<Bytes> packets{init_packet("secret"), button_packet(1, 0, "^3_^0_"),
                                     short_button_packet(2, 6, "^7_"), tiny_packet(), message_packet("hello"),
                                     raw_packet(255, 99)};
    Bytes stream;
    for (const auto& p : packets) stream.insert(stream.end(), p.begin(), p.end());

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        std::vector<std::uint8_t> carry;
        const auto got = feed_in_chunks(stream, {cut}, carry);
        ASSERT_TRUE(got.framed) << "cut at " << cut;
        ASSERT_EQ(got.packets, packets) << "cut at " << cut;
        ASSERT_TRUE(carry.empty()) << "cut at " << cut;
    }

    std::vector<std::size_t> every_byte(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i) every_byte[i] = i;
    std::vector<std::uint8_t> carry;
    EXPECT_EQ(feed_in_chunks(stream, every_byte, carry).packets, packets);
}

TEST(PacketSplitter, StopsAtASizeOfZero)
{
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::size_t> cuts;
        std::size_t packets_before;
    };
    const Bytes zero{0, 3, 0, 0};
    const std::vector<Case> cases{
        {"at the start", join({zero, tiny_packet()}), {}, 0},
        {"after a packet", join({tiny_packet(), zero, tiny_packet()}), {}, 1},
        {"right after a carried packet", join({button_packet(1, 0, "x"), zero, tiny_packet()}), {10}, 1},
        {"a lone zero byte", Bytes{0}, {}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> carry;
        const auto got = feed_in_chunks(c.stream, c.cuts, carry);
        EXPECT_FALSE(got.framed) << c.name;
        EXPECT_EQ(got.packets.size(), c.packets_before) << c.name;
    }
}

}  // namespace
