#include "control/command.hpp"

#include <array>
#include <cctype>
#include <utility>

namespace lumaflick {

namespace {

bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) noexcept
{
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

bool same_word(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

constexpr std::string_view SEEK_HINT = "lumaflick: seek to where? /o seek +10, /o seek -10, /o seek 1:30";

Heard read_seek(std::string_view argument)
{
    if (argument.empty()) return Hint{std::string(SEEK_HINT)};
    Command seek{Command::Kind::seek};
    if (argument.front() == '+' || argument.front() == '-') {
        seek.relative = true;
        const bool back = argument.front() == '-';
        argument.remove_prefix(1);
        // A second sign would read as ffmpeg's own negative time.
        if (argument.starts_with('-')) return Hint{std::string(SEEK_HINT)};
        const auto by = parse_media_time(argument);
        if (!by) return Hint{std::string(SEEK_HINT)};
        seek.time = back ? -*by : *by;
        return seek;
    }
    const auto to = parse_media_time(argument);
    if (!to) return Hint{std::string(SEEK_HINT)};
    seek.time = *to;
    return seek;
}

}  // namespace

Heard read_command(std::string_view text)
{
    text = trim(text);
    if (text.size() >= 2 && text[0] == '/' && (text[1] == 'o' || text[1] == 'O') &&
        (text.size() == 2 || is_blank(text[2]))) {
        text = trim(text.substr(2));
    }
    std::size_t end = 0;
    while (end < text.size() && !is_blank(text[end])) ++end;
    const std::string_view word = text.substr(0, end);
    const std::string_view rest = trim(text.substr(end));

    if (same_word(word, "seek")) return read_seek(rest);
    constexpr std::array<std::pair<std::string_view, Command::Kind>, 4> plain{{
        {"pause", Command::Kind::pause},
        {"play", Command::Kind::play},
        {"stop", Command::Kind::stop},
        {"help", Command::Kind::help},
    }};
    for (const auto& [name, kind] : plain) {
        if (!same_word(word, name)) continue;
        if (!rest.empty()) return Hint{"lumaflick: " + std::string(name) + " takes nothing after it; /o help lists the commands"};
        return Command{kind};
    }
    return NotOurs{};
}

}  // namespace lumaflick
