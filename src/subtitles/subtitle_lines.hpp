#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "control/media_time.hpp"
#include "picture/button_grid.hpp"
#include "subtitles/cues.hpp"
#include "subtitles/layout.hpp"

namespace lumaflick {

// The subtitle lines LFS is to show with the picture, and the button packets
// (to UCID 255, as the picture's rows) that take it there. Like the picture's
// rows, a line is shown only once its packet is written; until then it
// is pending. Nothing goes before the first cue; afterwards only lines that
// change. Every cue's lines are converted for LFS once, up front.
//
// The driver, after each frame shown: take(timeline.shown_at()); then, before
// the picture's rows, send screens.show(buttons()) and, once written, call
// screens.written(those buttons) and written(). Screens keeps the latest
// button of each ClickID, so joining and re-asking guests get the current
// lines and those who cleared get none. Under a budget the lines go first,
// while the allowance is above zero, and count against it.
class SubtitleLines {
public:
    SubtitleLines(const Cues& cues, const SubtitlePlacement& placement, Packing packing);

    // The frame at `position` on the picture's clock is shown now: the lines
    // of the cue on there (both empty when none is) become the lines to show.
    void take(MediaTime position) noexcept;
    // The buttons of the pending lines, upper first; empty when none.
    std::span<const std::byte> buttons() noexcept;
    // The buttons last given are written: LFS shows those lines now.
    void written() noexcept;
    [[nodiscard]] bool pending() const noexcept { return pending_[0] || pending_[1]; }

    // take and buttons at once.
    std::span<const std::byte> changes(MediaTime position) noexcept;

private:
    using Lines = std::array<std::string, 2>;

    CueTimeline timeline_;
    std::vector<Lines> cue_lines_;  // in LFS's code pages
    Lines empty_{};
    Packing packing_;
    insim::IS_BTN head_{};
    std::uint8_t top_ = 0;

    std::optional<std::size_t> cue_;  // the cue taken last
    bool started_ = false;            // a cue was taken: from then on lines are sent
    const Lines* wanted_ = &empty_;
    // What LFS shows, and what the last buttons hold (nullptr: not that line).
    std::array<const std::string*, 2> shown_{&empty_[0], &empty_[1]};
    std::array<bool, 2> pending_{};
    std::array<const std::string*, 2> given_{};
    std::array<std::byte, 2 * sizeof(insim::IS_BTN)> block_{};
    std::size_t used_ = 0;
};

}  // namespace lumaflick
