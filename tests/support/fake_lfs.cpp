#include "fake_lfs.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "packet_splitter.hpp"

namespace lumaflick::test {

namespace {

insim::Error last_error() { return insim::Error::system(std::error_code(errno, std::system_category())); }

// Short enough that a stop request or a pause's end is noticed promptly.
constexpr int POLL_MS = 10;

}  // namespace

Split split_packets(const std::vector<Chunk>& chunks)
{
    Split split;
    std::vector<std::uint8_t> carry;
    bool framed = true;
    std::size_t taken = 0;
    for (const Chunk& chunk : chunks) {
        split.trailing_bytes += chunk.bytes.size();
        if (!framed) continue;
        framed = insim_screen::split_packets(chunk.bytes, carry, [&](std::span<const std::uint8_t> packet) {
            split.packets.push_back({chunk.at, {packet.begin(), packet.end()}});
            taken += packet.size();
        });
    }
    split.trailing_bytes -= taken;
    return split;
}

insim::Result<std::unique_ptr<FakeLfs>> FakeLfs::start(FakeLfsOptions options)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    if (::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1)
        return insim::Error::message("not an IPv4 address: " + options.address);
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) return insim::Error::message("tests listen on loopback only");

    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0) return last_error();
    const int yes = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (options.receive_buffer > 0 && ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &options.receive_buffer,
                                                   sizeof options.receive_buffer) != 0)
        return last_error();
    if (options.max_segment > 0 && ::setsockopt(listener.get(), IPPROTO_TCP, TCP_MAXSEG, &options.max_segment,
                                                sizeof options.max_segment) != 0)
        return last_error();
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return last_error();
    if (::listen(listener.get(), 4) != 0) return last_error();
    socklen_t length = sizeof address;
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return last_error();

    auto lfs = std::make_unique<FakeLfs>(Key{}, std::move(options), std::move(listener), ntohs(address.sin_port));
    lfs->thread_ = std::jthread([raw = lfs.get()](std::stop_token stop) { raw->serve(stop); });
    return lfs;
}

FakeLfs::FakeLfs(Key, FakeLfsOptions options, Fd listener, std::uint16_t port)
    : options_(std::move(options)), listener_(std::move(listener)), port_(port)
{
}

FakeLfs::~FakeLfs()
{
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

std::string FakeLfs::endpoint() const { return options_.address + ":" + std::to_string(port_); }

std::size_t FakeLfs::take(std::span<const std::uint8_t> data, Clock::time_point at)
{
    if (options_.on_chunk) options_.on_chunk(data, at);
    const std::lock_guard lock(mutex_);
    received_ += data.size();
    if (!options_.on_chunk) chunks_.push_back({at, {data.begin(), data.end()}});
    if (byte_waiters_ > 0) changed_.notify_all();
    return received_;
}

void FakeLfs::serve(const std::stop_token& stop)
{
    Fd connection;
    // Reading is held back while now < resume_at.
    Clock::time_point resume_at{};
    bool paused_once = false;
    std::vector<std::uint8_t> buffer(64 * 1024);

    const auto maybe_pause = [&](std::size_t received) {
        if (paused_once || options_.pause_for.count() <= 0 || received < options_.pause_after_bytes) return;
        paused_once = true;
        resume_at = Clock::now() + options_.pause_for;
    };
    const auto finish = [&] {
        if (connection.get() >= 0 && options_.reset_on_close) {
            const linger abort{1, 0};
            ::setsockopt(connection.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        connection.reset();
        const std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    };

    while (!stop.stop_requested()) {
        const bool reading = connection.get() >= 0 && Clock::now() >= resume_at;

        pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {reading ? connection.get() : -1, POLLIN, 0}};
        if (::poll(fds, 2, POLL_MS) < 0) {
            if (errno == EINTR) continue;
            break;
        }

        if (fds[0].revents & POLLIN) {
            Fd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (accepted.get() >= 0) {
                bool first = false;
                {
                    const std::lock_guard lock(mutex_);
                    first = ++connections_ == 1;
                    changed_.notify_all();
                }
                // Only the first connection is recorded; others are counted and dropped.
                if (first) {
                    connection = std::move(accepted);
                    if (options_.close_on_accept) finish();
                    else maybe_pause(0);
                }
            }
        }

        if (reading && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(connection.get(), buffer.data(), buffer.size(), 0);
            const auto at = Clock::now();
            if (n > 0) {
                const std::size_t received = take(std::span(buffer).first(static_cast<std::size_t>(n)), at);
                if (options_.close_after_bytes && received >= *options_.close_after_bytes) finish();
                else maybe_pause(received);
            } else if (n == 0 || errno != EINTR) {
                finish();
            }
        }
    }
}

bool FakeLfs::wait_closed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return closed_; });
}

bool FakeLfs::wait_bytes(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    ++byte_waiters_;
    const bool arrived = changed_.wait_for(lock, timeout, [&] { return received_ >= count; });
    --byte_waiters_;
    return arrived;
}

int FakeLfs::connections() const
{
    const std::lock_guard lock(mutex_);
    return connections_;
}

std::size_t FakeLfs::received() const
{
    const std::lock_guard lock(mutex_);
    return received_;
}

std::vector<Chunk> FakeLfs::chunks() const
{
    const std::lock_guard lock(mutex_);
    return chunks_;
}

std::vector<std::uint8_t> FakeLfs::bytes() const
{
    std::vector<std::uint8_t> all;
    for (const Chunk& chunk : chunks()) all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    return all;
}

insim::Result<RefusingPort> RefusingPort::open()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return last_error();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return last_error();
    return RefusingPort(std::move(fd), ntohs(address.sin_port));
}

}  // namespace lumaflick::test
