// fake-lfs-sink: the tests' fake LFS (tests/support) as a process of its own,
// for the end-to-end benchmarks. It takes one connection on 127.0.0.1, reads
// everything as it comes, never writes, and stamps each read on the steady
// clock (CLOCK_MONOTONIC, the clock scripted-decoder stamps its writes with).
//
//   fake-lfs-sink --port-file FILE [--frames-log FILE] [--idle-timeout SECONDS]
//
// The chosen port goes to FILE (written whole, then renamed into place). A
// frame is a run of IS_BTN packets with rising ClickIDs; it has arrived when
// the read that brought its last byte returned. --frames-log gets one line per
// frame, "<steady ns> <buttons>". At the end one summary line goes to standard
// output:
//   bytes=<n> packets=<n> buttons=<n> frames=<n> isi=<n> mst=<n> tiny=<n> other=<n>
//   first_frame_ns=<ns> last_frame_ns=<ns> button_bytes=<n> most_button_bytes_1s=<n>
// (the most button bytes that arrived within any one second)
// Exit status 0 once the client has closed, 1 when nothing arrived for the
// idle time-out or the stream broke.

#include <chrono>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <utility>
#include <cstdlib>
#include <memory>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "fake_lfs.hpp"
#include "insim/packets.hpp"
#include "insim/incoming.hpp"

namespace {

using lumaflick::test::Clock;
using namespace insim;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Tally {
    std::uint64_t bytes = 0, packets = 0, buttons = 0, frames = 0;
    std::uint64_t isi = 0, mst = 0, tiny = 0, other = 0;
    long long first_frame_ns = 0, last_frame_ns = 0;
    // The buttons' bytes, and the most of them that arrived within one second.
    std::uint64_t button_bytes = 0, most_button_bytes_1s = 0;
};

// Buttons of the last second, as they arrived: how close a budget came.
class ButtonWindow {
public:
    explicit ButtonWindow(Tally& tally) : tally_(tally) {}

    void add(std::size_t bytes, long long now_ns)
    {
        tally_.button_bytes += bytes;
        arrivals_.emplace_back(now_ns, bytes);
        in_window_ += bytes;
        while (arrivals_.front().first <= now_ns - 1'000'000'000) {
            in_window_ -= arrivals_.front().second;
            arrivals_.pop_front();
        }
        tally_.most_button_bytes_1s = std::max(tally_.most_button_bytes_1s, in_window_);
    }

private:
    Tally& tally_;
    std::deque<std::pair<long long, std::uint64_t>> arrivals_;
    std::uint64_t in_window_ = 0;
};

class FrameTracker {
public:
    FrameTracker(Tally& tally, std::FILE* log) : tally_(tally), log_(log) {}

    void button(std::uint8_t click_id, long long now_ns)
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
        if (log_ != nullptr) std::fprintf(log_, "%lld %u\n", arrived_ns_, buttons_);
        buttons_ = 0;
    }

private:
    Tally& tally_;
    std::FILE* log_;
    unsigned buttons_ = 0;
    std::uint8_t last_click_ = 0;
    long long arrived_ns_ = 0;
};

int usage()
{
    std::fprintf(stderr, "usage: fake-lfs-sink --port-file FILE [--frames-log FILE] [--idle-timeout SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string port_file;
    File log;
    std::chrono::milliseconds idle{30'000};
    if (argc % 2 == 0) return usage();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        if (name == "--port-file") port_file = argv[i + 1];
        else if (name == "--idle-timeout") idle = std::chrono::seconds(std::atoi(argv[i + 1]));
        else if (name == "--frames-log") {
            log.reset(std::fopen(argv[i + 1], "w"));
            if (!log) {
                std::perror(argv[i + 1]);
                return 1;
            }
        } else return usage();
    }
    if (port_file.empty()) return usage();

    Tally tally;
    FrameTracker frames(tally, log.get());
    ButtonWindow window(tally);
    insim::PacketFramer framer;
    lumaflick::test::FakeLfsOptions options;
    options.on_chunk = [&](std::span<const std::uint8_t> bytes, Clock::time_point at) {
        const long long now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
        tally.bytes += bytes.size();
        (void)framer.feed(bytes, [&](std::span<const std::uint8_t> packet) {
            ++tally.packets;
            switch (packet[1]) {
            case ISP_BTN:
                ++tally.buttons;
                window.add(packet.size(), now_ns);
                frames.button(packet.size() > 4 ? packet[4] : 0, now_ns);
                return;
            case ISP_ISI: ++tally.isi; break;
            case ISP_MST: ++tally.mst; break;
            case ISP_TINY: ++tally.tiny; break;
            default: ++tally.other; break;
            }
            frames.close();
        });
    };
    auto lfs = lumaflick::test::FakeLfs::start(std::move(options));
    if (!lfs) {
        std::fprintf(stderr, "fake-lfs-sink: %s\n", lfs.error().debug().c_str());
        return 1;
    }
    const std::string partial = port_file + ".partial";
    if (File file(std::fopen(partial.c_str(), "w")); !file || std::fprintf(file.get(), "%u\n", static_cast<unsigned>((*lfs)->port())) < 0) {
        std::perror(partial.c_str());
        return 1;
    }
    if (std::rename(partial.c_str(), port_file.c_str()) != 0) {
        std::perror(port_file.c_str());
        return 1;
    }

    for (std::size_t seen = 0; !(*lfs)->wait_closed(idle);) {
        if ((*lfs)->received() == seen) {
            std::fprintf(stderr, "fake-lfs-sink: nothing arrived for %lld s\n", static_cast<long long>(idle.count() / 1000));
            return 1;
        }
        seen = (*lfs)->received();
    }
    frames.close();
    const auto finished = framer.finish();
    if (!finished) std::fprintf(stderr, "fake-lfs-sink: %s\n", finished.error().debug().c_str());

    std::printf("bytes=%llu packets=%llu buttons=%llu frames=%llu isi=%llu mst=%llu tiny=%llu other=%llu "
                "first_frame_ns=%lld last_frame_ns=%lld button_bytes=%llu most_button_bytes_1s=%llu\n",
                static_cast<unsigned long long>(tally.bytes), static_cast<unsigned long long>(tally.packets),
                static_cast<unsigned long long>(tally.buttons), static_cast<unsigned long long>(tally.frames),
                static_cast<unsigned long long>(tally.isi), static_cast<unsigned long long>(tally.mst),
                static_cast<unsigned long long>(tally.tiny), static_cast<unsigned long long>(tally.other),
                tally.first_frame_ns, tally.last_frame_ns, static_cast<unsigned long long>(tally.button_bytes),
                static_cast<unsigned long long>(tally.most_button_bytes_1s));
    return finished ? 0 : 1;
}
