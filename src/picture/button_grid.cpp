#include "picture/button_grid.hpp"

#include <algorithm>
#include <array>
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
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0;
    }();
    return supported;
}

__attribute__((target("avx2"))) inline __m256i load(const char* at) noexcept
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Compares 128 bytes a step while they are all equal, counting their line
// feeds without a branch, then 32-byte blocks to place the first difference.
// Gives the offset at which the byte loop goes on: the first differing byte,
// or the start of the last partial block.
__attribute__((target("avx2,popcnt"))) std::size_t shared_blocks_avx2(const char* now, const char* before,
                                                                     std::size_t size, SharedLines& shared) noexcept
{
    const __m256i feed = _mm256_set1_epi8('\n');
    std::size_t i = 0;
    __m256i feed_sums = _mm256_setzero_si256();
    std::size_t last_feeds = 0;  // the last step that held a line feed
    for (; i + 128 <= size; i += 128) {
        const __m256i a0 = load(now + i);
        const __m256i a1 = load(now + i + 32);
        const __m256i a2 = load(now + i + 64);
        const __m256i a3 = load(now + i + 96);
        const __m256i same = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi8(a0, load(before + i)), _mm256_cmpeq_epi8(a1, load(before + i + 32))),
            _mm256_and_si256(_mm256_cmpeq_epi8(a2, load(before + i + 64)),
                             _mm256_cmpeq_epi8(a3, load(before + i + 96))));
        if (_mm256_movemask_epi8(same) != -1) {
            break;
        }
        // Each byte lane counts up to four line feeds (compare results are -1).
        const __m256i feeds =
            _mm256_sub_epi8(_mm256_sub_epi8(_mm256_setzero_si256(), _mm256_cmpeq_epi8(a0, feed)),
                            _mm256_add_epi8(_mm256_add_epi8(_mm256_cmpeq_epi8(a1, feed), _mm256_cmpeq_epi8(a2, feed)),
                                            _mm256_cmpeq_epi8(a3, feed)));
        feed_sums = _mm256_add_epi64(feed_sums, _mm256_sad_epu8(feeds, _mm256_setzero_si256()));
        last_feeds = _mm256_testz_si256(feeds, feeds) != 0 ? last_feeds : i + 128;
    }
    std::array<std::uint64_t, 4> sums{};
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums.data()), feed_sums);
    std::size_t lines = shared.lines + static_cast<std::size_t>(sums[0] + sums[1] + sums[2] + sums[3]);
    std::size_t bytes = shared.bytes;
    if (last_feeds != 0) {
        // The last line feed lies in the 128 bytes before last_feeds.
        std::size_t block = last_feeds;
        std::uint32_t feeds = 0;
        while (feeds == 0) {
            block -= 32;
            feeds = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load(now + block), feed)));
        }
        bytes = block + static_cast<std::size_t>(std::bit_width(feeds));
    }

    for (; i + 32 <= size; i += 32) {
        const __m256i a = load(now + i);
        const auto same = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, load(before + i))));
        auto feeds = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, feed)));
        const int equal = std::countr_one(same);
        if (equal < 32) {
            feeds &= (std::uint32_t{1} << equal) - 1;
        }
        lines += static_cast<std::size_t>(std::popcount(feeds));
        bytes = feeds != 0 ? i + static_cast<std::size_t>(std::bit_width(feeds)) : bytes;
        if (equal < 32) {
            i += static_cast<std::size_t>(equal);
            break;
        }
    }
    shared = {bytes, lines};
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
    button.BStyle = static_cast<std::uint8_t>(insim::combine_flags({insim::ISB_DARK}));
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
            // The text goes straight into the packet, so it is written once.
            packets.push_back(button_template);
            insim::set_button_text(packets.back(), line);
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
