// The framer cuts what LFS sends; a wrong cut would misread every later packet.
#include "insim/incoming.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// `size` × 4 bytes of the given type, each byte after the head its own offset
// (so that a misplaced byte shows).
Bytes packet(std::uint8_t size, std::uint8_t type)
{
    Bytes out(size * insim::SIZE_UNIT);
    out[0] = size;
    out[1] = type;
    for (std::size_t i = 2; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i);
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Fed {
    std::vector<Bytes> packets;
    bool framed = true;
};

// Feeds `stream` in pieces that end at the given offsets (and at the end),
// through one framer, and goes on feeding after a failure.
Fed feed_in_pieces(insim::PacketFramer& framer, const Bytes& stream, std::vector<std::size_t> cuts)
{
    Fed out;
    std::size_t from = 0;
    cuts.push_back(stream.size());
    for (const std::size_t to : cuts) {
        const auto status = framer.feed(std::span(stream).subspan(from, to - from),
                                        [&](std::span<const std::uint8_t> p) { out.packets.emplace_back(p.begin(), p.end()); });
        out.framed = out.framed && status.has_value();
        from = to;
    }
    return out;
}

TEST(PacketFramer, GivesTheSamePacketsWhereverTheStreamIsCut)
{
    // The largest packet fills the fixed carry exactly.
    const std::vector<Bytes> packets{packet(1, 3), packet(5, 2), packet(255, 99), packet(14, 18), packet(2, 42)};
    const Bytes stream = join({packets[0], packets[1], packets[2], packets[3], packets[4]});

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        insim::PacketFramer framer;
        const auto got = feed_in_pieces(framer, stream, {cut});
        ASSERT_TRUE(got.framed) << "cut at " << cut;
        ASSERT_EQ(got.packets, packets) << "cut at " << cut;
        ASSERT_TRUE(framer.finish()) << "cut at " << cut;
    }
    std::vector<std::size_t> every_byte(stream.size());
    for (std::size_t i = 0; i < stream.size(); ++i) every_byte[i] = i;
    insim::PacketFramer framer;
    EXPECT_EQ(feed_in_pieces(framer, stream, every_byte).packets, packets);
}

TEST(PacketFramer, SaysWhereTheStreamEnded)
{
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::size_t> cuts;
        std::size_t packets;  // handed over
        bool framed;          // no feed failed
        std::size_t pending;
        bool finished;  // finish() succeeds
    };
    const Bytes zero{0, 3, 0, 0};
    const Bytes version = packet(5, 2);
    const std::vector<Case> cases{
        {"at a packet's end", join({packet(1, 3), packet(2, 19)}), {4}, 2, true, 0, true},
        {"after a size byte", join({packet(1, 3), Bytes{2}}), {}, 1, true, 1, false},
        {"inside a packet fed in two pieces", Bytes(version.begin(), version.end() - 1), {7}, 0, true, 19, false},
        {"a size of 0 at the start", join({zero, packet(1, 3)}), {}, 0, false, 0, false},
        {"a size of 0 after a packet", join({packet(1, 3), zero, packet(1, 3)}), {}, 1, false, 0, false},
        {"a size of 0 right after a carried packet", join({packet(3, 45), zero, packet(1, 3)}), {10}, 1, false, 0, false},
        // Nothing from a size of 0 on, even in later pieces that look whole.
        {"pieces after a size of 0", join({Bytes{0}, packet(1, 3), packet(1, 3)}), {1, 5}, 0, false, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        insim::PacketFramer framer;
        const auto got = feed_in_pieces(framer, c.stream, c.cuts);
        EXPECT_EQ(got.packets.size(), c.packets);
        EXPECT_EQ(got.framed, c.framed);
        EXPECT_EQ(framer.broken(), !c.framed);
        EXPECT_EQ(framer.pending(), c.pending);
        EXPECT_EQ(framer.finish().has_value(), c.finished);
    }
}

}  // namespace
