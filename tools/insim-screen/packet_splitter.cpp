#include "packet_splitter.hpp"

#include <algorithm>

namespace insim_screen {

bool split_packets(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& carry,
                   const PacketCallback& on_packet)
{
    if (!carry.empty()) {
        // Only packets with a non-zero size are ever carried.
        const std::size_t length = carry.front() * SIZE_UNIT;
        const std::size_t take = std::min(length - carry.size(), bytes.size());
        carry.insert(carry.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (carry.size() < length) return true;
        on_packet(carry);
        carry.clear();
    }
    while (!bytes.empty()) {
        const std::size_t length = bytes.front() * SIZE_UNIT;
        if (length == 0) return false;
        if (bytes.size() < length) {
            carry.assign(bytes.begin(), bytes.end());
            return true;
        }
        on_packet(bytes.first(length));
        bytes = bytes.subspan(length);
    }
    return true;
}

}  // namespace insim_screen
