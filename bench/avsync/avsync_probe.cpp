// avsync-probe: one run of scripts/avsync. It is LFS on loopback for one
// lumaflick, and the sound card of its ffplay (SDL's disk audio driver writing
// into a FIFO), and measures how far the sound is from the picture: at the
// start, after /o pause and /o play, and after /o seek.
//
//   avsync-probe --port-file FILE --fifo FIFO [--seek SECONDS]
//
// The clip flashes white and beeps at the same media times, a second apart.
// A flash is the arrival of the first IS_BTN that is mostly '3' (lumaflick runs
// with --subpixels 0 1 2 3) after dark ones; a beep is the time its first loud
// sample plays. Standard output gets one line per event, the offsets (sound
// time - picture time, in ms) of its first two flashes, each paired with the
// beep nearest to it within 400 ms, or "missing":
//   start <ms|missing> <ms|missing>
//   play <ms|missing> <ms|missing>
//   seek <ms|missing> <ms|missing>
// Standard error gets a log (seconds since the probe started): each flash,
// beep, command and packet other than a button. Exit status 0 with all three
// events, 3 when a command went unanswered or did nothing (the events so far
// are printed), 1 on a time-out or a broken stream, 2 on a usage error.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "insim/incoming.hpp"
#include "insim/packets.hpp"
#include "video/unique_fd.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using lumaflick::Fd;
using namespace std::chrono_literals;

// What ffplay hands SDL for the clip scripts/avsync makes: 16-bit mono.
constexpr double SAMPLE_RATE = 48'000;
constexpr int LOUD = 3000;
constexpr long QUIET_BEFORE_BEEP = static_cast<long>(SAMPLE_RATE * 0.2);
constexpr auto PAIR_WINDOW = 400ms;

// When the commands go: the pause lands between flashes; each later command
// waits for two flashes, and gives up on them after a while.
constexpr auto PAUSE_AFTER_FIRST_FLASH = 3200ms;
constexpr auto PAUSED_FOR = 2s;
constexpr auto AFTER_SECOND_FLASH = 500ms;
constexpr auto FLASHES_WAIT = 5s;
constexpr auto FIRST_FLASH_WAIT = 15s;
constexpr auto ACCEPT_WAIT = 15s;
constexpr auto CLOSE_WAIT = 10s;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The beeps as they play, from the FIFO the disk audio driver writes. The
// driver sleeps one buffer's duration after each write, so a buffer starts
// playing when it arrives, unless the one before is still playing (a buffer
// read in two pieces).
class Sound {
public:
    void listen(const char* path, const std::atomic<bool>& stop, Clock::time_point origin)
    {
        Fd fifo;
        for (; !stop; std::this_thread::sleep_for(1ms)) {
            if (fifo.get() < 0) {
                // Not blocking: ffplay may never come. Linux reports a hang-up only
                // once a writer has come and gone since the open.
                fifo = Fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
                if (fifo.get() < 0) {
                    std::perror(path);
                    return;
                }
                playing_until_.reset();
                quiet_ = 0;
                carried_.reset();
            }
            pollfd ready{fifo.get(), POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0) continue;
            std::uint8_t buffer[16384];
            const ssize_t got = ::read(fifo.get(), buffer, sizeof buffer);
            const auto now = Clock::now();
            if (got > 0) {
                if (!playing_until_) std::fprintf(stderr, "%.3f sound begins\n", seconds(now - origin));
                take(std::span(buffer, static_cast<std::size_t>(got)), now, origin);
            } else if (got == 0) {
                std::fprintf(stderr, "%.3f sound ends\n", seconds(now - origin));
                fifo.reset();
            }
        }
    }

    std::vector<Clock::time_point> beeps() const
    {
        std::lock_guard lock(mutex_);
        return beeps_;
    }

private:
    void take(std::span<const std::uint8_t> bytes, Clock::time_point now, Clock::time_point origin)
    {
        const auto start = playing_until_ && *playing_until_ > now ? *playing_until_ : now;
        std::size_t samples = 0;
        auto sample = [&](std::uint8_t low, std::uint8_t high) {
            const int value = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | high << 8));
            if (std::abs(value) > LOUD) {
                if (quiet_ >= QUIET_BEFORE_BEEP) {
                    const auto at = start + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(static_cast<double>(samples) / SAMPLE_RATE));
                    std::fprintf(stderr, "%.3f beep\n", seconds(at - origin));
                    std::lock_guard lock(mutex_);
                    beeps_.push_back(at);
                }
                quiet_ = 0;
            } else {
                ++quiet_;
            }
            ++samples;
        };
        std::size_t i = 0;
        if (carried_ && !bytes.empty()) {
            sample(*carried_, bytes[0]);
            carried_.reset();
            i = 1;
        }
        for (; i + 1 < bytes.size(); i += 2) sample(bytes[i], bytes[i + 1]);
        if (i < bytes.size()) carried_ = bytes[i];
        playing_until_ = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(static_cast<double>(samples) / SAMPLE_RATE));
    }

    std::optional<Clock::time_point> playing_until_;
    long quiet_ = 0;
    std::optional<std::uint8_t> carried_;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> beeps_;
};

