#pragma once

// What LFS sends: the stream cut into whole packets, and typed views of the
// packets a client reads.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <variant>

#include "insim/packets.hpp"
#include "insim/result.hpp"

namespace insim {

// The Size byte counts units of 4 bytes, so no packet is longer than this.
inline constexpr std::size_t SIZE_UNIT = 4;
inline constexpr std::size_t MAX_PACKET_SIZE = 255 * SIZE_UNIT;

inline constexpr std::uint8_t ISP_VER = 2;
inline constexpr std::uint8_t ISP_MSO = 11;
inline constexpr std::uint8_t ISP_III = 12;
inline constexpr std::uint8_t ISP_NCN = 18;
inline constexpr std::uint8_t ISP_CNL = 19;
inline constexpr std::uint8_t ISP_BFN = 42;

inline constexpr std::uint8_t TINY_VER = 1;
inline constexpr std::uint8_t TINY_CLOSE = 2;
inline constexpr std::uint8_t TINY_NCN = 13;

inline constexpr std::uint8_t BFN_DEL_BTN = 0;
inline constexpr std::uint8_t BFN_CLEAR = 1;
inline constexpr std::uint8_t BFN_USER_CLEAR = 2;
inline constexpr std::uint8_t BFN_REQUEST = 3;

inline constexpr std::uint8_t MSO_SYSTEM = 0;
inline constexpr std::uint8_t MSO_USER = 1;
inline constexpr std::uint8_t MSO_PREFIX = 2;
inline constexpr std::uint8_t MSO_O = 3;

// The UCID that addresses every connection of a host.
inline constexpr std::uint8_t UCID_ALL = 255;

struct IS_VER {
    std::uint8_t Size = 5;
    std::uint8_t Type = ISP_VER;
    std::uint8_t ReqI = 0;
    std::uint8_t Zero = 0;
    std::array<std::uint8_t, 8> Version{};
    std::array<std::uint8_t, 6> Product{};
    std::uint8_t InSimVer = 0;
    std::uint8_t Spare = 0;
};

struct IS_NCN {
    std::uint8_t Size = 14;
    std::uint8_t Type = ISP_NCN;
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::array<std::uint8_t, 24> UName{};
    std::array<std::uint8_t, 24> PName{};
    std::uint8_t Admin = 0;
    std::uint8_t Total = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Sp3 = 0;
};

struct IS_CNL {
    std::uint8_t Size = 2;
    std::uint8_t Type = ISP_CNL;
    std::uint8_t ReqI = 0;
    std::uint8_t UCID = 0;
    std::uint8_t Reason = 0;
    std::uint8_t Total = 0;
    std::uint8_t Sp2 = 0;
    std::uint8_t Sp3 = 0;
};

struct IS_BFN {
    std::uint8_t Size = 2;
    std::uint8_t Type = ISP_BFN;
    std::uint8_t ReqI = 0;
    std::uint8_t SubT = 0;
    std::uint8_t UCID = 0;
    std::uint8_t ClickID = 0;
    std::uint8_t ClickMax = 0;
    std::uint8_t Inst = 0;
};

// Sent shorter than its full size: Msg holds what arrived, then zeros.
struct IS_MSO {
    std::uint8_t Size = 34;
    std::uint8_t Type = ISP_MSO;
    std::uint8_t ReqI = 0;
    std::uint8_t Zero = 0;
    std::uint8_t UCID = 0;
    std::uint8_t PLID = 0;
    std::uint8_t UserType = 0;
    std::uint8_t TextStart = 0;
    std::array<std::uint8_t, 128> Msg{};
};

struct IS_III {
    std::uint8_t Size = 18;
    std::uint8_t Type = ISP_III;
    std::uint8_t ReqI = 0;
    std::uint8_t Zero = 0;
    std::uint8_t UCID = 0;
    std::uint8_t PLID = 0;
    std::uint8_t Sp2 = 0;
    std::uint8_t Sp3 = 0;
    std::array<std::uint8_t, 64> Msg{};
};

static_assert(sizeof(IS_VER) == 20 && sizeof(IS_NCN) == 56 && sizeof(IS_CNL) == 8 && sizeof(IS_BFN) == 8);
static_assert(sizeof(IS_MSO) == 136 && offsetof(IS_MSO, Msg) == 8);
static_assert(sizeof(IS_III) == 72 && offsetof(IS_III, Msg) == 8);

// A packet of a type we do not read, or one whose size does not fit its type.
struct OtherPacket {
    std::uint8_t Type = 0;
};

using Incoming = std::variant<OtherPacket, IS_VER, IS_TINY, IS_NCN, IS_CNL, IS_BFN, IS_MSO, IS_III>;

// One whole packet as the framer hands it (Size × 4 bytes, at least 4).
Incoming decode(std::span<const std::uint8_t> packet) noexcept;

// A zero-padded text field up to its first zero byte.
template <std::size_t N>
std::string_view field_text(const std::array<std::uint8_t, N>& field) noexcept
{
    const void* end = std::memchr(field.data(), 0, N);
    const std::size_t length = end == nullptr ? N : static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - field.data());
    return {reinterpret_cast<const char*>(field.data()), length};
}

// Cuts the bytes of a stream, read in any pieces, into whole packets by their
// Size byte. An unfinished packet waits in a fixed carry, so a stream costs no
// allocation and never more than one packet of memory.
class PacketFramer {
public:
    // Hands each packet completed by `bytes` to on_packet(span), oldest first;
    // the span lives only for the call. Fails at a Size of 0, which can never
    // be skipped: nothing from there on is handed over, now or later.
    template <typename OnPacket>
    Status feed(std::span<const std::uint8_t> bytes, OnPacket&& on_packet);

    // The stream has ended: fails when it ended inside a packet.
    [[nodiscard]] Status finish() const;

    [[nodiscard]] bool broken() const noexcept { return broken_; }
    // Bytes of the unfinished packet.
    [[nodiscard]] std::size_t pending() const noexcept { return carried_; }

private:
    [[nodiscard]] static Error size_zero();

    std::array<std::uint8_t, MAX_PACKET_SIZE> carry_{};
    std::size_t carried_ = 0;
    bool broken_ = false;
};

template <typename OnPacket>
Status PacketFramer::feed(std::span<const std::uint8_t> bytes, OnPacket&& on_packet)
{
    if (broken_) return size_zero();
    if (carried_ > 0) {
        // Only a packet with a non-zero size is ever carried.
        const std::size_t length = carry_[0] * SIZE_UNIT;
        const std::size_t take = std::min(length - carried_, bytes.size());
        std::memcpy(carry_.data() + carried_, bytes.data(), take);
        carried_ += take;
        bytes = bytes.subspan(take);
        if (carried_ < length) return ok();
        carried_ = 0;
        on_packet(std::span<const std::uint8_t>(carry_.data(), length));
    }
    while (!bytes.empty()) {
        const std::size_t length = bytes[0] * SIZE_UNIT;
        if (length == 0) {
            broken_ = true;
            return size_zero();
        }
        if (bytes.size() < length) {
            std::memcpy(carry_.data(), bytes.data(), bytes.size());
            carried_ = bytes.size();
            return ok();
        }
        on_packet(bytes.first(length));
        bytes = bytes.subspan(length);
    }
    return ok();
}

}  // namespace insim
