#include "fake_lfs.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <system_error>
#include <utility>

#include "insim/incoming.hpp"
#include "wire.hpp"

namespace lumaflick::test {

namespace {

insim::Error last_error() { return insim::Error::system(std::error_code(errno, std::system_category())); }

// Short enough that a stop request, a pause's end or a timer is noticed promptly.
constexpr auto POLL_PERIOD = std::chrono::milliseconds(10);
// With a read rate, reads wait until this much of it has come together.
constexpr auto RATE_QUANTUM = std::chrono::milliseconds(10);
// A refused peer's bytes already here are read before the close, so that the
// close is an orderly one unless more are on their way.
constexpr int DRAIN_READS = 16;

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

bool admin_is(std::span<const std::uint8_t> init, const std::string& password)
{
    constexpr std::size_t offset = offsetof(insim::IS_ISI, Admin);
    if (init.size() < offset + insim::ADMIN_SIZE || password.size() > insim::ADMIN_SIZE) return false;
    std::array<std::uint8_t, insim::ADMIN_SIZE> expected{};
    std::memcpy(expected.data(), password.data(), password.size());
    return std::memcmp(init.data() + offset, expected.data(), expected.size()) == 0;
}

}  // namespace

Split split_packets(const std::vector<Chunk>& chunks)
{
    Split split;
    insim::PacketFramer framer;
    std::size_t total = 0;
    std::size_t taken = 0;
    for (const Chunk& chunk : chunks) {
        total += chunk.bytes.size();
        // After a size of 0 it hands over nothing more: the rest is trailing.
        (void)framer.feed(chunk.bytes, [&](std::span<const std::uint8_t> packet) {
            split.packets.push_back({chunk.at, {packet.begin(), packet.end()}});
            taken += packet.size();
        });
    }
    split.trailing_bytes = total - taken;
    return split;
}

// The one recorded connection while it is open.
struct FakeLfs::Link {
    Fd fd;
    Clock::time_point accepted;
    insim::PacketFramer framer;

    bool init_seen = false;
    bool init_taken = false;
    bool refused = false;
    // Set while the packets since the last other packet are IS_BTNs: the last one's ClickID.
    std::optional<std::uint8_t> last_click;
    std::size_t blocks_begun = 0;
    std::size_t blocks_arrived = 0;

    std::vector<bool> fired;
    Clock::time_point next_keepalive;
    std::vector<std::uint8_t> outbox;
    std::size_t outbox_written = 0;
    std::size_t queued = 0;   // every byte ever queued
    std::size_t written = 0;  // every byte written
    std::optional<std::size_t> close_when_written;
    bool write_failed = false;
    bool peer_gone = false;  // its end of file has been read

