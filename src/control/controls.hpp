#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "control/command.hpp"
#include "control/key_decoder.hpp"
#include "control/timeline.hpp"
#include "insim/incoming.hpp"
#include "insim/packets.hpp"

namespace lumaflick {

// Space pauses and plays, the arrows seek 10 s (left, right) and 60 s (down,
// up), q stops.
Command command_for(Key key) noexcept;

// What people have asked of the playback, from LFS and from the keys, and
// what they are told back. The driver compares what is wanted with what the
// children are doing and starts or ends them; no sockets or processes here.
class Controls {
public:
    explicit Controls(Timeline& timeline);

    // `/o TEXT` typed on the computer running LFS; other messages, and
    // commands of other programs, are ignored.
    void hear(const insim::IS_MSO& message);
    void obey(const Command& command);

    [[nodiscard]] bool stop_wanted() const noexcept { return stop_; }
    [[nodiscard]] bool paused() const noexcept { return paused_; }
    // Where the next run must start, when a seek asks for a new one; taken by
    // the run that starts there.
    std::optional<MediaTime> take_jump() noexcept;
    // Where the picture is: the frame a run would start from now.
    [[nodiscard]] MediaTime position() const noexcept;

    // The answers due to LFS (IS_MSL packets), until replies_sent().
    [[nodiscard]] std::span<const std::byte> replies() const noexcept;
    void replies_sent() noexcept { replies_.clear(); }

private:
    void reply(std::string_view text);

    Timeline* timeline_;
    bool paused_ = false;
    bool stop_ = false;
    std::optional<MediaTime> jump_;
    std::vector<insim::IS_MSL> replies_;
};

}  // namespace lumaflick