// The LFS end: flashes as the buttons arrive, and what lumaflick answers.
struct Picture {
    std::vector<Clock::time_point> flashes;
    std::vector<Clock::time_point> answers;  // IS_MSL
    bool lit = false;
    bool closed = false;
};

std::vector<std::uint8_t> command(std::string_view text)
{
    insim::IS_MSO packet;
    packet.UserType = insim::MSO_O;
    std::memcpy(packet.Msg.data(), text.data(), std::min(text.size(), packet.Msg.size() - 1));
    // Cut after the zero byte to a multiple of 4, as LFS sends it.
    const std::size_t size = (offsetof(insim::IS_MSO, Msg) + text.size() + 1 + 3) / 4 * 4;
    packet.Size = static_cast<std::uint8_t>(size / insim::SIZE_UNIT);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&packet);
    return {bytes, bytes + size};
}

class Link {
public:
    Link(Fd socket, Clock::time_point origin) : socket_(std::move(socket)), origin_(origin) {}

    // Reads what has come, waiting at most until `until`; false once the stream broke.
    bool serve_until(Clock::time_point until)
    {
        while (!picture_.closed) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return true;
            pollfd ready{socket_.get(), POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 10))) <= 0) continue;
            std::uint8_t buffer[65536];
            const ssize_t got = ::recv(socket_.get(), buffer, sizeof buffer, 0);
            const auto now = Clock::now();
            if (got <= 0) {
                std::fprintf(stderr, "%.3f lumaflick closed\n", seconds(now - origin_));
                picture_.closed = true;
                return framer_.finish().has_value();
            }
            if (!framer_.feed(std::span(buffer, static_cast<std::size_t>(got)),
                              [&](std::span<const std::uint8_t> packet) { take(packet, now); })) {
                std::fprintf(stderr, "avsync-probe: a packet of size 0\n");
                return false;
            }
        }
        return true;
    }

    // Serves until `count` flashes have come after `since`, or until `until`; the time of the last one.
    std::optional<Clock::time_point> flashes_after(Clock::time_point since, std::size_t count, Clock::time_point until)
    {
        for (;;) {
            const auto after = flashes_since(since);
            if (after.size() >= count) return after[count - 1];
            if (Clock::now() >= until || picture_.closed || !serve_until(std::min(until, Clock::now() + 10ms)))
                return std::nullopt;
        }
    }

    std::vector<Clock::time_point> flashes_since(Clock::time_point since) const
    {
        std::vector<Clock::time_point> after;
        for (const auto flash : picture_.flashes)
            if (flash >= since) after.push_back(flash);
        return after;
    }

    bool answered_since(Clock::time_point since) const
    {
        return std::any_of(picture_.answers.begin(), picture_.answers.end(), [&](auto at) { return at >= since; });
    }

    Clock::time_point send(std::string_view text)
    {
        const auto bytes = command(text);
        const auto now = Clock::now();
        std::fprintf(stderr, "%.3f sent %.*s\n", seconds(now - origin_), static_cast<int>(text.size()), text.data());
        if (::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            std::perror("avsync-probe: send");
        return now;
    }

    void close() { socket_.reset(); }
    [[nodiscard]] bool closed() const { return picture_.closed; }

private:
    void take(std::span<const std::uint8_t> packet, Clock::time_point now)
    {
        const double at = seconds(now - origin_);
        switch (packet[1]) {
        case insim::ISP_BTN: {
            const auto text = packet.subspan(std::min<std::size_t>(offsetof(insim::IS_BTN, Text), packet.size()));
            const auto count = [&](std::uint8_t glyph) { return std::count(text.begin(), text.end(), glyph); };
            if (count('3') > 40) {
                if (!picture_.lit) {
                    std::fprintf(stderr, "%.3f flash\n", at);
                    picture_.flashes.push_back(now);
                }
                picture_.lit = true;
            } else if (count('0') > 40) {
                picture_.lit = false;
            }
            return;
        }
        case insim::ISP_MSL:
            picture_.answers.push_back(now);
            std::fprintf(stderr, "%.3f IS_MSL \"%.*s\"\n", at, 127,
                         reinterpret_cast<const char*>(packet.data() + offsetof(insim::IS_MSL, Msg)));
            return;
        case insim::ISP_MST:
            std::fprintf(stderr, "%.3f IS_MST \"%.*s\"\n", at, 63,
                         reinterpret_cast<const char*>(packet.data() + offsetof(insim::IS_MST, Msg)));
            return;
        default: std::fprintf(stderr, "%.3f packet type %u, %zu bytes\n", at, packet[1], packet.size()); return;
        }
    }

    Fd socket_;
    Clock::time_point origin_;
    insim::PacketFramer framer_;
    Picture picture_;
};

