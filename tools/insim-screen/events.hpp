#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"

namespace insim_screen {

// What happens to the host's connections besides the client's packets: a
// guest joins or leaves, or a user clears the buttons (SHIFT+I, SHIFT+B) or
// asks for them again.
enum class EventKind : std::uint8_t { join, leave, clear, request };

struct Event {
    EventKind kind = EventKind::join;
    std::uint8_t ucid = 0;
    std::string name;  // join only
    friend bool operator==(const Event&, const Event&) = default;
};

// An event of a script, this long after the client's init packet.
struct TimedEvent {
    std::chrono::milliseconds at{0};
    Event event;
    friend bool operator==(const TimedEvent&, const TimedEvent&) = default;
};

// IS_NCN's UName and PName hold 23 bytes and a zero.
inline constexpr std::size_t MAX_NAME_LENGTH = 23;

// "join UCID [NAME]" (UCID 1 to 254; NAME the rest of the line, "guestUCID"
// when left out), "leave UCID" (1 to 254), "clear UCID", "request UCID" (0 to 254).
Result<Event> parse_event(std::string_view line);

// One "AT_MS EVENT..." a line; blank lines and lines starting with '#' are
// skipped. Events come out by time, those of the same time in their order. A
// failure names the line.
Result<std::vector<TimedEvent>> parse_event_script(std::string_view text);

// `join 1 "bob"`, `clear 0`: how the transcript and the console show it.
std::string describe(const Event& event);

// Blank lines and '#' comments carry no event.
bool skipped_line(std::string_view line) noexcept;

}  // namespace insim_screen
