#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/media_time.hpp"
#include "error.hpp"

namespace lumaflick {

// A subtitle: its text (UTF-8, lines separated by line feeds, markup gone)
// from `start` until just before `end`, on the video's clock.
struct Cue {
    MediaTime start{0};
    MediaTime end{0};
    std::string text;
    friend bool operator==(const Cue&, const Cue&) = default;
};

// Ordered by start; cues that start together keep the file's order.
using Cues = std::vector<Cue>;

// An .srt file's cues: UTF-8 with or without a byte-order mark, LF or CRLF
// line ends, cue numbers optional, cues in any order; tags such as <i> and
// <font ...> and override blocks such as {\an8} are dropped, as are control
// characters. A timing line that does not read is an error naming its line;
// `name` says whose cues they are, for people. No cue at all is an error too.
Result<Cues> parse_srt(std::string_view bytes, std::string_view name);

// Which cue is on at each position of the picture: a cue shows from the
// first frame at or after its start until the first frame at or after its
// end. Where cues overlap, the one that started last shows.
class CueTimeline {
public:
    // `cues` ordered by start, as parse_srt gives them.
    explicit CueTimeline(const Cues& cues);

    // The index in `cues` of the cue on at `position`, if any.
    [[nodiscard]] std::optional<std::size_t> at(MediaTime position) const noexcept;

private:
    struct Span {
        MediaTime from;
        std::optional<std::size_t> cue;  // until the next span's start
    };
    std::vector<Span> spans_;
};

}  // namespace lumaflick
