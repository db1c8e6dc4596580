#include "connections.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "transcript.hpp"

namespace insim_screen {

Connections::Connections()
{
    Connection host;
    host.name = "host";
    present_.push_back(std::move(host));
}

const Connection* Connections::find(std::uint8_t ucid) const noexcept
{
    const auto it = std::find_if(present_.begin(), present_.end(), [ucid](const auto& c) { return c.ucid == ucid; });
    return it == present_.end() ? nullptr : &*it;
}

Connection* Connections::find(std::uint8_t ucid) noexcept
{
    return const_cast<Connection*>(std::as_const(*this).find(ucid));
}

const Connection* Connections::last_seen(std::uint8_t ucid) const noexcept
{
    if (const auto* now = find(ucid)) return now;
    const auto it = std::find_if(departed_.rbegin(), departed_.rend(), [ucid](const auto& c) { return c.ucid == ucid; });
    return it == departed_.rend() ? nullptr : &*it;
}

template <typename Change>
std::size_t Connections::for_addressed(std::uint8_t ucid, Change change)
{
    if (local_) ucid = HOST_UCID;
    if (ucid == EVERY_UCID) {
        for (auto& connection : present_) change(connection);
        return present_.size();
    }
    auto* connection = find(ucid);
    if (connection == nullptr) return 0;
    change(*connection);
    return 1;
}

std::size_t Connections::show(std::uint8_t ucid, std::uint8_t click_id, const Button& button)
{
    return for_addressed(ucid, [&](Connection& c) {
        c.screen.set(click_id, button);
        ++c.buttons;
        if (c.cleared) ++c.buttons_while_cleared;
    });
}

std::size_t Connections::erase(std::uint8_t ucid, std::uint8_t first, std::uint8_t last)
{
    return for_addressed(ucid, [&](Connection& c) {
        for (unsigned id = first; id <= last; ++id) c.screen.erase(static_cast<std::uint8_t>(id));
    });
}

std::size_t Connections::erase_all(std::uint8_t ucid)
{
    return for_addressed(ucid, [](Connection& c) { c.screen.clear(); });
}

bool Connections::join(std::uint8_t ucid, std::string name)
{
    if (ucid == HOST_UCID || ucid == EVERY_UCID || find(ucid) != nullptr) return false;
    const auto at = std::upper_bound(present_.begin(), present_.end(), ucid,
                                     [](std::uint8_t u, const Connection& c) { return u < c.ucid; });
    Connection guest;
    guest.ucid = ucid;
    guest.name = std::move(name);
    present_.insert(at, std::move(guest));
    return true;
}

bool Connections::leave(std::uint8_t ucid, std::chrono::steady_clock::duration at)
{
    if (ucid == HOST_UCID) return false;
    auto* guest = find(ucid);
    if (guest == nullptr) return false;
    guest->left_at = at;
    departed_.push_back(std::move(*guest));
    present_.erase(present_.begin() + (guest - present_.data()));
    return true;
}

bool Connections::user_clear(std::uint8_t ucid)
{
    auto* connection = find(local_ ? HOST_UCID : ucid);
    if (connection == nullptr) return false;
    connection->screen.clear();
    connection->cleared = true;
    ++connection->clears;
    return true;
}

bool Connections::user_request(std::uint8_t ucid)
{
    auto* connection = find(local_ ? HOST_UCID : ucid);
    if (connection == nullptr) return false;
    connection->cleared = false;
    ++connection->requests;
    return true;
}

std::string format_connections(const Connections& connections, std::uint64_t unaddressed)
{
    Picture host;
    Picture guest;
    std::string out = "connections:\n";
    const auto line = [&](const Connection& c) {
        char counts[160];
        std::snprintf(counts, sizeof counts,
                      "  UCID %u %s: %" PRIu64 " button packets, %" PRIu64 " while cleared, cleared %u, requested %u",
                      unsigned{c.ucid}, quote_text(c.name).c_str(), c.buttons, c.buttons_while_cleared, c.clears,
                      c.requests);
        out += counts;
        if (c.left_at) {
            std::snprintf(counts, sizeof counts, ", left at %.2f s", std::chrono::duration<double>(*c.left_at).count());
            out += counts;
        } else if (c.ucid != HOST_UCID) {
            // Both in the same cells, so that their rows can be compared.
            const std::array<const ButtonScreen*, 2> both{&connections.host().screen, &c.screen};
            const Layout layout = layout_of(both);
            draw_screens(std::span(both.data(), 1), layout, host);
            draw_screens(std::span(both.data() + 1, 1), layout, guest);
            std::size_t differing = 0;
            for (std::size_t r = 0; r < layout.rows; ++r) {
                if (!std::equal(host.row(r).begin(), host.row(r).end(), guest.row(r).begin())) ++differing;
            }
            out += differing == 0 ? ", picture the host's"
                                  : ", picture differs from the host's in " + std::to_string(differing) + " of " +
                                        std::to_string(layout.rows) + " rows";
        }
        out += "\n";
    };
    for (const auto& c : connections.present()) line(c);
    for (const auto& c : connections.departed()) line(c);
    out += "  button packets for no connection: " + std::to_string(unaddressed) + "\n";
    return out;
}

}  // namespace insim_screen
