// fake-lfs: the tests' fake LFS (fake_lfs.hpp) as a program, for tests that
// cannot link it (the Windows end-to-end test runs it beside wine). It takes
// one connection on 127.0.0.1 and ends when that connection has ended.
//
//   fake-lfs --port-file FILE [--received FILE] [--answer-version] [--password P]
//            [--keepalive-every MS] [--read-rate BYTES] [--pause-after BYTES --pause-for MS]
//            [--send-after-init HEX] [--send-at MS:HEX] [--send-after-block K:HEX]
//            [--close-after-script N] [--close-on-accept] [--close-after-bytes N] [--reset-on-close]
//            [--receive-buffer BYTES] [--max-segment BYTES] [--timeout SECONDS]
//
// The port goes to FILE (written whole, then renamed into place). The --send
// options make the script, in their order (N of --close-after-script counts
// them from 0); HEX is the bytes to send, two digits each. --received gets
// every byte received, in order, once the connection has ended. Standard
// output gets a line as each happens, times in milliseconds of the steady
// clock (CLOCK_MONOTONIC, which node's process.hrtime reads too):
//   accepted <ms>
//   closed <ms> sent=<bytes> received=<bytes> peer_closed=<ms or ->
// Exit status 0 once the connection has ended; 1 when none came or it did not
// end within --timeout (default 120 s), or on an error; 2 for a usage error;
// 128 + N after signal N (SIGINT, SIGTERM), the received file written first.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake_lfs.hpp"

namespace {

using namespace lumaflick::test;
using Scripted = FakeLfsOptions::Scripted;

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_signal(int number) { stop_signal = number; }

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int usage(const std::string& problem)
{
    std::fprintf(stderr, "fake-lfs: %s\n", problem.c_str());
    std::fprintf(stderr,
                 "usage: fake-lfs --port-file FILE [--received FILE] [--answer-version] [--password P]\n"
                 "  [--keepalive-every MS] [--read-rate BYTES] [--pause-after BYTES --pause-for MS]\n"
                 "  [--send-after-init HEX] [--send-at MS:HEX] [--send-after-block K:HEX]\n"
                 "  [--close-after-script N] [--close-on-accept] [--close-after-bytes N] [--reset-on-close]\n"
                 "  [--receive-buffer BYTES] [--max-segment BYTES] [--timeout SECONDS]\n");
    return 2;
}

std::optional<std::size_t> number(std::string_view text)
{
    if (text.empty() || text.size() > 12) return std::nullopt;
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

std::optional<std::vector<std::uint8_t>> hex(std::string_view text)
{
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

// "K:HEX" of --send-at and --send-after-block.
std::optional<std::pair<std::size_t, std::vector<std::uint8_t>>> counted_hex(std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto count = number(text.substr(0, colon));
    auto bytes = hex(text.substr(colon + 1));
    if (!count || !bytes) return std::nullopt;
    return std::pair{*count, std::move(*bytes)};
}

std::string steady_ms(Clock::time_point at)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::chrono::duration<double, std::milli>(at.time_since_epoch()).count());
    return text;
}

bool write_whole(const std::string& path, std::string_view bytes)
{
    const std::string partial = path + ".partial";
    File file(std::fopen(partial.c_str(), "wb"));
    const bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = file && std::fclose(file.release()) == 0;
    if (written && closed && std::rename(partial.c_str(), path.c_str()) == 0) return true;
    std::perror(path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    FakeLfsOptions options;
    std::string port_file;
    std::string received_file;
    std::chrono::seconds timeout{120};
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view name = words[i];
        // Flags first; every other option takes the next word.
        if (name == "--answer-version") options.answer_version = true;
        else if (name == "--close-on-accept") options.close_on_accept = true;
        else if (name == "--reset-on-close") options.reset_on_close = true;
        else {
            if (i + 1 >= words.size()) return usage(std::string(name) + " needs a value");
            const std::string_view value = words[++i];
            const auto count = number(value);
            const auto bad = [&] { return usage(std::string(name) + ": \"" + std::string(value) + "\" is not valid"); };
            if (name == "--port-file") port_file = value;
            else if (name == "--received") received_file = value;
            else if (name == "--password") options.password = std::string(value);
            else if (name == "--send-after-init") {
                auto bytes = hex(value);
                if (!bytes) return bad();
                options.script.push_back({Scripted::When::after_init, {}, 0, std::move(*bytes)});
            } else if (name == "--send-at" || name == "--send-after-block") {
                auto entry = counted_hex(value);
                if (!entry) return bad();
                if (name == "--send-at") {
                    options.script.push_back({Scripted::When::at, std::chrono::milliseconds(entry->first), 0,
                                              std::move(entry->second)});
                } else {
                    options.script.push_back({Scripted::When::after_block, {}, entry->first, std::move(entry->second)});
                }
            } else if (!count) return bad();
            else if (name == "--keepalive-every") options.keepalive_every = std::chrono::milliseconds(*count);
            else if (name == "--read-rate") options.read_rate = *count;
            else if (name == "--pause-after") options.pause_after_bytes = *count;
            else if (name == "--pause-for") options.pause_for = std::chrono::milliseconds(*count);
            else if (name == "--close-after-script") options.close_after_script = *count;
            else if (name == "--close-after-bytes") options.close_after_bytes = *count;
            else if (name == "--receive-buffer") options.receive_buffer = static_cast<int>(*count);
            else if (name == "--max-segment") options.max_segment = static_cast<int>(*count);
            else if (name == "--timeout") timeout = std::chrono::seconds(*count);
            else return usage("unknown option " + std::string(name));
        }
    }
    if (port_file.empty()) return usage("--port-file is required");
    if (options.close_after_script && *options.close_after_script >= options.script.size())
        return usage("--close-after-script: there is no script entry " + std::to_string(*options.close_after_script));

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    auto started = FakeLfs::start(std::move(options));
    if (!started) {
        std::fprintf(stderr, "fake-lfs: %s\n", started.error().debug().c_str());
        return 1;
    }
    FakeLfs& lfs = **started;
    if (!write_whole(port_file, std::to_string(lfs.port()) + "\n")) return 1;

    // Waits in short steps, so that a signal is noticed.
    const auto deadline = Clock::now() + timeout;
    const auto wait_until = [&](auto&& done) {
        while (!done()) {
            if (stop_signal != 0 || Clock::now() >= deadline) return false;
        }
        return true;
    };
    constexpr std::chrono::milliseconds STEP{50};
    const bool accepted = wait_until([&] { return lfs.wait_accepted(STEP); });
    if (accepted) {
        std::printf("accepted %s\n", steady_ms(lfs.accepted_at().value_or(Clock::time_point{})).c_str());
        std::fflush(stdout);
    }
    const bool ended = accepted && wait_until([&] { return lfs.wait_closed(STEP); });

    bool fine = true;
    if (!received_file.empty() && accepted) {
        const auto bytes = lfs.bytes();
        fine = write_whole(received_file, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    }
    if (ended) {
        const auto peer_closed = lfs.peer_closed_at();
        std::printf("closed %s sent=%zu received=%zu peer_closed=%s\n", steady_ms(Clock::now()).c_str(), lfs.sent(),
                    lfs.received(), peer_closed ? steady_ms(*peer_closed).c_str() : "-");
        std::fflush(stdout);
    }
    if (stop_signal != 0) return 128 + stop_signal;
    if (!ended) std::fprintf(stderr, "fake-lfs: %s\n", accepted ? "the connection did not end in time" : "no connection came");
    return ended && fine ? 0 : 1;
}
