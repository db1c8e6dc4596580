#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumaflick {

// A row whose text differs from what LFS shows, as it competes for the budget.
struct PendingRow {
    std::uint16_t row = 0;
    // How different it looks from what LFS shows: changed cells, each
    // weighted by how far apart its two looks are.
    std::uint32_t difference = 0;
    std::chrono::steady_clock::time_point since;  // differing from then on
    std::uint64_t rank = 0;  // set by order_rows: larger goes first
};

struct RowOrderRule {
    // A frame's time: a row that just began to differ has waited that long.
    std::chrono::steady_clock::duration tick{};
    // Rows waiting at least this long go first, the oldest first.
    std::chrono::steady_clock::duration urgent_after{};
};

// Sorts `rows` into the order in which they are sent: rows that have waited
// long enough first, oldest first; then by difference × time waited, largest
// first; ties by row, top first. No allocation: the rows sort in place.
void order_rows(std::span<PendingRow> rows, std::chrono::steady_clock::time_point now, const RowOrderRule& rule) noexcept;

}  // namespace lumaflick
