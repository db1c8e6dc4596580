#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace insim_screen {

// InSim's size byte counts units of 4 bytes.
inline constexpr std::size_t SIZE_UNIT = 4;

using PacketCallback = std::function<void(std::span<const std::uint8_t> packet)>;

// Cuts the next bytes of a stream into whole packets by their size byte and
// hands each to `on_packet`, oldest first (the span lives only for the call).
// The bytes of an unfinished packet wait in `carry` for the next call.
// Returns false at a size byte of 0: the stream's framing is lost from there on,
// and nothing after it is handed over.
bool split_packets(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& carry,
                   const PacketCallback& on_packet);

}  // namespace insim_screen
