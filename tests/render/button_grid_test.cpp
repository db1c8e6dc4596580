#include "picture/button_grid.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "insim/packets.hpp"

namespace lumaflick {
namespace {

struct Sent {
    unsigned click_id;
    unsigned top;
    std::string text;  // the line as it is put into the button, before the cut
};

std::string repeat(std::string_view piece, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::vector<insim::IS_BTN> collect(std::string_view current, std::string_view previous)
{
    insim::IS_BTN button = make_button_template();
    std::vector<insim::IS_BTN> packets;
    collect_changed_buttons(current, previous, button, packets);
    return packets;
}

// Each packet must be the template with the line's ClickID, T and text.
void expect_packets(const std::vector<insim::IS_BTN>& packets, const std::vector<Sent>& expected)
{
    ASSERT_EQ(packets.size(), expected.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        insim::IS_BTN want = make_button_template();
        want.ClickID = static_cast<std::uint8_t>(expected[i].click_id);
        want.T = static_cast<std::uint8_t>(expected[i].top);
        insim::set_button_text(want, expected[i].text);
        const auto got_bytes = insim::image(packets[i]);
        const auto want_bytes = insim::image(want);
        EXPECT_TRUE(std::equal(got_bytes.begin(), got_bytes.end(), want_bytes.begin()))
            << "packet " << i << ": ClickID " << int{packets[i].ClickID} << " T " << int{packets[i].T};
    }
}

TEST(ButtonTemplate, HasTheGridValues)
{
    const insim::IS_BTN button = make_button_template();
    const std::array<std::uint8_t, 12> head{63, 45, 1, 255, 0, 0, 32, 0, 0, 0, 240, 6};
    const auto bytes = insim::image(button);
    ASSERT_EQ(bytes.size(), 252U);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(std::to_integer<unsigned>(bytes[i]), i < head.size() ? head[i] : 0U) << "byte " << i;
    }
}

TEST(CollectChangedButtons, ComparesLines)
{
    struct Row {
        const char* name;
        std::string current;
        std::string previous;
        std::vector<Sent> expected;
    };
    const std::string empty30(30, '\n');
    const std::string full = repeat(repeat("^0_", 80) + "\n", 30);
    std::string row5_changed = full;
    row5_changed[5 * 241 + 7] = '7';
    const Row rows[] = {
        {"unchanged frame", full, full, {}},
        {"only row 5 changed", row5_changed, full, {{6, 30, row5_changed.substr(5 * 241, 240)}}},
        {"empty lines against the start text", empty30, empty30, {}},
        {"missing previous lines count as empty", "a\n\nc\n", "a\n", {{3, 12, "c"}}},
        {"extra previous lines are ignored", "a\n", "a\nb\nc\n", {}},
        {"empty previous text", "a\nb\n", "", {{1, 0, "a"}, {2, 6, "b"}}},
        {"empty current text", "", "a\nb\n", {}},
        {"carriage return before a line feed is dropped", "ab\r\ncd\n", "ab\ncd\r\n", {}},
        {"only the last carriage return is dropped", "ab\r\r\n", "ab\r\n", {{1, 0, "ab\r"}}},
        {"a carriage return without a line feed stays", "ab\r", "ab\n", {{1, 0, "ab\r"}}},
        {"a carriage return without a line feed is not one before it", "ab\r", "ab\r\n", {{1, 0, "ab\r"}}},
        {"a last line without a line feed", "ab\ncd", "ab\ncd\n", {}},
        {"same bytes, different length", "ab\n", "abc\n", {{1, 0, "ab"}}},
        {"a line that became empty", "\nb\n", "a\nb\n", {{1, 0, ""}}},
        {"lines of 240 and 243 bytes", std::string(240, 'x') + "\n" + std::string(243, 'y') + "\n", "",
         {{1, 0, std::string(240, 'x')}, {2, 6, std::string(243, 'y')}}},
        {"lines that differ only after byte 240", std::string(240, 'x') + "a\n", std::string(240, 'x') + "b\n",
         {{1, 0, std::string(240, 'x') + "a"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expect_packets(collect(row.current, row.previous), row.expected);
    }
}

// The texts are views: nothing past their end may be read, even a line feed.
TEST(CollectChangedButtons, StopsAtTheEndOfAView)
{
    const std::string_view buffer = "ab\ncd\n";
    expect_packets(collect(buffer, buffer.substr(0, 2)), {{2, 6, "cd"}});
    expect_packets(collect(buffer.substr(0, 2), buffer), {});
}

// The template keeps the last line written; a shorter line after it must not
// carry the rest of that line along, in this frame or the next.
TEST(CollectChangedButtons, ShorterLinesAfterLongerOnesAreZeroPadded)
{
    insim::IS_BTN button = make_button_template();
    std::vector<insim::IS_BTN> packets;
    const std::string long_line(240, 'L');
    collect_changed_buttons(long_line + "\nab\n", "", button, packets);
    button.ClickID = 0;
    button.T = 0;
    collect_changed_buttons("x\n", long_line + "\n", button, packets);
    std::vector<insim::IS_BTN> second(packets.begin() + 2, packets.end());
    packets.resize(2);
    expect_packets(packets, {{1, 0, long_line}, {2, 6, "ab"}});
    expect_packets(second, {{1, 0, "x"}});
}

TEST(CollectChangedButtons, FirstFullFrameFillsTheGrid)
{
    const std::string line = repeat("^3_", 80);
    const auto packets = collect(repeat(line + "\n", 30), std::string(30, '\n'));
    std::vector<Sent> expected;
    for (unsigned k = 0; k < 30; ++k) {
        expected.push_back({k + 1, 6 * k, line});
    }
    expect_packets(packets, expected);
    // The packet list is the send block itself.
    EXPECT_EQ(insim::image(std::span<const insim::IS_BTN>(packets)).size(), 7560U);
    EXPECT_EQ(packets.back().Text.back(), '_');
}

TEST(CollectChangedButtons, ClickIdAndTopWrapAfter256)
{
    const auto packets = collect(repeat("x\n", 300), "");
    ASSERT_EQ(packets.size(), 300U);
    for (std::size_t k = 0; k < packets.size(); ++k) {
        EXPECT_EQ(packets[k].ClickID, static_cast<std::uint8_t>(k + 1)) << "line " << k;
        EXPECT_EQ(packets[k].T, static_cast<std::uint8_t>(6 * k)) << "line " << k;
    }
    EXPECT_EQ(packets[43].T, 2);
    EXPECT_EQ(packets[255].ClickID, 0);

    // Unchanged lines count too, however they are skipped.
    std::string previous = repeat("x\n", 300);
    previous[2 * 280] = 'y';
    expect_packets(collect(repeat("x\n", 300), previous), {{281 % 256, (6 * 280) % 256, "x"}});
}

TEST(CollectChangedButtons, TemplateEndsAfterTheLastLine)
{
    insim::IS_BTN button = make_button_template();
    std::vector<insim::IS_BTN> packets(1);  // appended to, not replaced
    collect_changed_buttons("a\nb\nc\n", "a\nb\nx\ny\n", button, packets);
    ASSERT_EQ(packets.size(), 2U);
    EXPECT_EQ(button.ClickID, 3);
    EXPECT_EQ(button.T, 18);
    insim::IS_BTN with_c = make_button_template();
    insim::set_button_text(with_c, "c");
    EXPECT_EQ(button.Text, with_c.Text);

    // No changed line leaves the text as it was.
    button.ClickID = 0;
    button.T = 0;
    collect_changed_buttons("a\n", "a\n", button, packets);
    EXPECT_EQ(packets.size(), 2U);
    EXPECT_EQ(button.Text, with_c.Text);
}

// The plain reading of the rules, to check the fast paths against.
std::vector<std::string_view> split_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t feed = text.find('\n');
        if (feed == std::string_view::npos) {
            lines.push_back(text);
            break;
        }
        std::string_view line = text.substr(0, feed);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(feed + 1);
    }
    return lines;
}

std::vector<Sent> reference_packets(std::string_view current, std::string_view previous)
{
    const auto now = split_lines(current);
    const auto before = split_lines(previous);
    std::vector<Sent> sent;
    for (std::size_t k = 0; k < now.size(); ++k) {
        const std::string_view old = k < before.size() ? before[k] : std::string_view{};
        if (now[k] != old) {
            sent.push_back({static_cast<unsigned>((k + 1) % 256), static_cast<unsigned>((6 * k) % 256),
                            std::string(now[k])});
        }
    }
    return sent;
}

class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    std::size_t below(std::size_t bound)
    {
        state_ = state_ * 1664525U + 1013904223U;
        return (state_ >> 8) % bound;
    }

private:
    std::uint32_t state_;
};

// Texts of many line lengths, and a previous text that differs from the
// current one at a random place: within a line, at a line feed, by a carriage
// return, by length, or not at all.
TEST(CollectChangedButtons, AgreesWithThePlainRules)
{
    Random random(12345);
    const char alphabet[] = {'^', '0', '_', 'x', '\r', '\n'};
    for (int round = 0; round < 3000; ++round) {
        std::string current;
        const std::size_t lines = random.below(40);
        for (std::size_t k = 0; k < lines; ++k) {
            const std::size_t length = random.below(4) == 0 ? random.below(300) : 240;
            for (std::size_t b = 0; b < length; ++b) {
                current += alphabet[random.below(4)];
            }
            current += random.below(10) == 0 ? "\r\n" : "\n";
        }
        if (random.below(8) == 0 && !current.empty()) {
            current.pop_back();
        }
        std::string previous = current;
        const std::size_t edits = random.below(4);
        for (std::size_t e = 0; e < edits && !previous.empty(); ++e) {
            const std::size_t at = random.below(previous.size());
            switch (random.below(4)) {
            case 0: previous[at] = alphabet[random.below(std::size(alphabet))]; break;
            case 1: previous.resize(at); break;
            case 2: previous.insert(at, 1, alphabet[random.below(std::size(alphabet))]); break;
            default: previous.erase(at, 1); break;
            }
        }
        if (random.below(2) == 0) {
            std::swap(current, previous);
        }
        SCOPED_TRACE(::testing::Message() << "round " << round);
        expect_packets(collect(current, previous), reference_packets(current, previous));
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

// A short read redraws only its own rows; the next full frame redraws the rest.
TEST(CollectChangedButtons, ShortReadThenFullFrame)
{
    const std::string line = repeat("^0_", 80) + "\n";
    const std::string full = repeat(line, 30);
    const std::string short_read = line + repeat("^0_", 20) + "\n";
    expect_packets(collect(short_read, full), {{2, 6, repeat("^0_", 20)}});
    const auto packets = collect(full, short_read);
    ASSERT_EQ(packets.size(), 29U);
    EXPECT_EQ(packets.front().ClickID, 2);
    EXPECT_EQ(packets.back().ClickID, 30);
}

}  // namespace
}  // namespace lumaflick
