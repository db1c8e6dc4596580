#include "picture/row_order.hpp"

#include <algorithm>
#include <limits>

namespace lumaflick {

namespace {

using namespace std::chrono;

// One number per row, largest first: urgent rows above all others by their age.
std::uint64_t rank(const PendingRow& row, steady_clock::time_point now, const RowOrderRule& rule) noexcept
{
    const auto waited = std::max(steady_clock::duration::zero(), now - row.since);
    const auto age = static_cast<std::uint64_t>(duration_cast<microseconds>(waited).count());
    constexpr std::uint64_t URGENT = std::uint64_t{1} << 63;
    if (waited >= rule.urgent_after) return URGENT | std::min(age, URGENT - 1);
    const auto tick = static_cast<std::uint64_t>(duration_cast<microseconds>(rule.tick).count());
    // Below 2^32 × 2^30 µs (34 years): never reaches the urgent bit.
    return std::uint64_t{row.difference} * std::min<std::uint64_t>(age + std::max<std::uint64_t>(tick, 1), 1ULL << 30);
}

}  // namespace

void order_rows(std::span<PendingRow> rows, steady_clock::time_point now, const RowOrderRule& rule) noexcept
{
    for (PendingRow& row : rows) row.rank = rank(row, now, rule);
    std::sort(rows.begin(), rows.end(), [](const PendingRow& a, const PendingRow& b) {
        return a.rank != b.rank ? a.rank > b.rank : a.row < b.row;
    });
}

}  // namespace lumaflick
