// The byte budget and the order of rows, as pure functions of the times and
// the picture: every case runs in simulated time.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <vector>

#include "frame.hpp"
#include "picture/byte_budget.hpp"
#include "picture/frame_update.hpp"
#include "picture/row_order.hpp"
#include "plain_picture.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using TimePoint = ByteBudget::TimePoint;
constexpr std::size_t PACKET = sizeof(insim::IS_BTN);
constexpr std::size_t ROWS = DEFAULT_GEOMETRY.rows;

using plain::noise;

// The ClickIDs of a block of buttons.
std::vector<std::size_t> rows_of(std::span<const std::byte> block)
{
    std::vector<std::size_t> rows;
    for (std::size_t at = 0; at + 5 <= block.size(); at += std::to_integer<std::size_t>(block[at]) * 4) {
        rows.push_back(std::to_integer<std::size_t>(block[at + 4]) - DEFAULT_GEOMETRY.first_click_id);
    }
    return rows;
}

// A picture that changes every row every frame, at 30 frames a second, sent
// as the player sends it: at each frame and whenever the budget next allows.
// Checks every window of a second and every row's wait.
void play_noise(std::uint64_t budget_bytes, bool colour, std::chrono::seconds length)
{
    SCOPED_TRACE(testing::Message() << budget_bytes << " bytes/s, colour " << colour);
    const TimePoint start{};
    ByteBudget budget(budget_bytes, 33ms, start);
    FrameUpdate update = colour ? FrameUpdate::colour(Packing::shortest)
                                : FrameUpdate::grey({"^0_", "^3_", "^6_", "^7_"}, Packing::full);
    const RowOrderRule rule{33ms, urgent_after(budget_bytes, ROWS, 33ms)};
    std::deque<std::pair<TimePoint, std::size_t>> window;
    std::uint64_t in_window = 0;
    std::uint64_t total = 0;
    // The first frame after a row was last sent, from which it waits.
    std::array<std::optional<TimePoint>, ROWS> waiting{};
    auto longest = TimePoint::duration::zero();
    TimePoint now = start;
    TimePoint next_frame = start;
    for (std::uint32_t frame = 0; now < start + length;) {
        if (now >= next_frame) {
            update.take(noise(FRAME_SIZE * (colour ? 3 : 1), frame++), now);
            for (auto& since : waiting) since = since.value_or(now);
            next_frame += 33ms;
        }
        if (const std::int64_t allowance = budget.allowance(now); allowance > 0 && update.pending()) {
            const auto block = update.rows(allowance, now, rule);
            ASSERT_FALSE(block.empty());
            for (const std::size_t row : rows_of(block)) {
                longest = std::max(longest, now - *waiting[row]);
                waiting[row].reset();
            }
            update.written();
            budget.spend(block.size(), now);
            window.emplace_back(now, block.size());
            in_window += block.size();
            total += block.size();
            while (window.front().first <= now - 1s) {
                in_window -= window.front().second;
                window.pop_front();
            }
            ASSERT_LE(in_window, budget_bytes + PACKET) << "at " << (now - start) / 1ms << " ms";
        }
        const TimePoint chance = budget.next_chance(now);
        ASSERT_GT(chance, now) << "a wake that could send nothing";
        now = std::min(chance, next_frame);
    }
    const auto seconds = std::chrono::duration<double>(length).count();
    EXPECT_GE(static_cast<double>(total), 0.9 * seconds * static_cast<double>(budget_bytes)) << "budget left unused";
    EXPECT_LE(longest, longest_wait(budget_bytes, ROWS, 33ms) + 33ms);
}

TEST(ByteBudget, HoldsEveryWindowUsesTheBudgetAndBoundsEveryRowsWait)
{
    constexpr std::uint64_t FULL_PICTURE = ROWS * PACKET;  // a second at one picture a second
    for (const std::uint64_t budget : {std::uint64_t{252}, FULL_PICTURE, 4 * FULL_PICTURE / 3, 4 * FULL_PICTURE,
                                       std::uint64_t{60'000}}) {
        play_noise(budget, false, 20s);
        play_noise(budget, true, 20s);
    }
    EXPECT_EQ(longest_wait(4 * FULL_PICTURE / 3, ROWS, 33ms), ByteBudget::Duration(AGE_LIMIT));
}

TEST(OrderRows, UrgentOldestFirstThenDifferenceTimesWait)
{
    struct Row {
        std::uint16_t row;
        std::uint32_t difference;
        int since_ms;  // before now
    };
    struct Case {
        const char* name;
        std::vector<Row> rows;
        std::vector<std::uint16_t> order;
    };
    const std::vector<Case> cases{
        {"the bigger difference first", {{0, 10, 0}, {1, 50, 0}}, {1, 0}},
        {"waiting counts", {{0, 10, 300}, {1, 50, 0}}, {0, 1}},
        {"urgent rows first, oldest first", {{0, 1000, 100}, {1, 1, 600}, {2, 1, 700}}, {2, 1, 0}},
        {"ties top first", {{2, 5, 0}, {0, 5, 0}, {1, 5, 0}}, {0, 1, 2}},
        {"a row from the future waits nothing", {{0, 5, -50}, {1, 4, 0}}, {0, 1}},
    };
    const TimePoint now = TimePoint{} + 10s;
    for (const Case& c : cases) {
        std::vector<PendingRow> rows;
        for (const Row& r : c.rows) rows.push_back({r.row, r.difference, now - std::chrono::milliseconds(r.since_ms)});
        order_rows(rows, now, {33ms, 500ms});
        std::vector<std::uint16_t> order;
        for (const PendingRow& r : rows) order.push_back(r.row);
        EXPECT_EQ(order, c.order) << c.name;
    }
}

TEST(FrameUpdateUnderBudget, AStillPictureBecomesExactAndNoRowGoesTwice)
{
    FrameUpdate budgeted = FrameUpdate::colour(Packing::shortest);
    FrameUpdate unlimited = FrameUpdate::colour(Packing::shortest);
    std::vector<std::uint8_t> frame = noise(3 * FRAME_SIZE, 7);
    // Off now, on later, whatever the dither's threshold.
    frame[3 * 80 * 3] = frame[3 * 80 * 7 + 5] = 0;
    const auto whole = unlimited.show(frame);
    const std::vector<std::byte> expected(whole.begin(), whole.end());

    budgeted.take(frame, TimePoint{});
    std::vector<std::byte> sent;
    std::vector<std::size_t> rows;
    for (int step = 0; budgeted.pending(); ++step) {
        ASSERT_LT(step, 100);
        const auto block = budgeted.rows(1000, TimePoint{} + step * 40ms, {33ms, 500ms});
        for (const std::size_t row : rows_of(block)) rows.push_back(row);
        sent.insert(sent.end(), block.begin(), block.end());
        budgeted.written();
        budgeted.take(frame, TimePoint{} + step * 40ms);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::size_t> each(ROWS);
    for (std::size_t row = 0; row < ROWS; ++row) each[row] = row;
    EXPECT_EQ(rows, each) << "every row once";
    EXPECT_EQ(sent.size(), expected.size());

    // Two rows change: only they are pending, compared with what LFS shows.
    frame[3 * 80 * 3] = frame[3 * 80 * 7 + 5] = 255;
    budgeted.take(frame, TimePoint{} + 10s);
    EXPECT_EQ(rows_of(budgeted.rows(100'000, TimePoint{} + 10s, {33ms, 500ms})), (std::vector<std::size_t>{3, 7}));
}

}  // namespace
}  // namespace lumaflick
