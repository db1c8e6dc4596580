#include "process_probe.hpp"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumaflick::test {

std::optional<long> parent_of(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    // The command name may hold spaces and parentheses: fields resume after the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size()) return std::nullopt;
    long parent = 0;
    if (std::from_chars(line.data() + close + 4, line.data() + line.size(), parent).ec != std::errc{})
        return std::nullopt;
    return parent;
}

std::vector<long> children_of(long pid)
{
    std::vector<long> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        long child = 0;
        const auto [end, failure] = std::from_chars(name.data(), name.data() + name.size(), child);
        if (failure == std::errc{} && end == name.data() + name.size() && parent_of(child) == pid)
            children.push_back(child);
    }
    return children;
}

std::optional<std::size_t> resident_kib(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    constexpr std::string_view key = "VmRSS:";
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(key)) continue;
        const auto digits = line.find_first_of("0123456789");
        std::size_t value = 0;
        if (digits == std::string::npos ||
            std::from_chars(line.data() + digits, line.data() + line.size(), value).ec != std::errc{})
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace lumaflick::test
