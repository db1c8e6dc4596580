#include "events.hpp"

#include <algorithm>

#include "decimal.hpp"
#include "transcript.hpp"

namespace insim_screen {

namespace {

constexpr std::string_view BLANKS = " \t\r";

std::string_view trim(std::string_view text) noexcept
{
    const auto first = text.find_first_not_of(BLANKS);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

// The first word, and the rest of the text from the next word on.
std::pair<std::string_view, std::string_view> first_word(std::string_view text) noexcept
{
    text = trim(text);
    const auto end = std::min(text.find_first_of(BLANKS), text.size());
    return {text.substr(0, end), trim(text.substr(end))};
}

struct KindName {
    EventKind kind;
    std::string_view name;
};
constexpr KindName KIND_NAMES[] = {{EventKind::join, "join"},
                                   {EventKind::leave, "leave"},
                                   {EventKind::clear, "clear"},
                                   {EventKind::request, "request"},
                                   {EventKind::o, "o"}};

bool has_control_character(std::string_view text) noexcept
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Typed on the host's keyboard: one line of LFS's chat, no UCID.
Result<Event> parse_o(std::string_view text)
{
    if (text.empty()) return Failure{"o: no text"};
    if (text.size() > MAX_O_TEXT_LENGTH) {
        return Failure{"o: a text of " + std::to_string(text.size()) + " bytes is longer than " +
                       std::to_string(MAX_O_TEXT_LENGTH)};
    }
    if (has_control_character(text)) return Failure{"o: the text " + quote_text(text) + " has a control character"};
    return Event{EventKind::o, 0, std::string(text)};
}

std::string_view kind_name(EventKind kind) noexcept
{
    for (const auto& k : KIND_NAMES) {
        if (k.kind == kind) return k.name;
    }
    return "?";
}

}  // namespace

bool skipped_line(std::string_view line) noexcept
{
    const auto text = trim(line);
    return text.empty() || text.front() == '#';
}

Result<Event> parse_event(std::string_view line)
{
    const auto split = first_word(line);
    const std::string_view word = split.first;
    const auto* kind = std::find_if(std::begin(KIND_NAMES), std::end(KIND_NAMES),
                                    [&](const KindName& k) { return k.name == word; });
    if (kind == std::end(KIND_NAMES)) {
        return Failure{"unknown event " + quote_text(word) + " (join, leave, clear, request or o)"};
    }
    if (kind->kind == EventKind::o) return parse_o(split.second);
    Event event{kind->kind, 0, {}};
    const auto [number, rest] = first_word(split.second);
    // The host (0) never joins or leaves; 255 addresses everyone.
    const std::uint32_t lowest = event.kind == EventKind::join || event.kind == EventKind::leave ? 1 : 0;
    const auto ucid = parse_decimal(number, 254);
    if (!ucid || *ucid < lowest) {
        return Failure{std::string(word) + ": " + (number.empty() ? std::string("no UCID") : quote_text(number) + " is not a UCID") +
                       " (" + std::to_string(lowest) + " to 254)"};
    }
    event.ucid = static_cast<std::uint8_t>(*ucid);
    if (event.kind != EventKind::join) {
        if (!rest.empty()) return Failure{std::string(word) + ": unexpected " + quote_text(rest) + " after the UCID"};
        return event;
    }
    if (rest.size() > MAX_NAME_LENGTH) {
        return Failure{"join: the name " + quote_text(rest) + " is longer than " + std::to_string(MAX_NAME_LENGTH) +
                       " bytes"};
    }
    if (has_control_character(rest)) {
        return Failure{"join: the name " + quote_text(rest) + " has a control character"};
    }
    event.text = rest.empty() ? "guest" + std::to_string(event.ucid) : std::string(rest);
    return event;
}

Result<std::vector<TimedEvent>> parse_event_script(std::string_view text)
{
    std::vector<TimedEvent> events;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = std::min(text.find('\n'), text.size());
        const auto line = text.substr(0, end);
        text = text.substr(std::min(end + 1, text.size()));
        if (skipped_line(line)) continue;
        const auto [time, rest] = first_word(line);
        const std::string where = "line " + std::to_string(number) + ": ";
        // A day at most, as --keepalive.
        const auto at = parse_decimal(time, 86'400'000);
        if (!at) return Failure{where + quote_text(time) + " is not a time in milliseconds"};
        auto event = parse_event(rest);
        if (!event) return Failure{where + event.failure().text};
        events.push_back({std::chrono::milliseconds(*at), std::move(*event)});
    }
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
    return events;
}

std::string describe(const Event& event)
{
    std::string text(kind_name(event.kind));
    if (event.kind != EventKind::o) {
        text += ' ';
        text += std::to_string(event.ucid);
    }
    if (event.kind == EventKind::join || event.kind == EventKind::o) {
        text += ' ';
        text += quote_text(event.text);
    }
    return text;
}

}  // namespace insim_screen
