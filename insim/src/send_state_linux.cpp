// Kept apart from the connection: the kernel's tcp_info, which has the peer's
// window, cannot be included beside glibc's older copy that Asio pulls in.
#include "send_state.hpp"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>

namespace insim::detail {

std::optional<SendState> send_state(int socket) noexcept
{
    SendState state;
    int queued = 0;
    if (::ioctl(socket, SIOCOUTQ, &queued) != 0 || queued < 0) return std::nullopt;
    state.unsent = static_cast<std::size_t>(queued);
    tcp_info info{};
    socklen_t length = sizeof info;
    // Older kernels fill a shorter record, without the window.
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
        length >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        state.peer_window = info.tcpi_snd_wnd;
    }
    return state;
}

}  // namespace insim::detail
