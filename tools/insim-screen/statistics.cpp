#include "statistics.hpp"

#include <cinttypes>
#include <cstdio>

#include "packet_decoder.hpp"

namespace insim_screen {

std::string format_summary(const Statistics& statistics, std::chrono::steady_clock::duration lasted)
{
    std::string out;
    char line[128];
    const double seconds = std::chrono::duration<double>(lasted).count();
    std::snprintf(line, sizeof line, "summary after %.2f s:\n", seconds);
    out += line;
    for (std::size_t type = 0; type < statistics.by_type.size(); ++type) {
        const auto& count = statistics.by_type[type];
        if (count.packets == 0) continue;
        std::snprintf(line, sizeof line, "  %-9s %9" PRIu64 " packets %11" PRIu64 " bytes\n",
                      packet_type_name(static_cast<std::uint8_t>(type)).c_str(), count.packets, count.bytes);
        out += line;
    }
    std::snprintf(line, sizeof line, "  frames seen %" PRIu64 ", warnings %" PRIu64 ", bytes received %" PRIu64 "\n",
                  statistics.frames, statistics.warnings, statistics.bytes);
    out += line;
    return out;
}

}  // namespace insim_screen
