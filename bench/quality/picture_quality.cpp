// picture-quality: how far the picture LFS shows is from the video it shows.
//
//   picture-quality REFERENCE INPUT MODE [linear|coded]
//
// REFERENCE holds the source's frames as ffmpeg scales them, rgb24 80x30.
// INPUT holds the player's frames from its own filter: rgb24 for the modes
// "colour" and "nearest", gray for "grey". Each frame of INPUT is drawn as a
// screen shows it ("colour" and "grey" go through the frame update's packets
// and the stand-in screen; "nearest" lights each channel above 127, without
// dithering), each cell in its palette RGB with empty cells black. Both
// pictures are blurred alike to model viewing distance and compared in
// CIELAB: the mean colour difference (CIE76) over all cells and frames goes
// to standard output as one number. Light mixes as light ("linear", the
// default); "coded" blurs sRGB's coded values instead, to show how much the
// answer owes to that choice.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frame.hpp"
#include "packet_decoder.hpp"
#include "insim/incoming.hpp"
#include "picture.hpp"
#include "picture/frame_update.hpp"
#include "screen.hpp"

namespace {

constexpr std::size_t CELLS = lumaflick::DEFAULT_GEOMETRY.width * lumaflick::DEFAULT_GEOMETRY.rows;
constexpr std::size_t RGB_FRAME = 3 * CELLS;

// A picture, three floats a cell from 0 to 1: sRGB's coded values, or light.
using Image = std::array<float, RGB_FRAME>;

enum class Blend { linear, coded };

enum class Mode { colour, nearest, grey };

std::optional<Mode> parse_mode(std::string_view text)
{
    if (text == "colour") return Mode::colour;
    if (text == "nearest") return Mode::nearest;
    if (text == "grey") return Mode::grey;
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> read_file(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

float linear(float coded)
{
    return coded <= 0.04045F ? coded / 12.92F : std::pow((coded + 0.055F) / 1.055F, 2.4F);
}

void linearise(Image& image)
{
    for (float& value : image) value = linear(value);
}

// The light of many cells mixes at a distance: a Gaussian of one cell, edges
// repeated.
void blur(Image& image)
{
    constexpr float SIGMA = 1.0F;
    constexpr int RADIUS = 3;
    std::array<float, 2 * RADIUS + 1> kernel{};
    float sum = 0.0F;
    for (int k = -RADIUS; k <= RADIUS; ++k) {
        kernel[static_cast<std::size_t>(k + RADIUS)] = std::exp(-0.5F * static_cast<float>(k * k) / (SIGMA * SIGMA));
        sum += kernel[static_cast<std::size_t>(k + RADIUS)];
    }
    for (float& weight : kernel) weight /= sum;

    const auto pass = [&](const Image& from, Image& to, bool across) {
        const int w = static_cast<int>(lumaflick::DEFAULT_GEOMETRY.width);
        const int h = static_cast<int>(lumaflick::DEFAULT_GEOMETRY.rows);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (std::size_t c = 0; c < 3; ++c) {
                    float total = 0.0F;
                    for (int k = -RADIUS; k <= RADIUS; ++k) {
                        const int sx = across ? std::clamp(x + k, 0, w - 1) : x;
                        const int sy = across ? y : std::clamp(y + k, 0, h - 1);
                        total += kernel[static_cast<std::size_t>(k + RADIUS)] *
                                 from[3 * static_cast<std::size_t>(sy * w + sx) + c];
                    }
                    to[3 * static_cast<std::size_t>(y * w + x) + c] = total;
                }
            }
        }
    };
    Image across{};
    pass(image, across, true);
    pass(across, image, false);
}

struct Lab {
    float l, a, b;
};

// Linear sRGB (D65) to CIELAB.
Lab lab(float r, float g, float b)
{
    const float x = (0.4124564F * r + 0.3575761F * g + 0.1804375F * b) / 0.95047F;
    const float y = 0.2126729F * r + 0.7151522F * g + 0.0721750F * b;
    const float z = (0.0193339F * r + 0.1191920F * g + 0.9503041F * b) / 1.08883F;
    const auto f = [](float t) {
        constexpr float E = 216.0F / 24389.0F;
        constexpr float K = 24389.0F / 27.0F;
        return t > E ? std::cbrt(t) : (K * t + 16.0F) / 116.0F;
    };
    return {116.0F * f(y) - 16.0F, 500.0F * (f(x) - f(y)), 200.0F * (f(y) - f(z))};
}

// The sum over cells of the CIE76 difference of the blurred pictures.
double difference_sum(Image shown, Image reference, Blend blend)
{
    if (blend == Blend::linear) {
        linearise(shown);
        linearise(reference);
    }
    blur(shown);
    blur(reference);
    if (blend == Blend::coded) {
        linearise(shown);
        linearise(reference);
    }
    double total = 0.0;
    for (std::size_t i = 0; i < RGB_FRAME; i += 3) {
        const Lab p = lab(shown[i], shown[i + 1], shown[i + 2]);
        const Lab q = lab(reference[i], reference[i + 1], reference[i + 2]);
        total += std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b));
    }
    return total;
}

