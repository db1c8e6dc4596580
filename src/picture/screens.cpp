#include "picture/screens.hpp"

#include <algorithm>
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
    if (cleared_.none() || buttons.empty()) return buttons;
    out_.clear();
    for (std::size_t ucid = 0; ucid < 256; ++ucid) {
        if (known_.test(ucid) && !cleared_.test(ucid)) append_to(static_cast<std::uint8_t>(ucid), buttons, out_);
    }
    return out_;
}

void Screens::written(std::span<const std::byte> buttons)
{
    Set ids;
    for_each_button(buttons, [&](std::span<const std::byte> button) {
        const auto id = std::to_integer<std::size_t>(button[CLICK_ID_AT]);
        std::memcpy(buttons_.data() + id * BUTTON_SIZE, button.data(), button.size());
        button_size_[id] = static_cast<std::uint16_t>(button.size());
        ids.set(id);
    });
    in_place_ids_ &= ~ids;
    if (!buttons.empty()) reached(ids);
}

void Screens::written_in_place(std::span<const std::byte> buttons)
{
    Set ids;
    std::array<std::uint16_t, 256> at{};
    for_each_button(buttons, [&](std::span<const std::byte> button) {
        const auto id = std::to_integer<std::size_t>(button[CLICK_ID_AT]);
        at[id] = static_cast<std::uint16_t>(button.data() - buttons.data());
        button_size_[id] = static_cast<std::uint16_t>(button.size());
        ids.set(id);
    });
    // The buttons these do not draw again (none of the above) stay the
    // latest: they are copied before the bytes that hold them are drawn
    // over. A moving picture draws them all again, and nothing is copied.
    const Set left = in_place_ids_ & ~ids;
    for (std::size_t id = 0; left.any() && id < 256; ++id) {
        if (!left.test(id)) continue;
        std::memcpy(buttons_.data() + id * BUTTON_SIZE, in_place_.data() + in_place_at_[id], button_size_[id]);
    }
    in_place_ = buttons;
    in_place_ids_ = ids;
    in_place_at_ = at;
    if (!buttons.empty()) reached(ids);
}

std::span<const std::byte> Screens::latest(std::size_t id) const noexcept
{
    if (in_place_ids_.test(id)) return in_place_.subspan(in_place_at_[id], button_size_[id]);
    return std::span(buttons_).subspan(id * BUTTON_SIZE, button_size_[id]);
}

void Screens::reached(const Set& ids)
{
    if (cleared_.none()) {
        paid(EVERYONE, ids);
    } else {
        for (std::size_t ucid = 0; ucid < 256; ++ucid) {
            if (known_.test(ucid) && !cleared_.test(ucid)) paid(ucid, ids);
        }
        if (!list_complete()) unknown_missed_ = true;
    }
    settle();
}

void Screens::paid(std::size_t slot, const Set& ids) noexcept
{
    if (!owes_) return;
    if (slot == EVERYONE) {
        for (Set& owed : owed_) owed &= ~ids;
    } else {
        owed_[slot] &= ~ids;
    }
}

void Screens::settle() noexcept
{
    // Connections that left or cleared owe nothing any more either.
    if (owes_) owes_ = std::any_of(owed_.begin(), owed_.end(), [](const Set& owed) { return owed.any(); });
}

void Screens::owe_all(std::size_t slot) noexcept
{
    owed_[slot].set();
    owes_ = true;
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
        owe_all(ucid);
    } else if (new_to_us && unknown_missed_) {
        owe_all(ucid);
    }
    if (list_complete()) unknown_missed_ = false;
}

void Screens::left(const insim::IS_CNL& connection)
{
    known_.reset(connection.UCID);
    cleared_.reset(connection.UCID);
    owed_[connection.UCID].reset();
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
        owed_[ucid].reset();
        // What was still owed to everyone now goes by UCID, to those we know.
        if (owed_[EVERYONE].any()) {
            for (std::size_t other = 0; other < 256; ++other) {
                if (known_.test(other) && !cleared_.test(other)) owed_[other] |= owed_[EVERYONE];
            }
            owed_[EVERYONE].reset();
            unknown_missed_ = true;
        }
        // Connections from before we started are known only from the list.
        if (!local_ && !list_asked_) list_asked_ = list_due_ = true;
    } else if (request.SubT == insim::BFN_REQUEST) {
        known_.set(ucid);
        cleared_.reset(ucid);
        owe_all(ucid);
        resume_if_nobody_cleared();
    }
}

void Screens::resume_if_nobody_cleared()
{
    if (cleared_.none() && unknown_missed_ && !list_complete()) owe_all(EVERYONE);
    if (cleared_.none()) unknown_missed_ = false;
}

std::span<const std::byte> Screens::take_due(std::int64_t allowance)
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
    if (!owes_) return out_;
    for (Set& taken : taken_) taken.reset();
    // Everyone first: that pays every connection at once.
    append_owed(EVERYONE, allowance);
    for (std::size_t ucid = 0; ucid < 256 && allowance > 0; ++ucid) {
        if (owed_[ucid].any()) append_owed(ucid, allowance);
    }
    return out_;
}

void Screens::append_owed(std::size_t slot, std::int64_t& allowance)
{
    Set& owed = owed_[slot];
    // A button going to everyone reaches this connection too.
    const Set unpaid = slot == EVERYONE ? owed : owed & ~taken_[EVERYONE];
    for (std::size_t id = 0; id < 256 && allowance > 0; ++id) {
        if (!unpaid.test(id)) continue;
        taken_[slot].set(id);
        if (button_size_[id] == 0) continue;
        const std::size_t before = out_.size();
        append_to(slot == EVERYONE ? insim::UCID_ALL : static_cast<std::uint8_t>(slot), latest(id), out_);
        allowance -= static_cast<std::int64_t>(out_.size() - before);
    }
}

void Screens::due_written()
{
    if (!owes_) return;
    paid(EVERYONE, taken_[EVERYONE]);
    for (std::size_t ucid = 0; ucid < 256; ++ucid) paid(ucid, taken_[ucid]);
    for (Set& taken : taken_) taken.reset();
    settle();
}

}  // namespace lumaflick
