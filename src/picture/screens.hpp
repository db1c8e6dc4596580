#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "insim/incoming.hpp"
#include "insim/packets.hpp"

namespace lumaflick {

// The picture as every connection of LFS sees it. Buttons go to all (UCID 255)
// while nobody has cleared them; a connection that cleared gets nothing until
// it asks again, so the others are then sent each frame by their UCIDs. A
// connection that missed rows (it joined, or asked again) is owed the whole
// picture; under a byte budget it is paid a part at a time. What a
// connection shows changes only once the bytes are written. No sockets
// here: LFS's packets come in, bytes to send come out.
class Screens {
public:
    // With local buttons there is one screen, UCID 0, and the guests of the
    // host cannot see our buttons at all.
    explicit Screens(bool local);

    // The ReqI of our request for the list of connections.
    static constexpr std::uint8_t LIST_REQUEST_ID = 2;

    // A frame's buttons, as FrameUpdate gives them (to UCID 255): the bytes
    // that show them to every connection that has not cleared. The view
    // lasts until the next call of show or take_due.
    std::span<const std::byte> show(std::span<const std::byte> buttons);
    // Those bytes were written: the buttons are the picture now.
    void written(std::span<const std::byte> buttons);
    // The same for buttons that stay as they are until the next ones given
    // here (FrameUpdate's): they are kept where they are, not copied.
    void written_in_place(std::span<const std::byte> buttons);

    // What LFS said about its connections; other packets change nothing.
    void hear(const insim::Incoming& packet);

    // What that calls for: our request for the list of connections, and the
    // whole picture to each connection owed it; with an allowance, only the
    // buttons that fit, the last crossing it. Empty when nothing is due; the
    // view lasts until the next call of show or take_due.
    std::span<const std::byte> take_due(std::int64_t allowance = UNLIMITED);
    // Those bytes were written: the connections show those buttons now.
    void due_written();
    // Some connection is owed buttons.
    [[nodiscard]] bool owes() const noexcept { return owes_; }

    static constexpr std::int64_t UNLIMITED = std::numeric_limits<std::int64_t>::max();

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
    // Appends the buttons owed to `slot` (a UCID, or EVERYONE) while the
    // allowance lasts, and notes them as taken.
    void append_owed(std::size_t slot, std::int64_t& allowance);
    void owe_all(std::size_t slot) noexcept;
    // Buttons `ids` reached the connections of `slot`, or everyone; then
    // whether anything is still owed.
    void paid(std::size_t slot, const Set& ids) noexcept;
    void settle() noexcept;
    // Buttons `ids` were written to every connection that has not cleared.
    void reached(const Set& ids);
    // The latest button of ClickID `id` as sent; empty if none was.
    [[nodiscard]] std::span<const std::byte> latest(std::size_t id) const noexcept;

    bool local_;
    // The latest button of each ClickID, as sent: the picture a connection
    // that saw every frame shows.
    std::vector<std::byte> buttons_;
    std::array<std::uint16_t, 256> button_size_{};
    // Those of the last buttons written in place, and where in them each is.
    std::span<const std::byte> in_place_;
    Set in_place_ids_;
    std::array<std::uint16_t, 256> in_place_at_{};

    Set known_;
    Set cleared_;
    // The ClickIDs each connection is owed, and in the last slot those owed
    // to everyone (sent to UCID 255); and those of the bytes last taken.
    static constexpr std::size_t EVERYONE = 256;
    std::array<Set, 257> owed_{};
    std::array<Set, 257> taken_{};
    bool owes_ = false;
    bool list_asked_ = false;
    bool list_due_ = false;
    // Rows went by UCID while some connections were unknown to us.
    bool unknown_missed_ = false;
    std::optional<std::uint8_t> total_;

    std::vector<std::byte> out_;
};

}  // namespace lumaflick
