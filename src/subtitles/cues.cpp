#include "subtitles/cues.hpp"

#include <algorithm>
#include <cctype>
#include <queue>

#include "text/lfs_text.hpp"

namespace lumaflick {

namespace {

struct Line {
    std::string_view text;
    std::size_t number;
};

// Lines without their ends; a lone CR ends a line as well.
std::vector<Line> split_lines(std::string_view bytes)
{
    std::vector<Line> lines;
    std::size_t number = 1;
    while (!bytes.empty()) {
        const std::size_t end = std::min(bytes.find_first_of("\r\n"), bytes.size());
        lines.push_back({bytes.substr(0, end), number++});
        std::size_t skip = end;
        if (skip < bytes.size()) skip += bytes.substr(skip).starts_with("\r\n") ? 2 : 1;
        bytes.remove_prefix(skip);
    }
    return lines;
}

bool blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

bool all_digits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// [H:]MM:SS[,.]mmm, with any number of digits for hours and the fraction.
std::optional<MediaTime> parse_time(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::string_view fraction;
    if (const std::size_t mark = text.find_first_of(",."); mark != std::string_view::npos) {
        fraction = text.substr(mark + 1);
        text = text.substr(0, mark);
        if (!all_digits(fraction)) return std::nullopt;
    }
    for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos;) {
        fields.push_back(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    fields.push_back(text);
    if (fields.size() < 2 || fields.size() > 3) return std::nullopt;
    std::int64_t seconds = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        const bool first = i == 0;
        if (!all_digits(field) || (!first && field.size() > 2) || field.size() > 9) return std::nullopt;
        const std::int64_t value = std::stoll(std::string(field));
        if (!first && value > 59) return std::nullopt;
        seconds = seconds * 60 + value;
    }
    std::int64_t micros = 0;
    for (std::size_t i = 0; i < 6; ++i) micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    return MediaTime(seconds * 1'000'000 + micros);
}

std::string_view trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct Timing {
    MediaTime start;
    MediaTime end;
};

// "start --> end", perhaps with position settings after the end.
std::optional<Timing> parse_timing(std::string_view line)
{
    const std::size_t arrow = line.find("-->");
    if (arrow == std::string_view::npos) return std::nullopt;
    std::string_view after = trim(line.substr(arrow + 3));
    after = after.substr(0, std::min(after.find_first_of(" \t"), after.size()));
    const auto start = parse_time(trim(line.substr(0, arrow)));
    const auto end = parse_time(after);
    if (!start || !end) return std::nullopt;
    return Timing{*start, *end};
}

bool is_timing(std::string_view line) { return line.find("-->") != std::string_view::npos; }

// A line as it is to be shown: tags and override blocks out, tabs as
// spaces, control characters out, blanks at the ends trimmed.
std::string clean_line(std::string_view line)
{
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        const std::string_view rest = line.substr(i);
        const std::size_t close = rest.find(c == '<' ? '>' : '}');
        const bool tag = c == '<' && rest.size() > 1 &&
                         (std::isalpha(static_cast<unsigned char>(rest[1])) != 0 || rest[1] == '/');
        const bool override_block = c == '{' && rest.size() > 1 && rest[1] == '\\';
        if ((tag || override_block) && close != std::string_view::npos) {
            i += close + 1;
            continue;
        }
        const text::CodePoint point = text::next_code_point(rest);
        if (point.value == '\t') {
            out += ' ';
        } else if (point.value >= 0x20 && point.value != 0x7f && !(point.value >= 0x80 && point.value < 0xa0)) {
            out.append(rest.substr(0, point.length));
        }
        i += point.length;
    }
    return std::string(trim(out));
}

}  // namespace

Result<Cues> parse_srt(std::string_view bytes, std::string_view name)
{
    if (bytes.starts_with("\xef\xbb\xbf")) bytes.remove_prefix(3);
    const std::vector<Line> lines = split_lines(bytes);
    Cues cues;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!is_timing(lines[i].text)) continue;
        const auto timing = parse_timing(lines[i].text);
        if (!timing) {
            return Error::message(std::string(name) + ", line " + std::to_string(lines[i].number) + ": '" +
                                  std::string(trim(lines[i].text)) + "' is not a cue's timing");
        }
        Cue cue{timing->start, timing->end, {}};
        // The text runs to a blank line, or to the next cue's number and timing when the blank line is missing.
        std::size_t j = i + 1;
        for (; j < lines.size() && !blank(lines[j].text) && !is_timing(lines[j].text); ++j) {
            if (j + 1 < lines.size() && all_digits(trim(lines[j].text)) && is_timing(lines[j + 1].text)) break;
            std::string line = clean_line(lines[j].text);
            if (line.empty()) continue;
            if (!cue.text.empty()) cue.text += '\n';
            cue.text += line;
        }
        i = j - 1;
        if (!cue.text.empty() && cue.end > cue.start) cues.push_back(std::move(cue));
    }
    if (cues.empty()) return Error::message("no cue in " + std::string(name));
    std::stable_sort(cues.begin(), cues.end(), [](const Cue& a, const Cue& b) { return a.start < b.start; });
    return cues;
}

CueTimeline::CueTimeline(const Cues& cues)
{
    std::vector<MediaTime> bounds;
    for (const Cue& cue : cues) {
        bounds.push_back(cue.start);
        bounds.push_back(cue.end);
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    // The cues on, the latest start (and among equal starts the last) on top.
    const auto later = [&](std::size_t a, std::size_t b) { return cues[a].start < cues[b].start || (cues[a].start == cues[b].start && a < b); };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> on(later);
    std::size_t next = 0;
    for (const MediaTime bound : bounds) {
        while (next < cues.size() && cues[next].start <= bound) on.push(next++);
        while (!on.empty() && cues[on.top()].end <= bound) on.pop();
        std::optional<std::size_t> shown;
        if (!on.empty()) shown = on.top();
        if (spans_.empty() ? shown.has_value() : spans_.back().cue != shown) spans_.push_back({bound, shown});
    }
}

std::optional<std::size_t> CueTimeline::at(MediaTime position) const noexcept
{
    const auto after = std::upper_bound(spans_.begin(), spans_.end(), position,
                                        [](MediaTime p, const Span& span) { return p < span.from; });
    if (after == spans_.begin()) return std::nullopt;
    return std::prev(after)->cue;
}

}  // namespace lumaflick
