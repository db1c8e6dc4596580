#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "insim/incoming.hpp"
#include "insim/packets.hpp"

namespace lumaflick {

// The picture as every connection of LFS sees it. Buttons go to all (UCID 255)
// while nobody has cleared them; a connection that cleared gets nothing until
// it asks again, so the others are then sent each frame by their UCIDs. A
// connection that missed rows (it joined, or asked again) is sent the whole
// picture. No sockets here: LFS's packets come in, bytes to send come out.
class Screens {
public:
    // With local buttons there is one screen, UCID 0, and the guests of the
    // host cannot see our buttons at all.
    explicit Screens(bool local);

    // The ReqI of our request for the list of connections.
    static constexpr std::uint8_t LIST_REQUEST_ID = 2;

    // A frame's buttons, as FrameUpdate gives them (to UCID 255): they become
    // the picture, and the bytes returned show them to every connection that
    // has not cleared. The view lasts until the next call of either.
    std::span<const std::byte> show(std::span<const std::byte> buttons);

    // What LFS said about its connections; other packets change nothing.
    void hear(const insim::Incoming& packet);

    // What that calls for: our request for the list of connections, and the
    // whole picture to each connection that needs it. Empty when nothing is
    // due; the view lasts until the next call of either.
    std::span<const std::byte> take_due();

    // Whether a connection is known to have cleared our buttons.
    [[nodiscard]] bool has_cleared(std::uint8_t ucid) const noexcept { return cleared_.test(ucid); }

private:
    using Set = std::bitset<256>;

    void joined(const insim::IS_NCN& connection);
    void left(const insim::IS_CNL& connection);
    void buttons(const insim::IS_BFN& request);
    [[nodiscard]] bool list_complete() const noexcept { return total_ && known_.count() >= *total_; }
    // A connection we did not know may have missed rows sent by UCID: when
    // broadcasting resumes before we learnt of it, everyone is sent the picture.
    void resume_if_nobody_cleared();
    void append_picture(std::uint8_t ucid, std::vector<std::byte>& out) const;

    bool local_;
    // The latest button of each ClickID, as sent: the picture a connection
    // that saw every frame shows.
    std::vector<std::byte> buttons_;
    std::array<std::uint16_t, 256> button_size_{};

    Set known_;
    Set cleared_;
    Set redraw_;
    bool redraw_all_ = false;
    bool list_asked_ = false;
    bool list_due_ = false;
    // Rows went by UCID while some connections were unknown to us.
    bool unknown_missed_ = false;
    std::optional<std::uint8_t> total_;

    std::vector<std::byte> out_;
};

}  // namespace lumaflick
