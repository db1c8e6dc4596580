#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "geometry.hpp"
#include "picture/button_grid.hpp"
#include "picture/painter.hpp"
#include "picture/render.hpp"
#include "picture/row_order.hpp"

namespace lumaflick {

// What showing frames changes on LFS's screen: the text of every button as
// LFS shows it, the picture it is to show, and the packets that take it
// there. A "row" here is one button's line: a pixel row of more than 80
// pixels is several, each sent, and competing for a budget, on its own. A
// line is shown only once its packet is written; until then it stays
// pending, compared with what LFS shows rather than with the last frame. All
// of it is sized once; a frame allocates nothing.
class FrameUpdate {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Four brightness classes drawn with these glyph strings.
    static FrameUpdate grey(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);
    // RGB frames in LFS's eight colours.
    static FrameUpdate colour(Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);
    // Any way of painting; its rows are always lines.
    FrameUpdate(std::unique_ptr<Painter> painter, Packing packing, const Geometry& geometry = DEFAULT_GEOMETRY);

    // The bytes of whole pixels a frame holds.
    [[nodiscard]] std::size_t frame_size() const noexcept;

    // The bytes a read gave become the picture to show (whole pixels are
    // drawn, row after row): each line that now differs from what LFS shows
    // is pending, waiting from `now` if it was not already.
    void take(std::span<const std::uint8_t> frame, TimePoint now = {});
    // The buttons of every pending line, in line order; empty when none.
    std::span<const std::byte> rows();
    // The buttons of the pending rows that go first by `rule` within
    // `allowance` bytes, the last of them crossing it. Only for painters:
    // whole texts have no rows to choose from, and all their lines go.
    std::span<const std::byte> rows(std::int64_t allowance, TimePoint now, const RowOrderRule& rule);
    // The buttons last given are written: LFS shows their lines now. They
    // stay as they are until the next buttons given are written, so that
    // they can be kept without a copy.
    void written();
    [[nodiscard]] bool pending() const noexcept { return pending_count_ > 0; }

    // take and rows at once, when every pending row goes (no budget).
    std::span<const std::byte> changes(std::span<const std::uint8_t> frame);
    // changes and written at once: the packets that show a frame.
    std::span<const std::byte> show(std::span<const std::uint8_t> frame);

private:
    FrameUpdate(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry);
    void take_rows(std::span<const std::uint8_t> frame, TimePoint now, bool add);
    void set_pending(std::size_t row, bool pending, TimePoint now) noexcept;
    void add_row(std::size_t line);
    [[nodiscard]] std::uint32_t difference(std::size_t line) const noexcept;
    [[nodiscard]] std::size_t cell_offset(std::size_t line) const noexcept
    {
        return first_pixel_[line] * painter_->shape().cell_size;
    }

    Geometry geometry_;
    // One block to draw into while the other holds the buttons last written.
    std::array<ButtonBlock, 2> blocks_;
    std::size_t drawing_ = 0;
    ButtonBlock& block() noexcept { return blocks_[drawing_]; }

    // Rows, for painters and for glyph strings that keep a row on one line:
    // the cells and text to show and those LFS shows (the text only where
    // different cells can spell the same text).
    std::unique_ptr<Painter> painter_;
    bool compact_lines_ = false;  // the painter writes lines as the packing sends them
    std::size_t lines_ = 0;       // one a button
    std::vector<std::size_t> first_pixel_;  // each line's, and the frame's end
    std::vector<std::uint8_t> cells_;
    std::vector<std::size_t> cell_count_;
    std::vector<std::uint8_t> shown_cells_;
    std::vector<std::size_t> shown_cell_count_;
    std::vector<char> line_store_;  // two lines a row and a spare one
    std::vector<char*> line_;
    std::vector<std::size_t> length_;
    std::vector<char*> shown_line_;
    std::vector<std::size_t> shown_length_;
    char* spare_line_ = nullptr;

    // Which rows differ from what LFS shows, since when, and which the last
    // buttons hold.
    std::vector<std::uint8_t> pending_;
    std::size_t pending_count_ = 0;
    std::vector<TimePoint> since_;
    std::vector<std::uint16_t> in_block_;
    std::vector<PendingRow> competing_;

    // Text, for glyph strings with line breaks in them: a row can be many
    // lines, so whole texts are rendered and compared line by line.
    GlyphStrings glyphs_;
    std::string current_;
    std::string previous_;
    bool text_taken_ = false;
};

}  // namespace lumaflick
