#include "button_grid.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LUMAFLICK_GRID_X86 1
#include <immintrin.h>
#endif

namespace lumaflick {
namespace {

inline constexpr std::uint8_t BUTTON_WIDTH = 240;
inline constexpr std::uint8_t BUTTON_HEIGHT = 6;

// Reads a text line by line: a line ends before its line feed, a carriage
// return right before that line feed is dropped, and a final line feed does
// not open a further line.
class LineReader {
public:
    explicit LineReader(std::string_view text) noexcept : pos_(text.data()), end_(text.data() + text.size()) {}

    bool done() const noexcept { return pos_ == end_; }
    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - pos_); }

    // The next line, or an empty one once the text is used up.
    std::string_view next() noexcept
    {
        if (done()) {
            return {};
        }
        const char* start = pos_;
        const auto* feed = static_cast<const char*>(std::memchr(pos_, '\n', remaining()));
        if (feed == nullptr) {
            pos_ = end_;
            return {start, static_cast<std::size_t>(end_ - start)};
        }
        pos_ = feed + 1;
        const char* line_end = (feed != start && feed[-1] == '\r') ? feed - 1 : feed;
        return {start, static_cast<std::size_t>(line_end - start)};
    }

    std::string_view rest() const noexcept { return {pos_, remaining()}; }
    void skip(std::size_t bytes) noexcept { pos_ += bytes; }

private:
    const char* pos_;
    const char* end_;
};

struct SharedLines {
    std::size_t bytes = 0;  // through the last shared line's line feed
    std::size_t lines = 0;
};

#if defined(LUMAFLICK_GRID_X86)

bool has_avx2() noexcept
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported;
}

// Compares whole 32-byte blocks and gives the offset at which the byte loop
// goes on: the first differing byte, or the start of the last partial block.
__attribute__((target("avx2"))) std::size_t shared_blocks_avx2(const char* now, const char* before, std::size_t size,
                                                               SharedLines& shared) noexcept
{
    const __m256i feed = _mm256_set1_epi8('\n');
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(now + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(before + i));
        const auto same = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
        auto feeds = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, feed)));
        const int equal = std::countr_one(same);
        if (equal < 32) {
            feeds &= (std::uint32_t{1} << equal) - 1;
        }
        if (feeds != 0) {
            shared.lines += static_cast<std::size_t>(std::popcount(feeds));
            shared.bytes = i + static_cast<std::size_t>(std::bit_width(feeds));
        }
        if (equal < 32) {
            return i + static_cast<std::size_t>(equal);
        }
    }
    return i;
}

#endif

// The leading lines, line feeds included, that both texts share byte for byte.
// Such lines are unchanged, and one pass over both texts finds a run of them
// several times faster than a search for each line's end.
SharedLines shared_leading_lines(std::string_view current, std::string_view previous) noexcept
{
    const std::size_t size = std::min(current.size(), previous.size());
    SharedLines shared;
    std::size_t i = 0;
#if defined(LUMAFLICK_GRID_X86)
    if (has_avx2()) {
        i = shared_blocks_avx2(current.data(), previous.data(), size, shared);
    }
#endif
    for (; i < size && current[i] == previous[i]; ++i) {
        if (current[i] == '\n') {
            ++shared.lines;
            shared.bytes = i + 1;
        }
    }
    return shared;
}

}  // namespace

insim::IS_BTN make_button_template() noexcept
{
    insim::IS_BTN button{};
    // The only style flag is ISB_DARK, so combining the flags gives the flag itself.
    button.BStyle = insim::ISB_DARK;
    button.W = BUTTON_WIDTH;
    button.H = BUTTON_HEIGHT;
    return button;
}

void collect_changed_buttons(std::string_view current, std::string_view previous, insim::IS_BTN& button_template,
                             std::vector<insim::IS_BTN>& packets)
{
    LineReader current_lines(current);
    LineReader previous_lines(previous);
    std::uint8_t click_id = button_template.ClickID;
    std::uint8_t top = button_template.T;
    const std::size_t first_packet = packets.size();

    while (!current_lines.done()) {
        const SharedLines shared = shared_leading_lines(current_lines.rest(), previous_lines.rest());
        current_lines.skip(shared.bytes);
        previous_lines.skip(shared.bytes);
        click_id = static_cast<std::uint8_t>(click_id + shared.lines);
        top = static_cast<std::uint8_t>(top + BUTTON_HEIGHT * shared.lines);
        if (current_lines.done()) {
            break;
        }

        // Lines can still be equal here: one may end in a carriage return before
        // its line feed, or at the end of the text without one.
        ++click_id;
        const std::string_view line = current_lines.next();
        if (line != previous_lines.next()) {
            button_template.ClickID = click_id;
            button_template.T = top;
            packets.push_back(button_template);
            // The packet's text as set_button_text would write it, written once in place.
            auto& text = packets.back().Text;
            const std::size_t copied = std::min(line.size(), text.size());
            std::memcpy(text.data(), line.data(), copied);
            std::memset(text.data() + copied, 0, text.size() - copied);
        }
        top = static_cast<std::uint8_t>(top + BUTTON_HEIGHT);
    }

    button_template.ClickID = click_id;
    button_template.T = top;
    if (packets.size() > first_packet) {
        button_template.Text = packets.back().Text;
    }
}

}  // namespace lumaflick
