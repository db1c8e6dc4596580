#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "control/media_time.hpp"

namespace lumaflick {

// What the status line of --quiet tells.
struct StatusFacts {
    MediaTime position{0};          // where the picture is in the video
    bool paused = false;
    std::uint64_t shown = 0;        // frames shown so far
    std::uint64_t skipped = 0;      // frames skipped so far
    std::uint64_t bytes_per_second = 0;  // to LFS, lately
    std::string_view answer;        // the answer to the last key or /o command; empty for none
};

// "0:12.4 playing | 372 shown, 3 skipped | 7.2 kB/s to LFS | paused at 0:12.4",
// cut to fewer than `width` bytes (0: not cut), so that a terminal never wraps it.
std::string format_status(const StatusFacts& facts, std::size_t width = 0);

// At most four lines a second: a line may be written when none has been, or
// a quarter of a second after the last one.
class StatusPace {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds INTERVAL{250};

    // Whether a line may be written at `now`; when it may, it counts as written.
    bool take(Clock::time_point now);
    // When the next line may be written; nullopt while none has been.
    [[nodiscard]] std::optional<Clock::time_point> next() const;

private:
    std::optional<Clock::time_point> last_;
};

// The bytes that replace the line on a terminal that held `previous` bytes of
// it: a carriage return, the line and the erase of what is left (an escape
// sequence, or blanks over the old text where the terminal takes no escapes).
std::string rewrite_bytes(std::string_view line, std::size_t previous, bool escapes);
// The bytes that erase it and leave the cursor at the start of the line.
std::string erase_bytes(std::size_t previous, bool escapes);

// One line of the console rewritten in place. Does nothing unless it was made
// active, which on_stdout does only for a terminal. Cleared when destroyed.
class StatusConsole {
public:
    // Active when `wanted` and standard output is a terminal.
    static StatusConsole on_stdout(bool wanted);
    StatusConsole(std::FILE* stream, bool active, std::size_t width, bool escapes);
    StatusConsole(const StatusConsole&) = delete;
    StatusConsole& operator=(const StatusConsole&) = delete;
    StatusConsole(StatusConsole&& other) noexcept;
    StatusConsole& operator=(StatusConsole&&) = delete;
    ~StatusConsole();

    [[nodiscard]] bool active() const noexcept { return stream_ != nullptr; }
    // The terminal's width when it was made (80 when unknown); give it to format_status.
    [[nodiscard]] std::size_t width() const noexcept { return width_; }
    // Replaces the line.
    void show(std::string_view line);
    // Erases the line: call before printing anything else, on either stream.
    void clear();

private:
    std::FILE* stream_ = nullptr;
    std::size_t width_ = 80;
    bool escapes_ = true;
    std::size_t shown_ = 0;  // bytes of the line on the terminal; 0 when none
};

}  // namespace lumaflick
