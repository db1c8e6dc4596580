#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"

namespace insim_screen {

// What happens on the host besides the client's packets: a guest joins or
// leaves, a user clears the buttons (SHIFT+I, SHIFT+B) or asks for them
// again, or someone types `/o TEXT` on the host's own computer.
enum class EventKind : std::uint8_t { join, leave, clear, request, o };

struct Event {
    EventKind kind = EventKind::join;
    std::uint8_t ucid = 0;  // 0 for o: typed on the host
    std::string text;       // join: the name; o: what follows "/o "
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
// IS_MSO's Msg holds "/o ", the text and a zero in 128 bytes.
inline constexpr std::size_t MAX_O_TEXT_LENGTH = 124;

// "join UCID [NAME]" (UCID 1 to 254; NAME the rest of the line, "guestUCID"
// when left out), "leave UCID" (1 to 254), "clear UCID", "request UCID" (0 to
// 254), "o TEXT" (the rest of the line, 1 to 124 bytes).
Result<Event> parse_event(std::string_view line);

// One "AT_MS EVENT..." a line; blank lines and lines starting with '#' are
// skipped. Events come out by time, those of the same time in their order. A
// failure names the line.
Result<std::vector<TimedEvent>> parse_event_script(std::string_view text);

// `join 1 "bob"`, `clear 0`, `o "pause"`: how the transcript and the console show it.
std::string describe(const Event& event);

// Blank lines and '#' comments carry no event.
bool skipped_line(std::string_view line) noexcept;

}  // namespace insim_screen