    Clock::time_point resume_at;
    bool paused_once = false;
    // With a read rate, what may be read now is rate × (now - rate_from), at most one quantum.
    Clock::time_point rate_from;
};

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

void FakeLfs::count_sent(std::size_t bytes)
{
    const std::lock_guard lock(mutex_);
    sent_ += bytes;
}

void FakeLfs::queue(Link& link, std::span<const std::uint8_t> bytes)
{
    link.outbox.insert(link.outbox.end(), bytes.begin(), bytes.end());
    link.queued += bytes.size();
}

void FakeLfs::flush(Link& link)
{
    while (link.outbox_written < link.outbox.size() && !link.write_failed) {
        const ssize_t n = ::send(link.fd.get(), link.outbox.data() + link.outbox_written,
                                 link.outbox.size() - link.outbox_written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            link.outbox_written += static_cast<std::size_t>(n);
            link.written += static_cast<std::size_t>(n);
            count_sent(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && would_block()) {
            return;
        } else {
            // The peer takes nothing more; what it sends is still read.
            link.write_failed = true;
        }
    }
    link.outbox.clear();
    link.outbox_written = 0;
}

void FakeLfs::take_packet(Link& link, std::span<const std::uint8_t> packet)
{
    if (link.refused) return;
    if (packet[1] == insim::ISP_BTN) {
        const std::uint8_t click_id = packet.size() > 4 ? packet[4] : 0;
        if (!link.last_click || click_id <= *link.last_click) {
            link.blocks_arrived = link.blocks_begun;
            ++link.blocks_begun;
        }
        link.last_click = click_id;
        return;
    }
    if (link.last_click) {
        link.blocks_arrived = link.blocks_begun;
        link.last_click.reset();
    }
    if (packet[1] != insim::ISP_ISI || link.init_seen) return;
    link.init_seen = true;
    if (options_.password && !admin_is(packet, *options_.password)) {
        link.refused = true;
        return;
    }
    link.init_taken = true;
    if (options_.answer_version && packet[2] != 0) queue(link, version_packet(packet[2]));
}

void FakeLfs::run_script(Link& link, Clock::time_point now)
{
    if (options_.keepalive_every.count() > 0) {
        for (; now >= link.next_keepalive; link.next_keepalive += options_.keepalive_every) {
            queue(link, tiny_packet(insim::TINY_NONE));
        }
    }
    using When = FakeLfsOptions::Scripted::When;
    for (std::size_t i = 0; i < options_.script.size(); ++i) {
        const auto& entry = options_.script[i];
        if (link.fired[i]) continue;
        const bool due = entry.when == When::after_init ? link.init_taken
                         : entry.when == When::at       ? now >= link.accepted + entry.at
                                                        : link.blocks_arrived >= entry.block;
        if (!due) continue;
        link.fired[i] = true;
        queue(link, entry.bytes);
        if (options_.close_after_script == i) link.close_when_written = link.queued;
    }
}

void FakeLfs::serve(const std::stop_token& stop)
{
    std::optional<Link> link;
    std::vector<std::uint8_t> buffer(64 * 1024);
    const std::size_t rate = options_.read_rate;
    const auto duration_of = [rate](std::size_t bytes) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(rate == 0 ? 0 : static_cast<std::int64_t>(bytes * 1'000'000'000ull / rate)));
    };
    const std::size_t quantum = rate == 0 ? 0 : std::max<std::size_t>(1, rate * RATE_QUANTUM.count() / 1000);
    // The read rate lets a read take a whole quantum, or nothing.
    const auto rate_allows = [&](Clock::time_point now) {
        return rate == 0 || now - link->rate_from >= duration_of(quantum);
    };

    const auto maybe_pause = [&](std::size_t received) {
        if (link->paused_once || options_.pause_for.count() <= 0 || received < options_.pause_after_bytes) return;
        link->paused_once = true;
        link->resume_at = Clock::now() + options_.pause_for;
    };
    const auto finish = [&] {
        if (options_.reset_on_close) {
            const linger abort{1, 0};
            ::setsockopt(link->fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        link.reset();
        const std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    };
    const auto peer_closed = [&](Clock::time_point at) {
        const std::lock_guard lock(mutex_);
        peer_closed_at_ = at;
    };

    while (!stop.stop_requested()) {
        auto now = Clock::now();
        auto wake = now + POLL_PERIOD;
        bool reading = false;
        bool writing = false;
        if (link) {
            run_script(*link, now);
            flush(*link);
            if ((link->close_when_written && (link->written >= *link->close_when_written || link->write_failed)) ||
                (link->peer_gone && link->write_failed)) {
                finish();
                continue;
            }
            reading = !link->peer_gone && now >= link->resume_at && rate_allows(now);
            if (now < link->resume_at) wake = std::min(wake, link->resume_at);
            else if (!reading) wake = std::min(wake, link->rate_from + duration_of(quantum));
            writing = !link->outbox.empty();
            if (options_.keepalive_every.count() > 0) wake = std::min(wake, link->next_keepalive);
            for (std::size_t i = 0; i < options_.script.size(); ++i) {
                const auto& entry = options_.script[i];
                if (!link->fired[i] && entry.when == FakeLfsOptions::Scripted::When::at)
                    wake = std::min(wake, link->accepted + entry.at);
            }
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration::zero()));

        const short events = static_cast<short>((reading ? POLLIN : 0) | (writing ? POLLOUT : 0));
        pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {events != 0 ? link->fd.get() : -1, events, 0}};
        if (::poll(fds, 2, static_cast<int>(wait.count())) < 0) {
            if (errno == EINTR) continue;
            break;
        }

        if (fds[0].revents & POLLIN) {
            Fd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (accepted.get() >= 0) {
                const auto at = Clock::now();
                bool first = false;
                {
                    const std::lock_guard lock(mutex_);
                    first = ++connections_ == 1;
                    if (first) accepted_at_ = at;
                    changed_.notify_all();
                }
                // Only the first connection is recorded; others are counted and dropped.
                if (first) {
                    link.emplace();
                    link->fd = std::move(accepted);
                    link->accepted = at;
                    link->next_keepalive = at + options_.keepalive_every;
                    link->rate_from = at;
                    link->fired.assign(options_.script.size(), false);
                    if (options_.close_on_accept) finish();
                    else maybe_pause(0);
                }
            }
            continue;  // the link's events were asked for before it changed
        }
        if (!link) continue;

        if (writing && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) flush(*link);
        if (!reading || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;

        now = Clock::now();
        const std::size_t most = rate == 0 ? buffer.size() : std::min(buffer.size(), quantum);
        const ssize_t n = ::recv(link->fd.get(), buffer.data(), most, 0);
        if (n == 0) {
            peer_closed(now);
            if (options_.outlasts_peer) link->peer_gone = true;
            else finish();
            continue;
        }
        if (n < 0) {
            if (errno != EINTR && !would_block()) finish();
            continue;
        }
        const auto bytes = std::span(buffer).first(static_cast<std::size_t>(n));
        if (rate > 0) {
            link->rate_from = std::max(link->rate_from, now - duration_of(quantum)) + duration_of(bytes.size());
        }
        const std::size_t received = take(bytes, now);
        if (options_.close_after_bytes && received >= *options_.close_after_bytes) {
            finish();
            continue;
        }
        (void)link->framer.feed(bytes, [&](std::span<const std::uint8_t> packet) { take_packet(*link, packet); });
        if (link->refused) {
            link->outbox.clear();
            for (int i = 0; i < DRAIN_READS; ++i) {
                const ssize_t more = ::recv(link->fd.get(), buffer.data(), buffer.size(), 0);
                if (more == 0) peer_closed(Clock::now());
                if (more <= 0) break;
                take(std::span(buffer).first(static_cast<std::size_t>(more)), Clock::now());
            }
            finish();
            continue;
        }
        if (link->last_click && link->blocks_arrived < link->blocks_begun && link->framer.pending() == 0) {
            int unread = 0;
            if (::ioctl(link->fd.get(), FIONREAD, &unread) == 0 && unread == 0) link->blocks_arrived = link->blocks_begun;
        }
        maybe_pause(received);
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

bool FakeLfs::wait_accepted(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return connections_ > 0; });
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

std::size_t FakeLfs::sent() const
{
    const std::lock_guard lock(mutex_);
    return sent_;
}

std::optional<Clock::time_point> FakeLfs::accepted_at() const
{
    const std::lock_guard lock(mutex_);
    return accepted_at_;
}

std::optional<Clock::time_point> FakeLfs::peer_closed_at() const
{
    const std::lock_guard lock(mutex_);
    return peer_closed_at_;
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
