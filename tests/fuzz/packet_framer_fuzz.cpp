// insim-screen's stream splitter fed one stream in arbitrary pieces must hand
// over the same packets as a plain cut of the whole stream, and its decoder
// must take any packet it is given.
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
#include "packet_decoder.hpp"
#include "packet_splitter.hpp"

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
        const std::size_t length = stream[0] * insim_screen::SIZE_UNIT;
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

void take_packet(std::span<const std::uint8_t> packet, std::vector<Bytes>& packets)
{
    FUZZ_CHECK(packet.size() >= insim_screen::SIZE_UNIT && packet.size() == packet[0] * insim_screen::SIZE_UNIT);
    packets.emplace_back(packet.begin(), packet.end());
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
    Bytes carry;
    const auto feed = [&](std::span<const std::uint8_t> piece) {
        return insim_screen::split_packets(piece, carry, [&](auto packet) { take_packet(packet, packets); });
    };

    bool framing_kept = true;
    auto rest = stream;
    // Every piece length is used at least once (empty pieces too); the bound
    // ends a run of empty pieces, and the remainder then goes in one piece.
    for (std::size_t i = 0; framing_kept && i <= stream.size() + piece_count; ++i) {
        if (rest.empty() && i >= piece_count) break;
        const std::size_t length = piece_count == 0 ? rest.size() : std::min<std::size_t>(pieces[i % piece_count], rest.size());
        framing_kept = feed(rest.first(length));
        rest = rest.subspan(length);
    }
    if (framing_kept && !rest.empty()) framing_kept = feed(rest);

    const Cut expected = reference_cut(stream);
    FUZZ_CHECK(packets == expected.packets);
    FUZZ_CHECK(framing_kept == !expected.framing_lost);
    if (framing_kept) FUZZ_CHECK(carry.size() == expected.trailing);
    return 0;
}
