// fake-lfs-sink: the cheapest possible LFS for the end-to-end benchmarks. It
// takes one connection on 127.0.0.1, reads everything as fast as it can, never
// writes, and stamps each read on the steady clock (CLOCK_MONOTONIC, the clock
// scripted-decoder stamps its writes with).
//
//   fake-lfs-sink --port-file FILE [--frames-log FILE] [--idle-timeout SECONDS]
//
// The chosen port goes to FILE (written whole, then renamed into place). A
// frame is a run of IS_BTN packets with rising ClickIDs; it has arrived when
// the read that brought its last byte returned. --frames-log gets one line per
// frame, "<steady ns> <buttons>". At the end one summary line goes to standard
// output:
//   bytes=<n> packets=<n> buttons=<n> frames=<n> isi=<n> mst=<n> tiny=<n> other=<n>
//   first_frame_ns=<ns> last_frame_ns=<ns>
// Exit status 0 once the client has closed, 1 on a time-out or a broken stream.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packet_splitter.hpp"

namespace {

constexpr std::uint8_t ISP_ISI = 1;
constexpr std::uint8_t ISP_TINY = 3;
constexpr std::uint8_t ISP_MST = 13;
constexpr std::uint8_t ISP_BTN = 45;

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    [[nodiscard]] int get() const noexcept { return fd_; }

private:
    int fd_;
};

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Options {
    std::string port_file;
    std::string frames_log;
    int idle_timeout_ms = 30'000;
};

[[noreturn]] void fail(std::string_view what)
{
    std::fprintf(stderr, "fake-lfs-sink: %.*s: %s\n", static_cast<int>(what.size()), what.data(),
                 std::strerror(errno));
    std::exit(1);
}

Options parse_options(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        if (name == "--port-file") {
            options.port_file = argv[i + 1];
        } else if (name == "--frames-log") {
            options.frames_log = argv[i + 1];
        } else if (name == "--idle-timeout") {
            options.idle_timeout_ms = 1000 * std::atoi(argv[i + 1]);
        } else {
            std::fprintf(stderr, "fake-lfs-sink: unknown option %s\n", argv[i]);
            std::exit(2);
        }
    }
    if (options.port_file.empty() || argc % 2 == 0) {
        std::fprintf(stderr, "usage: fake-lfs-sink --port-file FILE [--frames-log FILE] [--idle-timeout SECONDS]\n");
        std::exit(2);
    }
    return options;
}

// Waits for `fd` to become readable; false on time-out.
bool wait_readable(int fd, int timeout_ms)
{
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, timeout_ms);
        if (ready >= 0) return ready > 0;
        if (errno != EINTR) fail("poll");
    }
}

void publish_port(const std::string& path, std::uint16_t port)
{
    const std::string partial = path + ".partial";
    {
        const File file(std::fopen(partial.c_str(), "w"));
        if (!file) fail(partial);
        std::fprintf(file.get(), "%u\n", static_cast<unsigned>(port));
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) fail(path);
}

struct Tally {
    std::uint64_t bytes = 0, packets = 0, buttons = 0, frames = 0;
    std::uint64_t isi = 0, mst = 0, tiny = 0, other = 0;
    std::int64_t first_frame_ns = 0, last_frame_ns = 0;
};

class FrameTracker {
public:
    FrameTracker(Tally& tally, std::FILE* log) : tally_(tally), log_(log) {}

    void button(std::uint8_t click_id, std::int64_t now_ns)
    {
        if (buttons_ > 0 && click_id <= last_click_) close();
        ++buttons_;
        last_click_ = click_id;
        arrived_ns_ = now_ns;
    }
    void close()
    {
        if (buttons_ == 0) return;
        if (tally_.frames++ == 0) tally_.first_frame_ns = arrived_ns_;
        tally_.last_frame_ns = arrived_ns_;
        if (log_ != nullptr) std::fprintf(log_, "%lld %u\n", static_cast<long long>(arrived_ns_), buttons_);
        buttons_ = 0;
    }

private:
    Tally& tally_;
    std::FILE* log_;
    unsigned buttons_ = 0;
    std::uint8_t last_click_ = 0;
    std::int64_t arrived_ns_ = 0;
};

std::int64_t steady_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse_options(argc, argv);

    const Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.get() < 0) fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) fail("bind");
    if (::listen(listener.get(), 1) != 0) fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) fail("getsockname");
    publish_port(options.port_file, ntohs(address.sin_port));

    if (!wait_readable(listener.get(), options.idle_timeout_ms)) {
        std::fprintf(stderr, "fake-lfs-sink: nobody connected\n");
        return 1;
    }
    const Descriptor client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.get() < 0) fail("accept");

    File log;
    if (!options.frames_log.empty()) {
        log.reset(std::fopen(options.frames_log.c_str(), "w"));
        if (!log) fail(options.frames_log);
    }
    Tally tally;
    FrameTracker frames(tally, log.get());
    std::vector<std::uint8_t> carry;
    std::vector<std::uint8_t> buffer(256 * 1024);
    std::int64_t now_ns = 0;
    const insim_screen::PacketCallback on_packet = [&](std::span<const std::uint8_t> packet) {
        ++tally.packets;
        switch (packet[1]) {
        case ISP_BTN:
            ++tally.buttons;
            frames.button(packet.size() > 4 ? packet[4] : 0, now_ns);
            return;
        case ISP_ISI: ++tally.isi; break;
        case ISP_MST: ++tally.mst; break;
        case ISP_TINY: ++tally.tiny; break;
        default: ++tally.other; break;
        }
        frames.close();
    };

    for (;;) {
        if (!wait_readable(client.get(), options.idle_timeout_ms)) {
            std::fprintf(stderr, "fake-lfs-sink: the client went silent\n");
            return 1;
        }
        const ssize_t got = ::read(client.get(), buffer.data(), buffer.size());
        now_ns = steady_ns();
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail("read");
        if (got == 0) break;
        tally.bytes += static_cast<std::uint64_t>(got);
        if (!insim_screen::split_packets(std::span(buffer).first(static_cast<std::size_t>(got)), carry, on_packet)) {
            std::fprintf(stderr, "fake-lfs-sink: a packet of size 0, the stream is broken\n");
            return 1;
        }
    }
    frames.close();

    std::printf("bytes=%llu packets=%llu buttons=%llu frames=%llu isi=%llu mst=%llu tiny=%llu other=%llu "
                "first_frame_ns=%lld last_frame_ns=%lld\n",
                static_cast<unsigned long long>(tally.bytes), static_cast<unsigned long long>(tally.packets),
                static_cast<unsigned long long>(tally.buttons), static_cast<unsigned long long>(tally.frames),
                static_cast<unsigned long long>(tally.isi), static_cast<unsigned long long>(tally.mst),
                static_cast<unsigned long long>(tally.tiny), static_cast<unsigned long long>(tally.other),
                static_cast<long long>(tally.first_frame_ns), static_cast<long long>(tally.last_frame_ns));
    return carry.empty() ? 0 : 1;
}
