#include "picture/frame_update.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "picture/colour_painter.hpp"
#include "picture/grey_painter.hpp"

namespace lumaflick {

namespace {

// Room for 8 bytes of slack after a line, which painters may write over.
inline constexpr std::size_t LINE_SLACK = 8;

// Reads a text line by line: a line ends before its line feed, a carriage
// return right before that line feed is dropped, and a final line feed does
// not open a further line.
class LineReader {
public:
    explicit LineReader(std::string_view text) noexcept : rest_(text) {}

    [[nodiscard]] bool done() const noexcept { return rest_.empty(); }

    // The next line, or an empty one once the text is used up.
    std::string_view next() noexcept
    {
        const std::size_t feed = rest_.find('\n');
        std::string_view line = rest_.substr(0, feed);
        rest_.remove_prefix(feed == std::string_view::npos ? rest_.size() : feed + 1);
        if (feed != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        return line;
    }

private:
    std::string_view rest_;
};

}  // namespace

FrameUpdate FrameUpdate::grey(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry)
{
    if (keeps_rows_as_lines(glyphs)) {
        return FrameUpdate(std::make_unique<GreyPainter>(glyphs, geometry.width), packing, geometry);
    }
    return FrameUpdate(glyphs, packing, geometry);
}

FrameUpdate FrameUpdate::colour(Packing packing, const Geometry& geometry)
{
    return FrameUpdate(std::make_unique<ColourPainter>(geometry.width), packing, geometry);
}

FrameUpdate::FrameUpdate(std::unique_ptr<Painter> painter, Packing packing, const Geometry& geometry)
    : geometry_(geometry), blocks_{ButtonBlock(packing, geometry), ButtonBlock(packing, geometry)}, painter_(std::move(painter)),
      compact_lines_(packing == Packing::shortest && painter_->shape().compacts_lines), lines_(geometry.buttons()),
      cell_count_(lines_), shown_cell_count_(lines_), line_(lines_), length_(lines_), shown_line_(lines_),
      shown_length_(lines_), pending_(lines_), since_(lines_)
{
    const PainterShape& shape = painter_->shape();
    cells_.resize(geometry.pixels() * shape.cell_size);
    shown_cells_.resize(cells_.size());
    first_pixel_.reserve(lines_ + 1);
    for (std::size_t line = 0; line < lines_; ++line) first_pixel_.push_back(geometry.button(line).first_pixel);
    first_pixel_.push_back(geometry.pixels());
    const std::size_t line_room =
        std::min(geometry.width, Geometry::BUTTON_PIXELS) * shape.longest_glyph + LINE_SLACK;
    line_store_.resize((2 * lines_ + 1) * line_room);
    for (std::size_t line = 0; line < lines_; ++line) {
        line_[line] = line_store_.data() + (line + 1) * line_room;
        shown_line_[line] = line_store_.data() + (lines_ + line + 1) * line_room;
    }
    spare_line_ = line_store_.data();
    in_block_.reserve(lines_);
    competing_.reserve(lines_);
}

FrameUpdate::FrameUpdate(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry)
    : geometry_(geometry), blocks_{ButtonBlock(packing, geometry), ButtonBlock(packing, geometry)}, glyphs_(glyphs)
{
    // Room for a whole frame, so that rendering never grows the texts.
    current_.reserve(max_frame_text_size(glyphs_, geometry));
    previous_.reserve(max_frame_text_size(glyphs_, geometry));
    previous_.assign(geometry.buttons(), '\n');
}

std::size_t FrameUpdate::frame_size() const noexcept
{
    return geometry_.pixels() * (painter_ ? painter_->shape().pixel_size : 1);
}

std::span<const std::byte> FrameUpdate::show(std::span<const std::uint8_t> frame)
{
    const auto buttons = changes(frame);
    written();
    return buttons;
}

std::span<const std::byte> FrameUpdate::changes(std::span<const std::uint8_t> frame)
{
    if (!painter_) {
        take(frame);
        return rows();
    }
    // In one pass over the rows: the fast path of every frame without a budget.
    block().clear();
    in_block_.clear();
    take_rows(frame, {}, true);
    return block().bytes();
}

void FrameUpdate::take(std::span<const std::uint8_t> frame, TimePoint now)
{
    if (painter_) {
        take_rows(frame, now, false);
        return;
    }
    current_.clear();
    render_frame_text(frame.first(std::min(frame.size(), geometry_.pixels())), glyphs_, current_, geometry_.width);
    text_taken_ = true;
}

void FrameUpdate::set_pending(std::size_t row, bool pending, TimePoint now) noexcept
{
    if (pending && !pending_[row]) since_[row] = now;
    pending_count_ = pending_count_ + pending - pending_[row];
    pending_[row] = pending;
}

void FrameUpdate::take_rows(std::span<const std::uint8_t> frame, TimePoint now, bool add)
{
    const PainterShape& shape = painter_->shape();
    const std::size_t pixels = std::min(frame.size(), frame_size()) / shape.pixel_size;
    painter_->paint(frame.first(pixels * shape.pixel_size), std::span(cells_).first(pixels * shape.cell_size));

    std::size_t line = 0;
    for (; line < lines_ && first_pixel_[line] < pixels; ++line) {
        const std::size_t at = first_pixel_[line] * shape.cell_size;
        const std::size_t count = (std::min(first_pixel_[line + 1], pixels) - first_pixel_[line]) * shape.cell_size;
        const std::uint8_t* cells = cells_.data() + at;
        std::uint8_t* shown = shown_cells_.data() + at;
        cell_count_[line] = count;
        bool differs = count != shown_cell_count_[line] || std::memcmp(cells, shown, count) != 0;
        if (differs && !shape.distinct_texts) {
            // Different cells can still spell the same text (glyph strings of
            // several lengths), and only a different line is sent; one that
            // reads the same is shown already.
            length_[line] = painter_->write_line({cells, count}, line_[line], false);
            if (length_[line] == shown_length_[line] &&
                std::memcmp(line_[line], shown_line_[line], length_[line]) == 0) {
                std::memcpy(shown, cells, count);
                shown_cell_count_[line] = count;
                differs = false;
            }
        }
        set_pending(line, differs, now);
        if (add && differs) add_row(line);
    }
    // A frame of fewer pixels leaves the buttons after them as they are (lines
    // still pending from before go as they were), but the next frame
    // compares those lines with empty ones.
    for (; line < lines_; ++line) {
        shown_cell_count_[line] = 0;
        shown_length_[line] = 0;
    }
}

void FrameUpdate::add_row(std::size_t line)
{
    const std::span<const std::uint8_t> cells(cells_.data() + cell_offset(line), cell_count_[line]);
    if (painter_->shape().distinct_texts || compact_lines_) {
        block().add(line, {spare_line_, painter_->write_line(cells, spare_line_, compact_lines_)}, compact_lines_);
    } else {
        block().add(line, {line_[line], length_[line]});
    }
    in_block_.push_back(static_cast<std::uint16_t>(line));
}

std::span<const std::byte> FrameUpdate::rows()
{
    block().clear();
    in_block_.clear();
    if (!painter_) {
        if (!text_taken_) return block().bytes();
        LineReader now(current_);
        LineReader before(previous_);
        for (std::size_t line = 0; !now.done(); ++line) {
            const std::string_view text = now.next();
            if (text != before.next()) block().add(line, text);
        }
        return block().bytes();
    }
    for (std::size_t line = 0; line < lines_ && in_block_.size() < pending_count_; ++line) {
        if (pending_[line]) add_row(line);
    }
    return block().bytes();
}

std::uint32_t FrameUpdate::difference(std::size_t line) const noexcept
{
    const std::size_t count = cell_count_[line];
    const std::size_t shown = shown_cell_count_[line];
    const std::size_t common = std::min(count, shown);
    const std::uint32_t unmatched = static_cast<std::uint32_t>(std::max(count, shown) - common);
    // Cells without a partner count as far apart as cells can be.
    return painter_->difference({cells_.data() + cell_offset(line), common},
                                {shown_cells_.data() + cell_offset(line), common}) +
           3 * unmatched + (count != shown);
}

std::span<const std::byte> FrameUpdate::rows(std::int64_t allowance, TimePoint now, const RowOrderRule& rule)
{
    if (!painter_) return rows();
    block().clear();
    in_block_.clear();
    competing_.clear();
    for (std::size_t line = 0; line < lines_; ++line) {
        if (pending_[line]) competing_.push_back({static_cast<std::uint16_t>(line), difference(line), since_[line]});
    }
    order_rows(competing_, now, rule);
    for (const PendingRow& pending : competing_) {
        if (allowance <= 0) break;
        const std::size_t before = block().bytes().size();
        add_row(pending.row);
        allowance -= static_cast<std::int64_t>(block().bytes().size() - before);
    }
    return block().bytes();
}

void FrameUpdate::written()
{
    if (!block().bytes().empty()) {
        // The other block is free now; given the room this one grew to, it
        // grows in no later frame.
        blocks_[drawing_ ^ 1].make_room_like(block());
        drawing_ ^= 1;
    }
    if (!painter_) {
        // The shown text becomes the previous one; swapping keeps both buffers.
        if (text_taken_) std::swap(current_, previous_);
        text_taken_ = false;
        return;
    }
    const bool lines_kept = !painter_->shape().distinct_texts;
    for (const std::uint16_t line : in_block_) {
        std::memcpy(shown_cells_.data() + cell_offset(line), cells_.data() + cell_offset(line), cell_count_[line]);
        shown_cell_count_[line] = cell_count_[line];
        if (lines_kept) {
            std::swap(line_[line], shown_line_[line]);
            shown_length_[line] = length_[line];
        }
        pending_[line] = 0;
    }
    pending_count_ -= in_block_.size();
    in_block_.clear();
}

}  // namespace lumaflick
