// Frames of any byte count and glyph strings of any bytes through the renderer
// and the line comparison, in the driver's loop, checked against a plain
// re-statement of both.
//
// Input: four glyph strings, each a length byte (taken modulo 25) and that many
// bytes; then frames, each a little-endian 16-bit word (1 + word % 2400 is the
// byte count of the read) and up to that many bytes copied over the start of
// the frame buffer, the rest of which keeps the previous frame's bytes.

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

#include "picture/button_grid.hpp"
#include "frame.hpp"
#include "fuzz_check.hpp"
#include "insim/packets.hpp"
#include "picture/render.hpp"

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

std::string reference_text(std::span<const std::uint8_t> pixels, const lumaflick::GlyphStrings& glyphs)
{
    std::uint64_t sum = 0;
    for (const auto pixel : pixels) sum += pixel;
    const std::uint64_t mean = sum / pixels.size();
    const std::uint64_t mid = mean >= 16 ? mean : 64;
    const std::uint64_t low = mid / 2;
    const std::uint64_t high = mid + (255 - mid) / 2;
    std::string text;
    text.reserve(pixels.size() * LONGEST_GLYPH + lumaflick::FRAME_HEIGHT);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint64_t v = pixels[i];
        text += glyphs[v < low ? 0 : v < mid ? 1 : v < high ? 2 : 3];
        if (i % lumaflick::FRAME_WIDTH == lumaflick::FRAME_WIDTH - 1 || i + 1 == pixels.size()) text += '\n';
    }
    return text;
}

std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

insim::IS_BTN expected_button(std::size_t line, std::string_view text)
{
    insim::IS_BTN button{};
    button.ClickID = static_cast<std::uint8_t>(line + 1);
    button.BStyle = insim::ISB_DARK;
    button.T = static_cast<std::uint8_t>(6 * line);
    button.W = 240;
    button.H = 6;
    std::memcpy(button.Text.data(), text.data(), std::min(text.size(), button.Text.size()));
    return button;
}

void check_packets(std::string_view current, std::string_view previous, std::span<const insim::IS_BTN> packets)
{
    const auto now = lines_of(current);
    const auto before = lines_of(previous);
    FUZZ_CHECK(packets.size() <= now.size());
    std::size_t next = 0;
    for (std::size_t line = 0; line < now.size(); ++line) {
        const std::string_view old = line < before.size() ? before[line] : std::string_view{};
        if (now[line] == old) continue;
        FUZZ_CHECK(next < packets.size());
        const auto expected = expected_button(line, now[line]);
        FUZZ_CHECK(std::memcmp(&packets[next], &expected, sizeof expected) == 0);
        ++next;
    }
    FUZZ_CHECK(next == packets.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input({data, size});
    lumaflick::GlyphStrings glyphs;
    for (auto& glyph : glyphs) {
        const auto bytes = input.take(input.byte() % (LONGEST_GLYPH + 1));
        glyph.assign(bytes.begin(), bytes.end());
    }

    // Set up as the driver does, so that the swap loop and buffer reuse are covered.
    std::array<std::uint8_t, lumaflick::FRAME_SIZE> frame{};
    std::string current;
    current.reserve(lumaflick::FRAME_SIZE * LONGEST_GLYPH + lumaflick::FRAME_HEIGHT);
    std::string previous;
    previous.reserve(current.capacity());
    previous.assign(lumaflick::FRAME_HEIGHT, '\n');
    insim::IS_BTN button = lumaflick::make_button_template();
    std::vector<insim::IS_BTN> packets;
    packets.reserve(lumaflick::FRAME_HEIGHT);

    for (std::size_t count = 0; count < MOST_FRAMES && !input.empty(); ++count) {
        const unsigned word = input.byte() | (unsigned{input.byte()} << 8);
        const std::size_t bytes = 1 + word % lumaflick::FRAME_SIZE;
        const auto fresh = input.take(bytes);
        std::copy(fresh.begin(), fresh.end(), frame.begin());
        const auto pixels = std::span<const std::uint8_t>(frame).first(bytes);

        packets.clear();
        button.ClickID = 0;
        button.T = 0;
        current.clear();
        lumaflick::render_frame_text(pixels, glyphs, current);
        FUZZ_CHECK(current == reference_text(pixels, glyphs));
        lumaflick::collect_changed_buttons(current, previous, button, packets);
        check_packets(current, previous, packets);
        std::swap(current, previous);
    }
    return 0;
}
