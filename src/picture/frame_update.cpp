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
      compact_lines_(packing == Packing::shortest && painter_->shape().compacts_lines),
      shown_cell_count_(geometry.rows), shown_line_(geometry.rows), shown_length_(geometry.rows)
{
    const PainterShape& shape = painter_->shape();
    const std::size_t row_cells = geometry.width * shape.cell_size;
    cells_.resize(geometry.rows * row_cells);
    shown_cells_.resize(geometry.rows * row_cells);
    const std::size_t line_room = geometry.width * shape.longest_glyph + LINE_SLACK;
    line_store_.resize((geometry.rows + 1) * line_room);
    for (std::size_t row = 0; row < geometry.rows; ++row) shown_line_[row] = line_store_.data() + row * line_room;
    spare_line_ = line_store_.data() + geometry.rows * line_room;
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
    block_.clear();
    if (painter_) {
        show_rows(frame);
    } else {
        show_text(frame);
    }
    return block_.bytes();
}

void FrameUpdate::show_rows(std::span<const std::uint8_t> frame)
{
    const PainterShape& shape = painter_->shape();
    const std::size_t width = geometry_.width;
    const std::size_t pixels = std::min(frame.size(), frame_size()) / shape.pixel_size;
    const std::size_t row_cells = width * shape.cell_size;
    painter_->paint(frame.first(pixels * shape.pixel_size), std::span(cells_).first(pixels * shape.cell_size));

    const std::size_t rows = (pixels + width - 1) / width;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t count = std::min(pixels - row * width, width) * shape.cell_size;
        const std::uint8_t* cells = cells_.data() + row * row_cells;
        std::uint8_t* shown = shown_cells_.data() + row * row_cells;
        if (count == shown_cell_count_[row] && std::memcmp(cells, shown, count) == 0) continue;
        std::memcpy(shown, cells, count);
        shown_cell_count_[row] = count;

        const std::span<const std::uint8_t> row_cells_now(cells, count);
        const auto write = [&](char* out) {
            return std::string_view(out, painter_->write_line(row_cells_now, out, compact_lines_));
        };
        if (shape.distinct_texts) {
            block_.add(row, write(spare_line_), compact_lines_);
            continue;
        }
        // Different cells can still spell the same text (glyph strings of
        // several lengths), and only a different line is sent.
        const std::size_t length = painter_->write_line(row_cells_now, spare_line_, false);
        if (length == shown_length_[row] && std::memcmp(spare_line_, shown_line_[row], length) == 0) continue;
        std::swap(spare_line_, shown_line_[row]);
        shown_length_[row] = length;
        block_.add(row, compact_lines_ ? write(spare_line_) : std::string_view(shown_line_[row], length),
                   compact_lines_);
    }
    // A frame of fewer rows leaves the buttons below it as they are, but the
    // next frame compares those rows with empty lines.
    for (std::size_t row = rows; row < geometry_.rows; ++row) {
        shown_cell_count_[row] = 0;
        shown_length_[row] = 0;
    }
}

void FrameUpdate::show_text(std::span<const std::uint8_t> frame)
{
    current_.clear();
    render_frame_text(frame.first(std::min(frame.size(), geometry_.pixels())), glyphs_, current_, geometry_.width);
    LineReader now(current_);
    LineReader before(previous_);
    for (std::size_t line = 0; !now.done(); ++line) {
        const std::string_view text = now.next();
        if (text != before.next()) block_.add(line, text);
    }
    // The shown text becomes the previous one; swapping keeps both buffers.
    std::swap(current_, previous_);
}

}  // namespace lumaflick
