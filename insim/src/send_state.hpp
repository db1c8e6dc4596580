#pragma once

#include <cstddef>
#include <optional>

#include "insim/send_state.hpp"

namespace insim::detail {

// What the system tells of a socket's sending side (Linux only).
std::optional<SendState> send_state(int socket) noexcept;

}  // namespace insim::detail