// The offsets of the first two flashes of an event, each to the nearest beep.
void report(const char* event, const std::vector<Clock::time_point>& flashes, const std::vector<Clock::time_point>& beeps)
{
    std::printf("%s", event);
    for (std::size_t i = 0; i < 2; ++i) {
        std::optional<Clock::duration> best;
        if (i < flashes.size())
            for (const auto beep : beeps) {
                const auto offset = beep - flashes[i];
                if (offset >= -PAIR_WINDOW && offset <= PAIR_WINDOW && (!best || std::chrono::abs(offset) < std::chrono::abs(*best)))
                    best = offset;
            }
        if (best) std::printf(" %.1f", seconds(*best) * 1000);
        else std::printf(" missing");
    }
    std::printf("\n");
    std::fflush(stdout);
}

std::vector<Clock::time_point> first_two(std::vector<Clock::time_point> flashes)
{
    if (flashes.size() > 2) flashes.resize(2);
    return flashes;
}

int usage()
{
    std::fprintf(stderr, "usage: avsync-probe --port-file FILE --fifo FIFO [--seek SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string port_file, fifo, seek_to = "10.2";
    if (argc % 2 == 0) return usage();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        if (name == "--port-file") port_file = argv[i + 1];
        else if (name == "--fifo") fifo = argv[i + 1];
        else if (name == "--seek") seek_to = argv[i + 1];
        else return usage();
    }
    if (port_file.empty() || fifo.empty()) return usage();

    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("avsync-probe: listen");
        return 1;
    }
    const std::string partial = port_file + ".partial";
    if (std::FILE* file = std::fopen(partial.c_str(), "w")) {
        std::fprintf(file, "%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
        std::fclose(file);
    }
    if (std::rename(partial.c_str(), port_file.c_str()) != 0) {
        std::perror(port_file.c_str());
        return 1;
    }

    // The sound is heard from before the connection: ffplay may open it first.
    const auto origin = Clock::now();
    Sound sound;
    std::atomic<bool> stop = false;
    std::jthread sound_thread([&] { sound.listen(fifo.c_str(), stop, origin); });
    const auto finish = [&](int status) {
        stop = true;
        return status;
    };

    pollfd incoming{listener.get(), POLLIN, 0};
    if (::poll(&incoming, 1, static_cast<int>(std::chrono::milliseconds(ACCEPT_WAIT).count())) != 1) {
        std::fprintf(stderr, "avsync-probe: no connection within %.0f s\n", seconds(ACCEPT_WAIT));
        return finish(1);
    }
    Link link(Fd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)), origin);
    std::fprintf(stderr, "%.3f connected\n", seconds(Clock::now() - origin));

    // Each event's first two flashes; what has been measured is printed however the run ends.
    std::vector<std::pair<const char*, std::vector<Clock::time_point>>> events;
    const auto end = [&](int status, const char* note) {
        link.close();
        if (note != nullptr) {
            std::fprintf(stderr, "avsync-probe: %s\n", note);
            std::printf("# %s\n", note);
        }
        const auto beeps = sound.beeps();
        for (const auto& [event, flashes] : events) report(event, flashes, beeps);
        stop = true;
        return status;
    };

    const auto first = link.flashes_after(origin, 1, Clock::now() + FIRST_FLASH_WAIT);
    if (!first) {
        std::fprintf(stderr, "avsync-probe: no flash within %.0f s of the connection\n", seconds(FIRST_FLASH_WAIT));
        return finish(1);
    }
    // The pause lands between two later flashes.
    if (!link.serve_until(*first + PAUSE_AFTER_FIRST_FLASH)) return end(1, "broken stream");
    events.emplace_back("start", first_two(link.flashes_since(origin)));
    if (link.closed()) return end(3, "lumaflick ended before /o pause");

    const auto paused = link.send("/o pause");
    if (!link.serve_until(paused + PAUSED_FOR)) return end(1, "broken stream");
    if (!link.answered_since(paused)) return end(3, "no answer to /o pause");
    if (!link.flashes_since(paused).empty()) return end(3, "the picture went on after /o pause");

    const auto played = link.send("/o play");
    const auto second_after_play = link.flashes_after(played, 2, played + FLASHES_WAIT);
    if (!link.serve_until(second_after_play.value_or(Clock::now()) + AFTER_SECOND_FLASH)) return end(1, "broken stream");
    if (link.flashes_since(played).empty()) return end(3, "no picture after /o play");
    // The picture stood still and came back: the play was heard, answered or not.
    if (!link.answered_since(played)) std::fprintf(stderr, "avsync-probe: no answer to /o play\n");
    events.emplace_back("play", first_two(link.flashes_since(played)));

    const auto sought = link.send("/o seek " + seek_to);
    const auto second_after_seek = link.flashes_after(sought, 2, sought + FLASHES_WAIT);
    if (!link.serve_until(second_after_seek.value_or(Clock::now()) + AFTER_SECOND_FLASH)) return end(1, "broken stream");
    // Nothing in the picture tells a seek from playing on: only the answer does.
    if (!link.answered_since(sought)) return end(3, "no answer to /o seek");
    events.emplace_back("seek", first_two(link.flashes_since(sought)));

    const auto stopped = link.send("/o stop");
    if (!link.serve_until(stopped + CLOSE_WAIT)) return end(1, "broken stream");
    return end(0, link.closed() ? nullptr : "lumaflick still connected 10 s after /o stop");
}
