#include "subtitles/subtitle_lines.hpp"

#include <cstring>

#include "text/lfs_text.hpp"

namespace lumaflick {

SubtitleLines::SubtitleLines(const Cues& cues, const SubtitlePlacement& placement, Packing packing)
    : timeline_(cues), packing_(packing), top_(placement.top)
{
    cue_lines_.reserve(cues.size());
    for (const Cue& cue : cues) {
        const auto wrapped = wrap_cue(cue.text, placement.characters);
        cue_lines_.push_back({text::to_lfs(wrapped[0], insim::BUTTON_TEXT_SIZE),
                              text::to_lfs(wrapped[1], insim::BUTTON_TEXT_SIZE)});
    }
    // Dark, with the text centred in the default light colour.
    head_.BStyle = insim::ISB_DARK;
    head_.L = placement.left;
    head_.W = placement.width;
    head_.H = SUBTITLE_LINE_HEIGHT;
    head_.ClickID = placement.first_click_id;
}

void SubtitleLines::take(MediaTime position) noexcept
{
    const std::optional<std::size_t> cue = timeline_.at(position);
    if (cue == cue_ && started_) return;
    cue_ = cue;
    started_ = started_ || cue.has_value();
    if (!started_) return;
    wanted_ = cue ? &cue_lines_[*cue] : &empty_;
    for (std::size_t i = 0; i < 2; ++i) pending_[i] = (*wanted_)[i] != *shown_[i];
}

std::span<const std::byte> SubtitleLines::buttons() noexcept
{
    used_ = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        given_[i] = pending_[i] ? &(*wanted_)[i] : nullptr;
        if (!pending_[i]) continue;
        insim::IS_BTN head = head_;
        head.ClickID = static_cast<std::uint8_t>(head_.ClickID + i);
        head.T = static_cast<std::uint8_t>(top_ + i * SUBTITLE_LINE_HEIGHT);
        const std::string& text = (*wanted_)[i];
        const auto out = std::span(block_).subspan(used_).first<sizeof(insim::IS_BTN)>();
        if (packing_ == Packing::shortest) {
            used_ += insim::write_short_button(head, text, out);
        } else {
            insim::set_button_text(head, text);
            std::memcpy(out.data(), &head, sizeof head);
            used_ += sizeof head;
        }
    }
    return std::span<const std::byte>(block_).first(used_);
}

void SubtitleLines::written() noexcept
{
    for (std::size_t i = 0; i < 2; ++i) {
        if (given_[i] == nullptr) continue;
        shown_[i] = given_[i];
        pending_[i] = (*wanted_)[i] != *shown_[i];
        given_[i] = nullptr;
    }
}

std::span<const std::byte> SubtitleLines::changes(MediaTime position) noexcept
{
    take(position);
    return buttons();
}

}  // namespace lumaflick
