#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "insim/packets.hpp"

namespace lumaflick {

// The IS_BTN every line's packet is copied from: dark, not clickable, W 240, H 6.
insim::IS_BTN make_button_template() noexcept;

// Appends a copy of the template for every line of `current` that differs from
// the same line of `previous` (ClickID = line + 1, T = 6 × line, both wrapping).
// Precondition: the template's ClickID and T are 0.
void collect_changed_buttons(std::string_view current, std::string_view previous, insim::IS_BTN& button_template,
                             std::vector<insim::IS_BTN>& packets);

}  // namespace lumaflick