void set_cell(Image& image, std::size_t cell, insim_screen::Rgb rgb)
{
    image[3 * cell] = static_cast<float>(rgb.r) / 255.0F;
    image[3 * cell + 1] = static_cast<float>(rgb.g) / 255.0F;
    image[3 * cell + 2] = static_cast<float>(rgb.b) / 255.0F;
}

// Draws a frame update's packets on the screen that keeps the rows earlier
// frames left there, as LFS does.
class StandInScreen {
public:
    bool take(std::span<const std::byte> block)
    {
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
        bool whole = true;
        const auto framed = framer_.feed(bytes, [&](std::span<const std::uint8_t> packet) {
            auto decoded = insim_screen::decode_packet(packet);
            auto* button = std::get_if<insim_screen::ButtonPacket>(&decoded);
            if (button == nullptr) {
                whole = false;
                return;
            }
            whole = screen_.set(button->ClickID, {button->L, button->T, button->W, button->H, button->BStyle,
                                                  std::move(button->Text)}) &&
                    whole;
        });
        return framed && whole && framer_.finish();
    }

    void draw(Image& image)
    {
        screen_.draw(picture_);
        for (std::size_t row = 0; row < lumaflick::DEFAULT_GEOMETRY.rows; ++row) {
            for (std::size_t column = 0; column < lumaflick::DEFAULT_GEOMETRY.width; ++column) {
                const insim_screen::Colour colour = picture_.at(row, column).colour;
                set_cell(image, row * lumaflick::DEFAULT_GEOMETRY.width + column,
                         colour == insim_screen::Colour::empty ? insim_screen::Rgb{} : insim_screen::colour_rgb(colour));
            }
        }
    }

private:
    insim::PacketFramer framer_;
    insim_screen::ButtonScreen screen_;
    insim_screen::Picture picture_;
};

// Each channel on above its middle, in the same palette.
void draw_nearest(std::span<const std::uint8_t> frame, Image& image)
{
    for (std::size_t cell = 0; cell < CELLS; ++cell) {
        const unsigned code = (frame[3 * cell] > 127 ? 1U : 0U) + (frame[3 * cell + 1] > 127 ? 2U : 0U) +
                              (frame[3 * cell + 2] > 127 ? 4U : 0U);
        set_cell(image, cell, insim_screen::colour_rgb(static_cast<insim_screen::Colour>(code)));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<Mode> mode = argc == 4 || argc == 5 ? parse_mode(argv[3]) : std::nullopt;
    const std::string_view blend_name = argc == 5 ? argv[4] : "linear";
    if (!mode || (blend_name != "linear" && blend_name != "coded")) {
        std::fputs("usage: picture-quality REFERENCE INPUT colour|nearest|grey [linear|coded]\n", stderr);
        return 2;
    }
    const Blend blend = blend_name == "coded" ? Blend::coded : Blend::linear;
    const auto reference = read_file(argv[1]);
    const auto input = read_file(argv[2]);
    if (!reference || !input) {
        std::fprintf(stderr, "picture-quality: cannot read %s\n", !reference ? argv[1] : argv[2]);
        return 1;
    }

    // The player's default glyph strings.
    const lumaflick::GlyphStrings grey_glyphs{"^0_", "^3_", "^6_", "^7_"};
    std::optional<lumaflick::FrameUpdate> update;
    if (*mode == Mode::colour) update.emplace(lumaflick::FrameUpdate::colour(lumaflick::Packing::full));
    if (*mode == Mode::grey) update.emplace(lumaflick::FrameUpdate::grey(grey_glyphs, lumaflick::Packing::full));
    const std::size_t input_frame = *mode == Mode::grey ? CELLS : RGB_FRAME;

    const std::size_t frames = std::min(reference->size() / RGB_FRAME, input->size() / input_frame);
    if (frames == 0 || reference->size() / RGB_FRAME != input->size() / input_frame) {
        std::fprintf(stderr, "picture-quality: %zu reference frames but %zu input frames\n",
                     reference->size() / RGB_FRAME, input->size() / input_frame);
        return 1;
    }

    StandInScreen screen;
    Image shown{};
    Image source{};
    double total = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        const std::span<const std::uint8_t> frame(input->data() + f * input_frame, input_frame);
        if (update) {
            if (!screen.take(update->show(frame))) {
                std::fprintf(stderr, "picture-quality: frame %zu gave packets the screen cannot take\n", f);
                return 1;
            }
            screen.draw(shown);
        } else {
            draw_nearest(frame, shown);
        }
        for (std::size_t i = 0; i < RGB_FRAME; ++i) {
            source[i] = static_cast<float>((*reference)[f * RGB_FRAME + i]) / 255.0F;
        }
        total += difference_sum(shown, source, blend);
    }
    std::printf("%.2f\n", total / static_cast<double>(frames * CELLS));
    return 0;
}
