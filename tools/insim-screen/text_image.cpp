#include "text_image.hpp"

#include <cctype>
#include <fstream>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lfs_text.hpp"

namespace insim_screen {

namespace {

constexpr const char* FONT_PATH = "/usr/share/unifont/unifont.hex";
constexpr std::size_t FONT_HEIGHT = 16;
constexpr Rgb LIGHT{200, 200, 200};
constexpr Rgb DARK{0, 0, 0};

struct Glyph {
    std::size_t width = 8;            // 8 or 16 pixels
    std::vector<std::uint8_t> rows;  // width / 8 bytes a row, 16 rows
};

// Unifont's .hex: "XXXX:" and 32 or 64 hex digits a line; read once.
const std::unordered_map<char32_t, Glyph>& font()
{
    static const std::unordered_map<char32_t, Glyph> glyphs = [] {
        std::unordered_map<char32_t, Glyph> read;
        std::ifstream file(FONT_PATH);
        std::string line;
        while (std::getline(file, line)) {
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string bits = line.substr(colon + 1);
            if (bits.size() != 32 && bits.size() != 64) continue;
            Glyph glyph{bits.size() / 4, {}};  // 16 rows of 8 or 16 bits
            for (std::size_t i = 0; i + 1 < bits.size(); i += 2) {
                glyph.rows.push_back(static_cast<std::uint8_t>(std::stoul(bits.substr(i, 2), nullptr, 16)));
            }
            read.emplace(static_cast<char32_t>(std::stoul(line.substr(0, colon), nullptr, 16)), std::move(glyph));
        }
        return read;
    }();
    return glyphs;
}

std::vector<char32_t> code_points(std::string_view utf8)
{
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        char32_t point = length == 1 ? lead : lead & (0x3f >> (length - 1));
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            point = point << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
        }
        points.push_back(point);
        i += length;
    }
    return points;
}

// A missing glyph is a box.
Glyph glyph_of(char32_t point)
{
    const auto& glyphs = font();
    if (const auto found = glyphs.find(point); found != glyphs.end()) return found->second;
    Glyph box{8, std::vector<std::uint8_t>(FONT_HEIGHT, 0x81)};
    box.rows.front() = box.rows.back() = 0xff;
    return box;
}

void put(RgbImage& image, std::size_t x, std::size_t y, Rgb rgb)
{
    if (x >= image.width || y >= image.height) return;
    std::uint8_t* pixel = &image.pixels[(y * image.width + x) * 3];
    pixel[0] = rgb.r;
    pixel[1] = rgb.g;
    pixel[2] = rgb.b;
}

// Pixels from LFS's units: a glyph of the player's, 3 by 6 units, is a cell.
std::size_t across(std::size_t units) { return units * 2 * CELL_WIDTH / ROW_HEIGHT; }
std::size_t down(std::size_t units) { return units * CELL_HEIGHT / ROW_HEIGHT; }

void draw_button(RgbImage& image, const Button& button, const std::vector<char32_t>& text)
{
    const std::size_t x0 = across(button.L);
    const std::size_t y0 = down(button.T);
    const std::size_t width = across(button.W);
    const std::size_t height = down(button.H);
    for (std::size_t y = y0; y < y0 + height; ++y) {
        for (std::size_t x = x0; x < x0 + width; ++x) put(image, x, y, DARK);
    }
    // A half-width glyph is H / 2 units wide.
    std::vector<Glyph> glyphs;
    std::size_t text_width = 0;
    for (const char32_t point : text) {
        glyphs.push_back(glyph_of(point));
        text_width += across(button.H) / 2 * glyphs.back().width / 8;
    }
    constexpr std::uint8_t LEFT = 64;
    constexpr std::uint8_t RIGHT = 128;
    std::size_t x = x0;
    if ((button.BStyle & LEFT) == 0 && text_width < width) {
        x = (button.BStyle & RIGHT) != 0 ? x0 + width - text_width : x0 + (width - text_width) / 2;
    }
    for (const Glyph& glyph : glyphs) {
        const std::size_t glyph_width = across(button.H) / 2 * glyph.width / 8;
        const std::size_t bytes = glyph.width / 8;
        const auto bit = [&](std::size_t sx, std::size_t sy) {
            return (glyph.rows[sy * bytes + sx / 8] >> (7 - sx % 8) & 1) != 0;
        };
        // Shrunk so that a font pixel lights every pixel it touches: no stroke is lost.
        for (std::size_t dy = 0; dy < height; ++dy) {
            for (std::size_t dx = 0; dx < glyph_width && x + dx < x0 + width; ++dx) {
                bool lit = false;
                for (std::size_t sy = dy * FONT_HEIGHT / height; sy * height < (dy + 1) * FONT_HEIGHT; ++sy) {
                    for (std::size_t sx = dx * glyph.width / glyph_width; sx * glyph_width < (dx + 1) * glyph.width; ++sx) {
                        lit = lit || bit(sx, sy);
                    }
                }
                if (lit) put(image, x + dx, y0 + dy, LIGHT);
            }
        }
        x += glyph_width;
    }
}

}  // namespace

bool holds_words(std::string_view text) noexcept
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (std::isalnum(byte) != 0) return true;
        // U+2500 to U+259F: E2 94 80 to E2 96 9F.
        const bool drawing = byte == 0xe2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x94 &&
                             static_cast<unsigned char>(text[i + 1]) <= 0x96;
        if (byte >= 0xc0 && !drawing) return true;
    }
    return false;
}

void draw_words(RgbImage& image, std::span<const ButtonScreen* const> screens)
{
    for (const ButtonScreen* screen : screens) {
        for (std::size_t id = 0; id < MAX_BUTTONS; ++id) {
            const Button* button = screen->find(static_cast<std::uint8_t>(id));
            if (button == nullptr) continue;
            const std::string text = lfs_to_utf8(button->text);
            if (holds_words(text)) draw_button(image, *button, code_points(text));
        }
    }
}

}  // namespace insim_screen
