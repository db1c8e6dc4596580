#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "control/media_time.hpp"

namespace lumaflick {

// What a person asked of the playback.
struct Command {
    enum class Kind { pause, play, toggle, seek, stop, help };
    Kind kind = Kind::help;
    // seek only: to `time`, or by `time` from where the picture is.
    bool relative = false;
    MediaTime time{0};
    friend bool operator==(const Command&, const Command&) = default;
};

// One of our words with something wrong after it: what to tell the person.
struct Hint {
    std::string text;
    friend bool operator==(const Hint&, const Hint&) = default;
};

// Text that is some other program's: other programs read /o too.
struct NotOurs {
    friend bool operator==(const NotOurs&, const NotOurs&) = default;
};

using Heard = std::variant<NotOurs, Command, Hint>;

// The text typed after /o (a leading "/o " is taken off too): "pause", "play",
// "seek T" (T: +N or -N seconds from here, or a time in ffmpeg's syntax),
// "stop", "help", words in any case.
Heard read_command(std::string_view text);

// The list of commands, as /o help answers it.
inline constexpr std::string_view COMMANDS_HELP =
    "lumaflick: /o pause, /o play, /o seek +10 (or -10, 90, 1:30), /o stop, /o help";

}  // namespace lumaflick
