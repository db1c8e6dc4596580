// Frames of any byte count and glyph strings of any bytes (or RGB frames, when
// a glyph length byte is 0xf0 or more) through the frame update, full-size or
// at the shortest packing (a length byte from 0xc0 to 0xef), checked against a
// plain restatement of the rules.
//
// Input: four glyph strings, each a length byte (taken modulo 25) and that many
// bytes; then frames, each a little-endian 16-bit word (1 + word % the frame
// size, 2400 or 7200 bytes, is the byte count of the read) and up to that many
// bytes copied over the start of the frame buffer, the rest of which keeps the
// previous frame's bytes.

#include <algorithm>
#include <array>
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
    std::array<std::uint8_t, 3 * lumaflick::FRAME_SIZE> frame{};
    std::string previous(lumaflick::DEFAULT_GEOMETRY.rows, '\n');
    for (std::size_t count = 0; count < MOST_FRAMES && !input.empty(); ++count) {
        const unsigned word = input.byte() | (unsigned{input.byte()} << 8);
        const std::size_t bytes = 1 + word % update.frame_size();
        const auto fresh = input.take(bytes);
        std::copy(fresh.begin(), fresh.end(), frame.begin());
        const auto pixels = std::span<const std::uint8_t>(frame).first(bytes);

        const auto block = update.show(pixels);
        std::string current = colour ? plain::colour_text(pixels) : plain::grey_text(pixels, glyphs);
        const auto expected = plain::changed_buttons(current, previous, shortest);
        FUZZ_CHECK(std::equal(block.begin(), block.end(), expected.begin(), expected.end()));
        previous = std::move(current);
    }
    return 0;
}
