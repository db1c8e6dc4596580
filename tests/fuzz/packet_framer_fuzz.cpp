// The InSim library's framer fed one stream in arbitrary pieces must hand over
// the same packets as a plain cut of the whole stream, stop for good at a Size
// of 0 and know whether the stream ended inside a packet; the library's and
// insim-screen's decoders must take any packet it hands over.
//
// Input: a byte k, then k % 16 piece lengths (one byte each, 0 allowed), then
// the stream, which is fed in pieces of those lengths in turn.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "fuzz_check.hpp"
#include "insim/incoming.hpp"
#include "packet_decoder.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Cut {
    std::vector<Bytes> packets;
    bool framing_lost = false;
    std::size_t trailing = 0;
};

Cut reference_cut(std::span<const std::uint8_t> stream)
{
    Cut cut;
    while (!stream.empty()) {
        const std::size_t length = stream[0] * insim::SIZE_UNIT;
        if (length == 0) {
            cut.framing_lost = true;
            return cut;
        }
        if (length > stream.size()) {
            cut.trailing = stream.size();
            return cut;
        }
        cut.packets.emplace_back(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
        stream = stream.subspan(length);
    }
    return cut;
}

template <typename View>
bool expected_as(std::span<const std::uint8_t> packet, const insim::Incoming& incoming, std::uint8_t type)
{
    return packet[1] != type || packet.size() != sizeof(View) || std::holds_alternative<View>(incoming);
}

void take_packet(std::span<const std::uint8_t> packet, std::vector<Bytes>& packets)
{
    FUZZ_CHECK(packet.size() >= insim::SIZE_UNIT && packet.size() == packet[0] * insim::SIZE_UNIT);
    packets.emplace_back(packet.begin(), packet.end());

    // Whatever LFS sends, the library reads it or calls it another packet.
    const insim::Incoming incoming = insim::decode(packet);
    if (const auto* other = std::get_if<insim::OtherPacket>(&incoming)) FUZZ_CHECK(other->Type == packet[1]);
    if (const auto* message = std::get_if<insim::IS_MSO>(&incoming)) FUZZ_CHECK(message->Msg.back() == 0);
    if (const auto* message = std::get_if<insim::IS_III>(&incoming)) FUZZ_CHECK(message->Msg.back() == 0);
    FUZZ_CHECK(expected_as<insim::IS_VER>(packet, incoming, insim::ISP_VER));
    FUZZ_CHECK(expected_as<insim::IS_NCN>(packet, incoming, insim::ISP_NCN));
    FUZZ_CHECK(expected_as<insim::IS_BFN>(packet, incoming, insim::ISP_BFN));

    // Whatever a client sends, the screen's decoder takes it or calls it malformed.
    const auto decoded = insim_screen::decode_packet(packet);
    if (const auto* button = std::get_if<insim_screen::ButtonPacket>(&decoded)) {
        FUZZ_CHECK(button->Text.size() <= insim::BUTTON_TEXT_SIZE);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> input(data, size);
    if (input.empty()) return 0;
    const std::size_t piece_count = input[0] % 16;
    if (input.size() < 1 + piece_count) return 0;
    const auto pieces = input.subspan(1, piece_count);
    const auto stream = input.subspan(1 + piece_count);

    std::vector<Bytes> packets;
    insim::PacketFramer framer;
    bool framing_kept = true;
    const auto feed = [&](std::span<const std::uint8_t> piece) {
        const std::size_t before = packets.size();
        const bool fed = framer.feed(piece, [&](auto packet) { take_packet(packet, packets); }).has_value();
        // Once broken it stays broken and hands over nothing more.
        if (!framing_kept) FUZZ_CHECK(!fed && packets.size() == before);
        framing_kept = framing_kept && fed;
        FUZZ_CHECK(framer.broken() == !framing_kept);
    };

    auto rest = stream;
    // Every piece length is used at least once (empty pieces too), also after
    // the framing is lost; the bound ends a run of empty pieces, and the
    // remainder then goes in one piece.
    for (std::size_t i = 0; i <= stream.size() + piece_count; ++i) {
        if (rest.empty() && i >= piece_count) break;
        const std::size_t length = piece_count == 0 ? rest.size() : std::min<std::size_t>(pieces[i % piece_count], rest.size());
        feed(rest.first(length));
        rest = rest.subspan(length);
    }
    if (!rest.empty()) feed(rest);

    const Cut expected = reference_cut(stream);
    FUZZ_CHECK(packets == expected.packets);
    FUZZ_CHECK(framing_kept == !expected.framing_lost);
    if (framing_kept) FUZZ_CHECK(framer.pending() == expected.trailing);
    FUZZ_CHECK(framer.finish().has_value() == (framing_kept && expected.trailing == 0));
    return 0;
}
