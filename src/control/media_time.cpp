#include "control/media_time.hpp"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace lumaflick {

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Up to `most` digits (0: any number), at least one; nullopt on overflow.
std::optional<std::int64_t> take_number(std::string_view& text, std::size_t most)
{
    std::size_t length = 0;
    std::int64_t value = 0;
    while (length < text.size() && is_digit(text[length]) && (most == 0 || length < most)) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return std::nullopt;
        value = value * 10 + (text[length] - '0');
        ++length;
    }
    if (length == 0) return std::nullopt;
    text.remove_prefix(length);
    return value;
}

bool take(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// "MM:SS" or "HH:MM:SS" at the start of `text`, minutes and seconds below 60.
std::optional<std::int64_t> take_clock(std::string_view& text)
{
    std::string_view rest = text;
    std::int64_t parts[3]{};
    std::size_t count = 0;
    for (; count < 3; ++count) {
        if (count > 0 && !take(rest, ":")) break;
        // Hours may have any number of digits, the rest at most two.
        const bool hours = count == 0 && rest.find(':') != rest.rfind(':');
        const auto part = take_number(rest, hours ? 0 : 2);
        if (!part || (!hours && *part > 59)) return std::nullopt;
        parts[count] = *part;
    }
    if (count < 2) return std::nullopt;
    text = rest;
    if (count == 2) return parts[0] * 60 + parts[1];
    if (parts[0] > std::numeric_limits<std::int64_t>::max() / 3600 / 1'000'000) return std::nullopt;
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

}  // namespace

std::optional<MediaTime> parse_media_time(std::string_view text)
{
    const bool negative = take(text, "-");
    std::int64_t seconds = 0;
    if (std::string_view clock = text; auto value = take_clock(clock)) {
        seconds = *value;
        text = clock;
    } else if (auto plain = take_number(text, 0)) {
        seconds = *plain;
    } else {
        return std::nullopt;
    }
    std::int64_t micros = 0;
    if (take(text, ".")) {
        // Digits past the sixth are read and dropped, as ffmpeg does.
        std::int64_t scale = 100'000;
        while (!text.empty() && is_digit(text.front())) {
            micros += scale * (text.front() - '0');
            scale /= 10;
            text.remove_prefix(1);
        }
    }
    std::int64_t unit = 1'000'000;
    if (take(text, "ms")) {
        unit = 1'000;
        micros /= 1'000;
    } else if (take(text, "us")) {
        unit = 1;
        micros = 0;
    } else {
        take(text, "s");
    }
    if (!text.empty()) return std::nullopt;
    if (seconds > (std::numeric_limits<std::int64_t>::max() - micros) / unit) return std::nullopt;
    const std::int64_t total = seconds * unit + micros;
    return MediaTime(negative ? -total : total);
}

std::string ffmpeg_time(MediaTime time)
{
    const std::int64_t micros = time.count();
    const std::int64_t whole = micros / 1'000'000;
    const std::int64_t part = micros % 1'000'000;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", micros < 0 ? "-" : "", static_cast<long long>(whole < 0 ? -whole : whole),
                  static_cast<long long>(part < 0 ? -part : part));
    return text;
}

std::string readable_time(MediaTime time)
{
    const bool negative = time.count() < 0;
    // To the nearest tenth: a frame's time, floored to the microsecond, is shown as meant.
    const std::int64_t tenths = ((negative ? -time.count() : time.count()) + 50'000) / 100'000;
    const std::int64_t seconds = tenths / 10;
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%lld", negative ? "-" : "", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                      static_cast<long long>(tenths % 10));
    } else {
        std::snprintf(text, sizeof text, "%s%lld:%02lld.%lld", negative ? "-" : "", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60), static_cast<long long>(tenths % 10));
    }
    return text;
}

}  // namespace lumaflick
