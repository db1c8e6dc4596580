#include "picture/byte_budget.hpp"

#include <algorithm>

namespace lumaflick {

namespace {

using namespace std::chrono;

constexpr std::int64_t MICRO = 1'000'000;
constexpr ByteBudget::Duration WINDOW = seconds(1);

std::int64_t micros(ByteBudget::Duration d) noexcept { return duration_cast<microseconds>(d).count(); }

// What can hold a row back beyond its turn: the time to send every row at
// its largest, a packet's debt, a packet crossing the window, a burst that
// fills the window early, and two pacing intervals.
ByteBudget::Duration drain_time(std::uint64_t rate, std::size_t rows, ByteBudget::Duration frame_interval) noexcept
{
    const std::uint64_t bytes = (rows + 2) * ByteBudget::LEAST;
    return microseconds(static_cast<std::int64_t>(bytes * MICRO / rate)) + burst(frame_interval) +
           2 * pacing_interval(frame_interval);
}

}  // namespace

ByteBudget::Duration pacing_interval(ByteBudget::Duration frame_interval) noexcept
{
    return std::clamp<ByteBudget::Duration>(frame_interval * 3 / 2, milliseconds(20), milliseconds(250));
}

ByteBudget::Duration burst(ByteBudget::Duration frame_interval) noexcept
{
    return std::max<ByteBudget::Duration>(milliseconds(100), pacing_interval(frame_interval));
}

ByteBudget::ByteBudget(std::uint64_t bytes_per_second, Duration frame_interval, TimePoint start) noexcept
    : rate_(std::clamp(bytes_per_second, LEAST, MOST)), pacing_(pacing_interval(frame_interval)),
      burst_(burst(frame_interval)), tokens_(static_cast<std::int64_t>(rate_) * micros(burst_)),
      capacity_(tokens_), filled_at_(start), last_write_(start - pacing_)
{
}

void ByteBudget::refill(TimePoint now) noexcept
{
    if (now <= filled_at_) return;
    // A long pause cannot overflow: the bucket is full after a burst's time.
    const std::int64_t elapsed = std::min(micros(now - filled_at_), micros(burst_));
    tokens_ = std::min(capacity_, tokens_ + static_cast<std::int64_t>(rate_) * elapsed);
    filled_at_ = now;
}

void ByteBudget::forget_before(TimePoint now) noexcept
{
    while (count_ > 0 && writes_[first_].at <= now - WINDOW) {
        in_window_ -= writes_[first_].bytes;
        first_ = (first_ + 1) % writes_.size();
        --count_;
    }
}

std::int64_t ByteBudget::allowance(TimePoint now) noexcept
{
    refill(now);
    forget_before(now);
    const std::int64_t window_left = static_cast<std::int64_t>(rate_) - static_cast<std::int64_t>(in_window_);
    return std::min(tokens_ / MICRO, window_left);
}

void ByteBudget::spend(std::size_t bytes, TimePoint now) noexcept
{
    refill(now);
    forget_before(now);
    tokens_ -= static_cast<std::int64_t>(bytes) * MICRO;
    in_window_ += bytes;
    last_write_ = std::max(last_write_, now);
    if (count_ == writes_.size()) {
        Write& newest = writes_[(first_ + count_ - 1) % writes_.size()];
        newest.at = std::max(newest.at, now);
        newest.bytes += bytes;
        return;
    }
    writes_[(first_ + count_) % writes_.size()] = {now, bytes};
    ++count_;
}

ByteBudget::TimePoint ByteBudget::next_chance(TimePoint now) noexcept
{
    refill(now);
    forget_before(now);
    TimePoint chance = std::max(now, last_write_ + pacing_);
    // Tokens above a whole byte: the allowance counts whole bytes.
    if (tokens_ < MICRO) {
        const std::int64_t missing = MICRO - tokens_;
        chance = std::max(chance, now + microseconds((missing + static_cast<std::int64_t>(rate_) - 1) /
                                                     static_cast<std::int64_t>(rate_)));
    }
    // The window: once enough of its oldest writes have left it.
    std::uint64_t left = in_window_;
    for (std::size_t i = 0; i < count_ && left >= rate_; ++i) {
        const Write& write = writes_[(first_ + i) % writes_.size()];
        left -= write.bytes;
        chance = std::max(chance, write.at + WINDOW);
    }
    return chance;
}

ByteBudget::Duration urgent_after(std::uint64_t bytes_per_second, std::size_t rows,
                                  ByteBudget::Duration frame_interval) noexcept
{
    const std::uint64_t rate = std::clamp(bytes_per_second, ByteBudget::LEAST, ByteBudget::MOST);
    return std::max(ByteBudget::Duration::zero(),
                    ByteBudget::Duration(AGE_LIMIT) - drain_time(rate, rows, frame_interval));
}

ByteBudget::Duration longest_wait(std::uint64_t bytes_per_second, std::size_t rows,
                                  ByteBudget::Duration frame_interval) noexcept
{
    const std::uint64_t rate = std::clamp(bytes_per_second, ByteBudget::LEAST, ByteBudget::MOST);
    return std::max(ByteBudget::Duration(AGE_LIMIT), drain_time(rate, rows, frame_interval));
}

}  // namespace lumaflick
