// floor-relay: the least a player can do per frame, as the floor that
// scripts/bench holds lumaflick against. It connects to ADDRESS (IPv4:port)
// the way lumaflick does (a plain blocking TCP connection, no socket options),
// then per read of at most 2400 bytes from standard input sends one prepared
// 7,560-byte block: 30 IS_BTN packets with ClickIDs 1 to 30, so that the sink
// counts one frame. No rendering, no comparison, no pacing.
//
//   floor-relay ADDRESS < frames
//
// Exit status 0 at the end of the input, 1 on a failed connect or send.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "relay_block.hpp"

namespace {

int fail(const char* what)
{
    std::fprintf(stderr, "floor-relay: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor-relay ADDRESS < frames\n");
        return 2;
    }
    const std::string address = argv[1];
    const auto colon = address.rfind(':');
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(std::atoi(address.c_str() + colon + 1)));
    if (colon == std::string::npos || ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr) != 1) {
        std::fprintf(stderr, "floor-relay: not an IPv4 address and port: %s\n", argv[1]);
        return 2;
    }

    const relay::Block block = relay::full_frame_block();
    std::array<std::uint8_t, relay::FRAME_SIZE> frame{};

    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return fail("socket");
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) return fail("connect");
    int status = 0;
    for (;;) {
        const ssize_t got = ::read(0, frame.data(), frame.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = fail("read");
            break;
        }
        if (got == 0) break;
        // One send: a 7,560-byte block fits the loopback send buffer whole.
        if (::send(socket, block.data(), block.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(block.size())) {
            status = fail("send");
            break;
        }
    }
    ::close(socket);
    return status;
}
