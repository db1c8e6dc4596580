#include "fake_lfs.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace lumaflick::test {

struct FakeLfs::Socket {
    int fd = -1;
    explicit Socket(int descriptor) noexcept : fd(descriptor) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket()
    {
        if (fd >= 0) ::close(fd);
    }
};

namespace {

insim::Error last_error() { return insim::Error::system(std::error_code(errno, std::system_category())); }

// Short enough that a stop request or a pause's end is noticed promptly.
constexpr int POLL_MS = 10;

}  // namespace

Split split_packets(const std::vector<Chunk>& chunks)
{
    Split split;
    std::vector<std::uint8_t> pending;
    for (const Chunk& chunk : chunks) {
        pending.insert(pending.end(), chunk.bytes.begin(), chunk.bytes.end());
        std::size_t used = 0;
        while (pending.size() - used >= 1) {
            const std::size_t size = std::size_t{pending[used]} * 4;
            if (size == 0 || pending.size() - used < size) break;
            const auto begin = pending.begin() + static_cast<std::ptrdiff_t>(used);
            split.packets.push_back({chunk.at, std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(size))});
            used += size;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        // A zero size byte would never make progress; keep the rest as trailing.
        if (!pending.empty() && pending[0] == 0) break;
    }
    std::size_t total = 0;
    for (const Chunk& chunk : chunks) total += chunk.bytes.size();
    std::size_t taken = 0;
    for (const Packet& packet : split.packets) taken += packet.bytes.size();
    split.trailing_bytes = total - taken;
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

    auto listener = std::make_unique<Socket>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener->fd < 0) return last_error();
    const int yes = 1;
    ::setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (options.receive_buffer > 0 && ::setsockopt(listener->fd, SOL_SOCKET, SO_RCVBUF, &options.receive_buffer,
                                                   sizeof options.receive_buffer) != 0)
        return last_error();
    if (options.max_segment > 0 && ::setsockopt(listener->fd, IPPROTO_TCP, TCP_MAXSEG, &options.max_segment,
                                                sizeof options.max_segment) != 0)
        return last_error();
    if (::bind(listener->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return last_error();
    if (::listen(listener->fd, 4) != 0) return last_error();
    socklen_t length = sizeof address;
    if (::getsockname(listener->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return last_error();

    auto lfs = std::make_unique<FakeLfs>(Key{}, std::move(options), std::move(listener), ntohs(address.sin_port));
    lfs->thread_ = std::jthread([raw = lfs.get()](std::stop_token stop) { raw->serve(stop); });
    return lfs;
}

FakeLfs::FakeLfs(Key, FakeLfsOptions options, std::unique_ptr<Socket> listener, std::uint16_t port)
    : options_(std::move(options)), listener_(std::move(listener)), port_(port)
{
}

FakeLfs::~FakeLfs()
{
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

std::string FakeLfs::endpoint() const { return options_.address + ":" + std::to_string(port_); }

void FakeLfs::take(std::vector<std::uint8_t> data, Clock::time_point at)
{
    const std::lock_guard lock(mutex_);
    received_ += data.size();
    chunks_.push_back({at, std::move(data)});
    changed_.notify_all();
}

void FakeLfs::serve(const std::stop_token& stop)
{
    std::unique_ptr<Socket> connection;
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
        if (connection && options_.reset_on_close) {
            const linger abort{1, 0};
            ::setsockopt(connection->fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        connection.reset();
        const std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    };

    while (!stop.stop_requested()) {
        const bool reading = connection && Clock::now() >= resume_at;

        pollfd fds[2] = {{listener_->fd, POLLIN, 0}, {reading ? connection->fd : -1, POLLIN, 0}};
        if (::poll(fds, 2, POLL_MS) < 0) {
            if (errno == EINTR) continue;
            break;
        }

        if (fds[0].revents & POLLIN) {
            auto accepted = std::make_unique<Socket>(::accept4(listener_->fd, nullptr, nullptr, SOCK_CLOEXEC));
            if (accepted->fd >= 0) {
                bool first = false;
                {
                    const std::lock_guard lock(mutex_);
                    first = ++connections_ == 1;
                    if (first) accepted_at_ = Clock::now();
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

        if (reading && connection && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(connection->fd, buffer.data(), buffer.size(), 0);
            const auto at = Clock::now();
            if (n > 0) {
                take(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n), at);
                std::size_t received = 0;
                {
                    const std::lock_guard lock(mutex_);
                    received = received_;
                }
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
    return changed_.wait_for(lock, timeout, [&] { return received_ >= count; });
}

int FakeLfs::connections() const
{
    const std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<Chunk> FakeLfs::chunks() const
{
    const std::lock_guard lock(mutex_);
    return chunks_;
}

std::vector<std::uint8_t> FakeLfs::bytes() const
{
    const std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> all;
    all.reserve(received_);
    for (const Chunk& chunk : chunks_) all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    return all;
}

std::optional<Clock::time_point> FakeLfs::accepted_at() const
{
    const std::lock_guard lock(mutex_);
    return accepted_at_;
}

insim::Result<RefusingPort> RefusingPort::open()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return last_error();
    RefusingPort port(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return last_error();
    port.port_ = ntohs(address.sin_port);
    return port;
}

RefusingPort::RefusingPort(RefusingPort&& other) noexcept : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

RefusingPort::~RefusingPort()
{
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace lumaflick::test
