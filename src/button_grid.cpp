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
    const char* position() const noexcept { return pos_; }
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

    // Consumes `run` and its line feed when they come next, as they do when
    // a line is unchanged, without searching for the line feed.
    bool skip_if_next(std::string_view run) noexcept
    {
        if (remaining() <= run.size() || pos_[run.size()] != '\n' ||
            std::memcmp(pos_, run.data(), run.size()) != 0) {
            return false;
        }
        pos_ += run.size() + 1;
        return true;
    }

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

__attribute__((target("avx2"))) SharedLines shared_leading_lines_avx2(const char* now, const char* before,
                                                                      std::size_t size) noexcept
{
    SharedLines shared;
    const __m256i feed = _mm256_set1_epi8('\n');
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(now + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(before + i));
        const auto same = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
        auto feeds = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, feed)));
        if (same != 0xFFFFFFFFU) {
            feeds &= (std::uint32_t{1} << std::countr_one(same)) - 1;
        }
        if (feeds != 0) {
            shared.lines += static_cast<std::size_t>(std::popcount(feeds));
            shared.bytes = i + static_cast<std::size_t>(std::bit_width(feeds));
        }
        if (same != 0xFFFFFFFFU) {
            return shared;
        }
    }
    for (; i < size && now[i] == before[i]; ++i) {
        if (now[i] == '\n') {
            ++shared.lines;
            shared.bytes = i + 1;
        }
    }
    return shared;
}

#endif

// The leading lines, line feeds included, that both texts share byte for byte:
// such lines are unchanged, and one pass over both texts finds them several
// times faster than searching each line's end.
SharedLines shared_leading_lines(std::string_view current, std::string_view previous) noexcept
{
#if defined(LUMAFLICK_GRID_X86)
    if (has_avx2()) {
        return shared_leading_lines_avx2(current.data(), previous.data(), std::min(current.size(), previous.size()));
    }
#endif
    // Elsewhere the line by line comparison does all the work.
    (void)current;
    (void)previous;
    return {};
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
    const SharedLines shared = shared_leading_lines(current, previous);
    LineReader current_lines(current.substr(shared.bytes));
    LineReader previous_lines(previous.substr(shared.bytes));
    auto click_id = static_cast<std::uint8_t>(button_template.ClickID + shared.lines);
    auto top = static_cast<std::uint8_t>(button_template.T + BUTTON_HEIGHT * shared.lines);
    const std::size_t first_packet = packets.size();

    while (!current_lines.done()) {
        ++click_id;
        const char* start = current_lines.position();
        const std::string_view line = current_lines.next();
        // The raw run (carriage return included) ended by a line feed: equal runs
        // mean equal lines, which is the common case and needs no search.
        const char* after = current_lines.position();
        const bool fed = after != start && after[-1] == '\n';
        const std::string_view run(start, static_cast<std::size_t>(after - start) - (fed ? 1 : 0));
        const bool unchanged =
            (fed && previous_lines.skip_if_next(run)) || line == previous_lines.next();
        if (!unchanged) {
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
