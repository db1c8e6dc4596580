#include "png_image.hpp"

#include <algorithm>

#include <png.h>

namespace insim_screen {

namespace {

// png_image_free releases what a failed or finished read left behind.
struct ImageReader {
    png_image image{};
    ImageReader() { image.version = PNG_IMAGE_VERSION; }
    ~ImageReader() { png_image_free(&image); }
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;
};

constexpr Colour ALL_COLOURS[] = {Colour::black, Colour::red,   Colour::green, Colour::yellow,   Colour::blue,
                                  Colour::violet, Colour::cyan, Colour::white, Colour::standard, Colour::empty};

}  // namespace

RgbImage picture_image(const Picture& picture)
{
    // A pixel is 3/8 of a unit each way, and takes the colour of the cell under its centre.
    const std::size_t half_units = picture.columns() * picture.cell_width();
    const std::size_t units = picture.rows() * picture.cell_height();
    RgbImage image{(half_units * CELL_WIDTH + ROW_HEIGHT - 1) / ROW_HEIGHT,
                   (units * CELL_HEIGHT + ROW_HEIGHT - 1) / ROW_HEIGHT, {}};
    image.pixels.resize(image.width * image.height * 3);
    const std::size_t across = 8 * picture.cell_width();
    const std::size_t down = 16 * picture.cell_height();
    for (std::size_t y = 0; y < image.height; ++y) {
        for (std::size_t x = 0; x < image.width; ++x) {
            const std::size_t row = std::min((2 * y + 1) * 3 / down, picture.rows() - 1);
            const std::size_t column = std::min((2 * x + 1) * 3 / across, picture.columns() - 1);
            const Rgb rgb = colour_rgb(picture.at(row, column).colour);
            std::uint8_t* pixel = &image.pixels[(y * image.width + x) * 3];
            pixel[0] = rgb.r;
            pixel[1] = rgb.g;
            pixel[2] = rgb.b;
        }
    }
    return image;
}

Status write_png(const std::string& path, const RgbImage& image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr) == 0) {
        std::string why = png.message;
        png_image_free(&png);
        return Failure{"cannot write the snapshot " + path + ": " + why};
    }
    return {};
}

Result<RgbImage> read_png(const std::string& path)
{
    ImageReader reader;
    if (png_image_begin_read_from_file(&reader.image, path.c_str()) == 0) {
        return Failure{"cannot read " + path + ": " + reader.image.message};
    }
    reader.image.format = PNG_FORMAT_RGB;
    RgbImage image{reader.image.width, reader.image.height, {}};
    image.pixels.resize(PNG_IMAGE_SIZE(reader.image));
    if (png_image_finish_read(&reader.image, nullptr, image.pixels.data(), 0, nullptr) == 0) {
        return Failure{"cannot read " + path + ": " + reader.image.message};
    }
    return image;
}

std::optional<CellColours> snapshot_colours(const RgbImage& image)
{
    if (image.width != PICTURE_COLUMNS * CELL_WIDTH || image.height != PICTURE_ROWS * CELL_HEIGHT ||
        image.pixels.size() != image.width * image.height * 3) {
        return std::nullopt;
    }
    CellColours colours{};
    for (std::size_t r = 0; r < PICTURE_ROWS; ++r) {
        for (std::size_t c = 0; c < PICTURE_COLUMNS; ++c) {
            const std::size_t x = c * CELL_WIDTH + CELL_WIDTH / 2;
            const std::size_t y = r * CELL_HEIGHT + CELL_HEIGHT / 2;
            const std::uint8_t* pixel = &image.pixels[(y * image.width + x) * 3];
            const Rgb rgb{pixel[0], pixel[1], pixel[2]};
            bool known = false;
            for (const Colour colour : ALL_COLOURS) {
                if (colour_rgb(colour) == rgb) {
                    colours[r * PICTURE_COLUMNS + c] = colour;
                    known = true;
                    break;
                }
            }
            if (!known) return std::nullopt;
        }
    }
    return colours;
}

}  // namespace insim_screen
