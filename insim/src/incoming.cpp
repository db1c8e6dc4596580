#include "insim/incoming.hpp"

namespace insim {

namespace {

// A fixed-size packet: exactly its own size, or it is not one we can read.
template <typename Packet>
Incoming fixed(std::span<const std::uint8_t> packet) noexcept
{
    if (packet.size() != sizeof(Packet)) return OtherPacket{packet[1]};
    Packet view;
    std::memcpy(&view, packet.data(), sizeof view);
    return view;
}

// A packet with a text at its end, sent only as long as the text needs: its
// head at least, at most the whole record; the rest reads as zeros.
template <typename Packet>
Incoming with_text(std::span<const std::uint8_t> packet) noexcept
{
    constexpr std::size_t head = offsetof(Packet, Msg);
    if (packet.size() <= head || packet.size() > sizeof(Packet)) return OtherPacket{packet[1]};
    Packet view;
    view.Msg.fill(0);
    std::memcpy(&view, packet.data(), packet.size());
    // A text that fills the field to its end keeps its last byte as the end mark.
    view.Msg.back() = 0;
    return view;
}

}  // namespace

Incoming decode(std::span<const std::uint8_t> packet) noexcept
{
    if (packet.size() < SIZE_UNIT) return OtherPacket{packet.size() > 1 ? packet[1] : std::uint8_t{0}};
    switch (packet[1]) {
    case ISP_VER: return fixed<IS_VER>(packet);
    case ISP_TINY: return fixed<IS_TINY>(packet);
    case ISP_NCN: return fixed<IS_NCN>(packet);
    case ISP_CNL: return fixed<IS_CNL>(packet);
    case ISP_BFN: return fixed<IS_BFN>(packet);
    case ISP_MSO: return with_text<IS_MSO>(packet);
    case ISP_III: return with_text<IS_III>(packet);
    default: return OtherPacket{packet[1]};
    }
}

Status PacketFramer::finish() const
{
    if (broken_) return size_zero();
    if (carried_ > 0) return Error::message("The InSim stream ended inside a packet");
    return ok();
}

Error PacketFramer::size_zero() { return Error::message("The InSim stream is broken: a packet of size 0"); }

}  // namespace insim
