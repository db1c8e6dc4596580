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
    : geometry_(geometry), block_(packing, geometry), painter_(std::move(painter)),
      compact_lines_(packing == Packing::shortest && painter_->shape().compacts_lines), cell_count_(geometry.rows),
      shown_cell_count_(geometry.rows), line_(geometry.rows), length_(geometry.rows), shown_line_(geometry.rows),
      shown_length_(geometry.rows), pending_(geometry.rows), since_(geometry.rows)
{
    const PainterShape& shape = painter_->shape();
    row_cells_ = geometry.width * shape.cell_size;
    cells_.resize(geometry.rows * row_cells_);
    shown_cells_.resize(geometry.rows * row_cells_);
    const std::size_t line_room = geometry.width * shape.longest_glyph + LINE_SLACK;
    line_store_.resize((2 * geometry.rows + 1) * line_room);
    for (std::size_t row = 0; row < geometry.rows; ++row) {
        line_[row] = line_store_.data() + (row + 1) * line_room;
        shown_line_[row] = line_store_.data() + (geometry.rows + row + 1) * line_room;
    }
    spare_line_ = line_store_.data();
    in_block_.reserve(geometry.rows);
    competing_.reserve(geometry.rows);
}

FrameUpdate::FrameUpdate(const GlyphStrings& glyphs, Packing packing, const Geometry& geometry)
    : geometry_(geometry), block_(packing, geometry), glyphs_(glyphs)
{
    // Room for a whole frame, so that rendering never grows the texts.
    current_.reserve(max_frame_text_size(glyphs_, geometry));
    previous_.reserve(max_frame_text_size(glyphs_, geometry));
    previous_.assign(geometry.rows, '\n');
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
    block_.clear();
    in_block_.clear();
    take_rows(frame, {}, true);
    return block_.bytes();
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
    const std::size_t width = geometry_.width;
    const std::size_t pixels = std::min(frame.size(), frame_size()) / shape.pixel_size;
    painter_->paint(frame.first(pixels * shape.pixel_size), std::span(cells_).first(pixels * shape.cell_size));

    const std::size_t rows = (pixels + width - 1) / width;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t count = std::min(pixels - row * width, width) * shape.cell_size;
        const std::uint8_t* cells = cells_.data() + row * row_cells_;
        std::uint8_t* shown = shown_cells_.data() + row * row_cells_;
        cell_count_[row] = count;
        bool differs = count != shown_cell_count_[row] || std::memcmp(cells, shown, count) != 0;
        if (differs && !shape.distinct_texts) {
            // Different cells can still spell the same text (glyph strings of
            // several lengths), and only a different line is sent; one that
            // reads the same is shown already.
            length_[row] = painter_->write_line({cells, count}, line_[row], false);
            if (length_[row] == shown_length_[row] && std::memcmp(line_[row], shown_line_[row], length_[row]) == 0) {
                std::memcpy(shown, cells, count);
                shown_cell_count_[row] = count;
                differs = false;
            }
        }
        set_pending(row, differs, now);
        if (add && differs) add_row(row);
    }
    // A frame of fewer rows leaves the buttons below it as they are (rows
    // still pending from before go as they were), but the next frame
    // compares those rows with empty lines.
    for (std::size_t row = rows; row < geometry_.rows; ++row) {
        shown_cell_count_[row] = 0;
        shown_length_[row] = 0;
    }
}

void FrameUpdate::add_row(std::size_t row)
{
    const std::span<const std::uint8_t> cells(cells_.data() + row * row_cells_, cell_count_[row]);
    if (painter_->shape().distinct_texts || compact_lines_) {
        block_.add(row, {spare_line_, painter_->write_line(cells, spare_line_, compact_lines_)}, compact_lines_);
    } else {
        block_.add(row, {line_[row], length_[row]});
    }
    in_block_.push_back(static_cast<std::uint16_t>(row));
}

std::span<const std::byte> FrameUpdate::rows()
{
    block_.clear();
    in_block_.clear();
    if (!painter_) {
        if (!text_taken_) return block_.bytes();
        LineReader now(current_);
        LineReader before(previous_);
        for (std::size_t line = 0; !now.done(); ++line) {
            const std::string_view text = now.next();
            if (text != before.next()) block_.add(line, text);
        }
        return block_.bytes();
    }
    for (std::size_t row = 0; row < geometry_.rows && in_block_.size() < pending_count_; ++row) {
        if (pending_[row]) add_row(row);
    }
    return block_.bytes();
}

std::uint32_t FrameUpdate::difference(std::size_t row) const noexcept
{
    const std::size_t count = cell_count_[row];
    const std::size_t shown = shown_cell_count_[row];
    const std::size_t common = std::min(count, shown);
    const std::uint32_t unmatched = static_cast<std::uint32_t>(std::max(count, shown) - common);
    // Cells without a partner count as far apart as cells can be.
    return painter_->difference({cells_.data() + row * row_cells_, common},
                                {shown_cells_.data() + row * row_cells_, common}) +
           3 * unmatched + (count != shown);
}

std::span<const std::byte> FrameUpdate::rows(std::int64_t allowance, TimePoint now, const RowOrderRule& rule)
{
    if (!painter_) return rows();
    block_.clear();
    in_block_.clear();
    competing_.clear();
    for (std::size_t row = 0; row < geometry_.rows; ++row) {
        if (pending_[row]) competing_.push_back({static_cast<std::uint16_t>(row), difference(row), since_[row]});
    }
    order_rows(competing_, now, rule);
    for (const PendingRow& pending : competing_) {
        if (allowance <= 0) break;
        const std::size_t before = block_.bytes().size();
        add_row(pending.row);
        allowance -= static_cast<std::int64_t>(block_.bytes().size() - before);
    }
    return block_.bytes();
}

void FrameUpdate::written()
{
    if (!painter_) {
        // The shown text becomes the previous one; swapping keeps both buffers.
        if (text_taken_) std::swap(current_, previous_);
        text_taken_ = false;
        return;
    }
    const bool lines_kept = !painter_->shape().distinct_texts;
    for (const std::uint16_t row : in_block_) {
        std::memcpy(shown_cells_.data() + row * row_cells_, cells_.data() + row * row_cells_, cell_count_[row]);
        shown_cell_count_[row] = cell_count_[row];
        if (lines_kept) {
            std::swap(line_[row], shown_line_[row]);
            shown_length_[row] = length_[row];
        }
        pending_[row] = 0;
    }
    pending_count_ -= in_block_.size();
    in_block_.clear();
}

}  // namespace lumaflick
