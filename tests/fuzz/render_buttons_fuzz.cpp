// Frames of any byte count and glyph strings of any bytes (or RGB frames, when
// a glyph length byte is 0xf0 or more) through the frame update, full-size or
// at the shortest packing (a length byte from 0xc0 to 0xef), checked against a
// plain restatement of the rules.
//
// Input: four glyph strings, each a length byte (taken modulo 25) and that many
// bytes; then frames, each a little-endian 16-bit word (a whole frame, 2400
// or 7200 bytes, when its top bit is set, else 1 + word % the frame size, is
// the byte count of the read) and up to that many
// bytes copied over the start of the frame buffer, the rest of which keeps the
// previous frame's bytes. A second frame update takes the same frames under a
// byte budget (an allowance byte after each frame's bytes, times 16), each
// block within its allowance and one button more; drained after the last
// frame, it must leave every button reading as the first one did, when every
// frame was whole: below a short read both forget what LFS shows, and take
// different ways there.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame.hpp"
#include "fuzz_check.hpp"
#include "insim/packets.hpp"
#include "picture/frame_update.hpp"
#include "picture/grey_painter.hpp"
#include "plain_picture.hpp"

namespace {

constexpr std::size_t LONGEST_GLYPH = 24;
constexpr std::size_t MOST_FRAMES = 8;

class Input {
public:
    explicit Input(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

    [[nodiscard]] bool empty() const { return rest_.empty(); }
    std::uint8_t byte()
    {
        if (rest_.empty()) return 0;
        const std::uint8_t value = rest_.front();
        rest_ = rest_.subspan(1);
        return value;
    }
    std::span<const std::uint8_t> take(std::size_t count)
    {
        const auto taken = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(taken.size());
        return taken;
    }

private:
    std::span<const std::uint8_t> rest_;
};

// By ClickID, the text of the last button; none reads as an empty line, as
// the frame update takes it before the first frame.
using Screen = std::array<std::string, 256>;

void put(Screen& screen, std::span<const std::byte> block)
{
    constexpr std::size_t TEXT_AT = offsetof(insim::IS_BTN, Text);
    for (std::size_t at = 0; at + TEXT_AT <= block.size();) {
        const std::size_t size = std::to_integer<std::size_t>(block[at]) * 4;
        FUZZ_CHECK(size > TEXT_AT && at + size <= block.size());
        std::string& text = screen[std::to_integer<std::size_t>(block[at + 4])];
        text.clear();
        for (std::size_t i = at + TEXT_AT; i < at + size && block[i] != std::byte{0}; ++i) {
            text += static_cast<char>(block[i]);
        }
        at += size;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input({data, size});
    lumaflick::GlyphStrings glyphs;
    bool colour = false;
    bool shortest = false;
    for (auto& glyph : glyphs) {
        const std::uint8_t length = input.byte();
        colour = colour || length >= 0xf0;
        shortest = shortest || (length >= 0xc0 && length < 0xf0);
        const auto bytes = input.take(length % (LONGEST_GLYPH + 1));
        glyph.assign(bytes.begin(), bytes.end());
    }

    const auto packing = shortest ? lumaflick::Packing::shortest : lumaflick::Packing::full;
    auto update = colour ? lumaflick::FrameUpdate::colour(packing) : lumaflick::FrameUpdate::grey(glyphs, packing);
    auto budgeted = colour ? lumaflick::FrameUpdate::colour(packing) : lumaflick::FrameUpdate::grey(glyphs, packing);
    const bool rows_are_lines = colour || lumaflick::keeps_rows_as_lines(glyphs);
    bool all_whole = true;
    Screen everything;
    Screen within_budget;
    const lumaflick::RowOrderRule rule{std::chrono::milliseconds(33), std::chrono::milliseconds(500)};
    std::chrono::steady_clock::time_point now{};
    const auto send_within = [&](std::int64_t allowance) {
        const auto block = budgeted.rows(allowance, now, rule);
        // Whole texts have no rows to choose from: all their lines go.
        FUZZ_CHECK(static_cast<std::int64_t>(block.size()) < std::max<std::int64_t>(allowance, 0) + 252 ||
                   !rows_are_lines);
        put(within_budget, block);
        budgeted.written();
    };
    std::array<std::uint8_t, 3 * lumaflick::FRAME_SIZE> frame{};
    std::string previous(lumaflick::DEFAULT_GEOMETRY.rows, '\n');
    for (std::size_t count = 0; count < MOST_FRAMES && !input.empty(); ++count) {
        const unsigned word = input.byte() | (unsigned{input.byte()} << 8);
        const std::size_t bytes = (word & 0x8000) != 0 ? update.frame_size() : 1 + word % update.frame_size();
        all_whole = all_whole && bytes == update.frame_size();
        const auto fresh = input.take(bytes);
        std::copy(fresh.begin(), fresh.end(), frame.begin());
        const auto pixels = std::span<const std::uint8_t>(frame).first(bytes);

        const auto block = update.show(pixels);
        std::string current = colour ? plain::colour_text(pixels) : plain::grey_text(pixels, glyphs);
        const auto expected = plain::changed_buttons(current, previous, shortest);
        FUZZ_CHECK(std::equal(block.begin(), block.end(), expected.begin(), expected.end()));
        put(everything, block);
        previous = std::move(current);

        now += std::chrono::milliseconds(33);
        budgeted.take(pixels, now);
        send_within(16 * std::int64_t{input.byte()});
    }
    for (int round = 0; round < 64 && budgeted.pending(); ++round) {
        now += std::chrono::milliseconds(33);
        send_within(600);
    }
    FUZZ_CHECK(!budgeted.pending());
    FUZZ_CHECK(within_budget == everything || !all_whole);
    return 0;
}
