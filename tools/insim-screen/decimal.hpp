#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace insim_screen {

// Decimal digits only, no sign, no leading zero unless the number is 0, at most `most`.
inline std::optional<std::uint32_t> parse_decimal(std::string_view text, std::uint32_t most) noexcept
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text.front() == '0')) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value > most) return std::nullopt;
    return value;
}

}  // namespace insim_screen
