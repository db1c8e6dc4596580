#include "picture/button_grid.hpp"

#include <algorithm>
#include <cstring>

namespace lumaflick {

namespace {
inline constexpr std::size_t HEAD_SIZE = offsetof(insim::IS_BTN, Text);
}  // namespace

insim::IS_BTN make_button(const Geometry& geometry, std::size_t line) noexcept
{
    const ButtonPlace place = geometry.button(line);
    insim::IS_BTN button{};
    button.BStyle = static_cast<std::uint8_t>(insim::ISB_DARK | place.style);
    button.ClickID = place.click_id;
    button.L = place.left;
    button.T = place.top;
    button.W = place.width;
    button.H = geometry.row_height;
    return button;
}

ButtonBlock::ButtonBlock(Packing packing, const Geometry& geometry)
    : packing_(packing), geometry_(geometry), head_(make_button(geometry, 0)),
      block_(geometry.buttons() * sizeof(insim::IS_BTN))
{
    places_.reserve(geometry.buttons());
    for (std::size_t line = 0; line < geometry.buttons(); ++line) places_.push_back(geometry.button(line));
}

void ButtonBlock::add(std::size_t line, std::string_view text, bool compacted)
{
    if (block_.size() - used_ < sizeof(insim::IS_BTN)) {
        // Only glyph strings with line feeds make more lines than a frame has rows.
        block_.resize(2 * block_.size() + sizeof(insim::IS_BTN));
    }
    const ButtonPlace place = line < places_.size() ? places_[line] : geometry_.button(line);
    head_.ClickID = place.click_id;
    head_.BStyle = static_cast<std::uint8_t>(insim::ISB_DARK | place.style);
    head_.L = place.left;
    head_.T = place.top;
    head_.W = place.width;
    std::byte* out = block_.data() + used_;
    if (packing_ == Packing::shortest) {
        // Cut first, so that the codes left out are those of the text LFS gets.
        if (!compacted) {
            text = {compacted_.data(),
                    insim::drop_repeated_colour_codes(text.substr(0, insim::BUTTON_TEXT_SIZE), compacted_)};
        }
        used_ += insim::write_short_button(head_, text,
                                           std::span<std::byte, sizeof(insim::IS_BTN)>(out, sizeof(insim::IS_BTN)));
        return;
    }
    const std::size_t length = std::min(text.size(), insim::BUTTON_TEXT_SIZE);
    std::memcpy(out, &head_, HEAD_SIZE);
    std::memcpy(out + HEAD_SIZE, text.data(), length);
    std::memset(out + HEAD_SIZE + length, 0, insim::BUTTON_TEXT_SIZE - length);
    used_ += sizeof(insim::IS_BTN);
}

}  // namespace lumaflick
