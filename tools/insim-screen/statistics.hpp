#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace insim_screen {

struct TypeCount {
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
};

struct Statistics {
    std::array<TypeCount, 256> by_type{};  // indexed by the Type byte
    std::uint64_t frames = 0;
    std::uint64_t warnings = 0;
    std::uint64_t unaddressed = 0;  // button packets for a UCID not connected
    std::uint64_t bytes = 0;  // everything received, whole packets or not

    void count_packet(std::uint8_t type, std::size_t length) noexcept
    {
        ++by_type[type].packets;
        by_type[type].bytes += length;
    }
};

// Lines such as "  IS_BTN      3120 packets     786240 bytes", a line per type
// seen, then frames, warnings and the received total.
std::string format_summary(const Statistics& statistics, std::chrono::steady_clock::duration lasted);

}  // namespace insim_screen
