#pragma once

#include <cstddef>
#include <optional>

namespace insim {

// How far LFS has taken what we sent: our bytes it has not acknowledged, and
// the room it last said it had for more, which grows back as it reads.
struct SendState {
    std::size_t unsent = 0;
    std::optional<std::size_t> peer_window;
    friend bool operator==(const SendState&, const SendState&) = default;
};

}  // namespace insim
