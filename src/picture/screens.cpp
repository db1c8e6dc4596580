#include "picture/screens.hpp"

#include <cstring>
#include <type_traits>
#include <variant>

namespace lumaflick {

namespace {

constexpr std::size_t BUTTON_SIZE = sizeof(insim::IS_BTN);
constexpr std::size_t UCID_AT = offsetof(insim::IS_BTN, UCID);
constexpr std::size_t CLICK_ID_AT = offsetof(insim::IS_BTN, ClickID);

// Each packet of a block of buttons, whatever their packing.
template <typename Visit>
void for_each_button(std::span<const std::byte> block, Visit&& visit)
{
    while (block.size() >= insim::SIZE_UNIT) {
        const std::size_t size = std::to_integer<std::size_t>(block[0]) * insim::SIZE_UNIT;
        if (size == 0 || size > block.size()) return;
        visit(block.first(size));
        block = block.subspan(size);
    }
}

// The block again, every button addressed to `ucid`.
void append_to(std::uint8_t ucid, std::span<const std::byte> block, std::vector<std::byte>& out)
{
    for_each_button(block, [&](std::span<const std::byte> button) {
        out.insert(out.end(), button.begin(), button.end());
        out[out.size() - button.size() + UCID_AT] = std::byte{ucid};
    });
}

}  // namespace

Screens::Screens(bool local) : local_(local), buttons_(256 * BUTTON_SIZE)
{
    if (local_) {
        known_.set(0);
        total_ = 1;
    }
}

std::span<const std::byte> Screens::show(std::span<const std::byte> buttons)
{
    for_each_button(buttons, [this](std::span<const std::byte> button) {
        const auto id = std::to_integer<std::size_t>(button[CLICK_ID_AT]);
        std::memcpy(buttons_.data() + id * BUTTON_SIZE, button.data(), button.size());
        button_size_[id] = static_cast<std::uint16_t>(button.size());
    });
    if (cleared_.none() || buttons.empty()) return buttons;
    out_.clear();
    for (std::size_t ucid = 0; ucid < 256; ++ucid) {
        if (known_.test(ucid) && !cleared_.test(ucid)) append_to(static_cast<std::uint8_t>(ucid), buttons, out_);
    }
    if (!list_complete()) unknown_missed_ = true;
    return out_;
}

void Screens::hear(const insim::Incoming& packet)
{
    std::visit(
        [this](const auto& p) {
            using Packet = std::decay_t<decltype(p)>;
            // UCID 255 is everyone, never one connection: taking it as one
            // would send rows to all, those who cleared among them.
            if constexpr (std::is_same_v<Packet, insim::IS_NCN>) {
                if (!local_ && p.UCID != insim::UCID_ALL) joined(p);
            } else if constexpr (std::is_same_v<Packet, insim::IS_CNL>) {
                if (!local_ && p.UCID != insim::UCID_ALL) left(p);
            } else if constexpr (std::is_same_v<Packet, insim::IS_BFN>) {
                if (local_ || p.UCID != insim::UCID_ALL) buttons(p);
            }
        },
        packet);
}

void Screens::joined(const insim::IS_NCN& connection)
{
    const std::uint8_t ucid = connection.UCID;
    total_ = connection.Total;
    const bool new_to_us = !known_.test(ucid);
    known_.set(ucid);
    // A join sees none of the buttons sent before it; a connection from our
    // list saw them all, unless rows went by UCID before we knew of it.
    if (connection.ReqI == 0) {
        cleared_.reset(ucid);
        redraw_.set(ucid);
    } else if (new_to_us && unknown_missed_) {
        redraw_.set(ucid);
    }
    if (list_complete()) unknown_missed_ = false;
}

void Screens::left(const insim::IS_CNL& connection)
{
    known_.reset(connection.UCID);
    cleared_.reset(connection.UCID);
    redraw_.reset(connection.UCID);
    total_ = connection.Total;
    resume_if_nobody_cleared();
}

void Screens::buttons(const insim::IS_BFN& request)
{
    // Local buttons are on one screen, whichever UCID LFS names.
    const std::uint8_t ucid = local_ ? 0 : request.UCID;
    if (request.SubT == insim::BFN_USER_CLEAR) {
        known_.set(ucid);
        cleared_.set(ucid);
        redraw_.reset(ucid);
        // Connections from before we started are known only from the list.
        if (!local_ && !list_asked_) list_asked_ = list_due_ = true;
    } else if (request.SubT == insim::BFN_REQUEST) {
        known_.set(ucid);
        cleared_.reset(ucid);
        redraw_.set(ucid);
        resume_if_nobody_cleared();
    }
}

void Screens::resume_if_nobody_cleared()
{
    if (cleared_.none() && unknown_missed_ && !list_complete()) redraw_all_ = true;
    if (cleared_.none()) unknown_missed_ = false;
}

std::span<const std::byte> Screens::take_due()
{
    out_.clear();
    if (list_due_) {
        insim::IS_TINY request{};
        request.ReqI = LIST_REQUEST_ID;
        request.SubT = insim::TINY_NCN;
        const auto bytes = insim::image(request);
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        list_due_ = false;
    }
    if (redraw_all_) {
        append_picture(insim::UCID_ALL, out_);
        redraw_.reset();
        redraw_all_ = false;
    }
    for (std::size_t ucid = 0; ucid < 256 && redraw_.any(); ++ucid) {
        if (!redraw_.test(ucid)) continue;
        append_picture(static_cast<std::uint8_t>(ucid), out_);
        redraw_.reset(ucid);
    }
    return out_;
}

void Screens::append_picture(std::uint8_t ucid, std::vector<std::byte>& out) const
{
    for (std::size_t id = 0; id < 256; ++id) {
        if (button_size_[id] == 0) continue;
        append_to(ucid, std::span(buttons_).subspan(id * BUTTON_SIZE, button_size_[id]), out);
    }
}

}  // namespace lumaflick
