#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "insim/packets.hpp"

namespace lumaflick {

// A host relays every button to every guest, so a budget of bytes a second
// for the buttons is a budget per guest. Within any one second no more than
// the budget goes, plus the packet that crosses it; within that, rows are
// paced: a bucket of tokens fills at the budget, and rows that wait go when
// a frame comes or, without frames, at a pacing interval. New pictures come
// only with frames, so bytes sent between two frames would carry an older
// picture than the same bytes sent with the next: the interval is longer
// than a frame's. The time is always given, so a test is a table of times.
class ByteBudget {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    // The least budget: one button at its largest.
    static constexpr std::uint64_t LEAST = sizeof(insim::IS_BTN);
    // The most the arithmetic is made for; any stream fits far below it.
    static constexpr std::uint64_t MOST = 1'000'000'000;

    // `bytes_per_second` within LEAST..MOST, for frames `frame_interval`
    // apart; nothing is spent before `start`.
    ByteBudget(std::uint64_t bytes_per_second, Duration frame_interval, TimePoint start) noexcept;

    // The bytes that may start going at `now`: rows go while it stays above
    // zero, so the last of them may cross it.
    [[nodiscard]] std::int64_t allowance(TimePoint now) noexcept;
    // Buttons of `bytes` were written at `now`.
    void spend(std::size_t bytes, TimePoint now) noexcept;
    // When rows that wait are next to go without a frame: once the allowance
    // is above zero, and not sooner than the pacing interval after the last
    // write.
    [[nodiscard]] TimePoint next_chance(TimePoint now) noexcept;

    [[nodiscard]] std::uint64_t bytes_per_second() const noexcept { return rate_; }

private:
    struct Write {
        TimePoint at;
        std::uint64_t bytes;
    };
    void refill(TimePoint now) noexcept;
    void forget_before(TimePoint now) noexcept;

    std::uint64_t rate_;
    Duration pacing_;
    Duration burst_;
    // Tokens in millionths of a byte, so that a microsecond's refill is whole.
    std::int64_t tokens_;
    std::int64_t capacity_;
    TimePoint filled_at_;
    TimePoint last_write_;

    // The writes of the last second, oldest first, in a ring; when it is
    // full a write joins the newest, which then counts for longer: never less.
    std::array<Write, 512> writes_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::uint64_t in_window_ = 0;
};

// Rows that wait go this often without frames: one and a half frames, at
// least 20 ms (fewer, fuller writes) and at most 250 ms.
ByteBudget::Duration pacing_interval(ByteBudget::Duration frame_interval) noexcept;
// What the bucket holds: enough for a pacing interval, at least 100 ms of the
// budget, so that a change after a still picture goes at once.
ByteBudget::Duration burst(ByteBudget::Duration frame_interval) noexcept;

// How long a row waits before it goes ahead of every row that has waited
// less (then the oldest go first), so that no row waits longer than
// longest_wait(): sending all `rows` at their largest takes this budget a
// while, and pacing and the window can hold a row back a little more.
inline constexpr std::chrono::milliseconds AGE_LIMIT{1000};
ByteBudget::Duration urgent_after(std::uint64_t bytes_per_second, std::size_t rows,
                                  ByteBudget::Duration frame_interval) noexcept;
// AGE_LIMIT, or, when the budget cannot send the whole picture that fast,
// the time it takes and what pacing adds.
ByteBudget::Duration longest_wait(std::uint64_t bytes_per_second, std::size_t rows,
                                  ByteBudget::Duration frame_interval) noexcept;

}  // namespace lumaflick
