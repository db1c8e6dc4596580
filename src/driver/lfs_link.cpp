#include "driver/lfs_link.hpp"

#include <string_view>
#include <utility>
#include <variant>

namespace lumaflick {

Status LfsLink::take(std::span<const std::uint8_t> bytes, Screens& screens, Controls& controls)
{
    if (!bytes.empty()) heard_ = true;
    // A keep-alive from LFS is covered by our own, and the version reply
    // needs no check.
    auto framed = framer_.feed(bytes, [&](std::span<const std::uint8_t> packet) {
        ++packets_;
        const insim::Incoming incoming = insim::decode(packet);
        screens.hear(incoming);
        if (const auto* message = std::get_if<insim::IS_MSO>(&incoming)) controls.hear(*message);
    });
    if (!framed) return Error::message("LFS sent an InSim stream that cannot be read: a packet of size 0");
    return ok();
}

Error LfsLink::failed(Error failure) const
{
    if (is_peer_gone(failure)) return closed();
    return failure;
}

// LFS closes at once, before a word, when the admin password is wrong.
Error LfsLink::closed() const
{
    if (heard_) return Error::message("LFS closed the InSim connection");
    return Error::message("LFS closed the InSim connection before answering: is the admin password right?");
}

Error connect_failed(Error failure) { return LfsLink().failed(std::move(failure)); }

bool is_peer_gone(const Error& error) noexcept
{
    // By kind, which knows Winsock's codes as well as errno's.
    if (!error.is_system()) return false;
    const std::string_view kind = error.kind();
    return kind == "BrokenPipe" || kind == "ConnectionReset" || kind == "ConnectionAborted" || kind == "NotConnected";
}

}  // namespace lumaflick
