// picture-quality: how far the picture LFS shows is from the video it shows.
//
//   picture-quality REFERENCE INPUT MODE [linear|coded]
//                   [--compact] [--rate R] [--bandwidth B] [--resolution COLSxROWS]
//
// REFERENCE holds the source's frames as ffmpeg scales them, rgb24 80x30;
// with --resolution, rgb24 480x180 instead: the player's 240 × 180 units in
// samples half a unit wide and a unit tall, fine enough for any of its
// resolutions that cover them. INPUT holds the player's frames from its own
// filter (COLSxROWS, 80x30 by default, with rows as tall as fit): rgb24 for the modes
// "colour" and "nearest", gray for "grey". Each frame of INPUT is drawn as a
// screen shows it ("colour" and "grey" go through the frame update's packets
// and the stand-in screen; "nearest" lights each channel above 127, without
// dithering), each cell in its palette RGB with empty cells black. Both
// pictures are blurred alike to model viewing distance and compared in
// CIELAB: the mean colour difference (CIE76) over all cells and frames goes
// to standard output as one number. Light mixes as light ("linear", the
// default); "coded" blurs sRGB's coded values instead, to show how much the
// answer owes to that choice.
//
// The player is simulated in time: INPUT's frame k arrives at k/R seconds
// (R is 30 unless --rate says otherwise) and REFERENCE's frame f is compared
// with what the screen shows at f/30, once everything due by then has been
// sent. --compact packs the buttons as the player's --compact does;
// --bandwidth B sends the rows as the player does under that budget, waking
// between frames whenever rows wait. With any of these flags the line holds
// two more numbers: the bytes a second sent over the reference's length, and
// the most bytes sent within any one second, and the button packets a second.

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
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
#include "picture/byte_budget.hpp"
#include "picture/frame_update.hpp"
#include "screen.hpp"

namespace {

// Where pictures are compared: samples of `across` half units by `down`
// units of LFS's screen, and the blur in samples: one cell of the 80x30
// picture (3 × 6 units) at any resolution, a viewer at one distance.
struct Canvas {
    std::size_t width = lumaflick::DEFAULT_GEOMETRY.width;
    std::size_t height = lumaflick::DEFAULT_GEOMETRY.rows;
    std::size_t across = 6;
    std::size_t down = 6;
    float sigma_x = 1.0F;
    float sigma_y = 1.0F;
    [[nodiscard]] std::size_t samples() const noexcept { return width * height; }
};
constexpr Canvas CELL_CANVAS{};
constexpr Canvas FINE_CANVAS{480, 180, 1, 1, 6.0F, 6.0F};

// A picture, three floats a sample from 0 to 1: sRGB's coded values, or light.
using Image = std::vector<float>;

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

// The light of many cells mixes at a distance: a Gaussian, edges repeated.
void blur(Image& image, const Canvas& canvas)
{
    const auto kernel_of = [](float sigma) {
        const int radius = static_cast<int>(std::ceil(3.0F * sigma));
        std::vector<float> kernel;
        float sum = 0.0F;
        for (int k = -radius; k <= radius; ++k) {
            kernel.push_back(std::exp(-0.5F * static_cast<float>(k * k) / (sigma * sigma)));
            sum += kernel.back();
        }
        for (float& weight : kernel) weight /= sum;
        return kernel;
    };
    const std::vector<float> across_kernel = kernel_of(canvas.sigma_x);
    const std::vector<float> down_kernel = kernel_of(canvas.sigma_y);

    const auto pass = [&](const Image& from, Image& to, bool across) {
        const std::vector<float>& kernel = across ? across_kernel : down_kernel;
        const int radius = static_cast<int>(kernel.size() / 2);
        const int w = static_cast<int>(canvas.width);
        const int h = static_cast<int>(canvas.height);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (std::size_t c = 0; c < 3; ++c) {
                    float total = 0.0F;
                    for (int k = -radius; k <= radius; ++k) {
                        const int sx = across ? std::clamp(x + k, 0, w - 1) : x;
                        const int sy = across ? y : std::clamp(y + k, 0, h - 1);
                        total += kernel[static_cast<std::size_t>(k + radius)] *
                                 from[3 * static_cast<std::size_t>(sy * w + sx) + c];
                    }
                    to[3 * static_cast<std::size_t>(y * w + x) + c] = total;
                }
            }
        }
    };
    Image across(image.size());
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
double difference_sum(Image shown, Image reference, Blend blend, const Canvas& canvas)
{
    if (blend == Blend::linear) {
        linearise(shown);
        linearise(reference);
    }
    blur(shown, canvas);
    blur(reference, canvas);
    if (blend == Blend::coded) {
        linearise(shown);
        linearise(reference);
    }
    double total = 0.0;
    for (std::size_t i = 0; i < shown.size(); i += 3) {
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

    // Each sample as the screen shows its top left corner.
    void draw(Image& image, const Canvas& canvas)
    {
        screen_.draw(picture_);
        for (std::size_t y = 0; y < canvas.height; ++y) {
            for (std::size_t x = 0; x < canvas.width; ++x) {
                const std::size_t row = y * canvas.down / picture_.cell_height();
                const std::size_t column = x * canvas.across / picture_.cell_width();
                const insim_screen::Colour colour = row < picture_.rows() && column < picture_.columns()
                                                        ? picture_.at(row, column).colour
                                                        : insim_screen::Colour::empty;
                set_cell(image, y * canvas.width + x,
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
void draw_nearest(std::span<const std::uint8_t> frame, const lumaflick::Geometry& geometry, Image& image,
                  const Canvas& canvas)
{
    for (std::size_t y = 0; y < canvas.height; ++y) {
        for (std::size_t x = 0; x < canvas.width; ++x) {
            const std::size_t cell = y * geometry.rows / canvas.height * geometry.width + x * geometry.width / canvas.width;
            const unsigned code = (frame[3 * cell] > 127 ? 1U : 0U) + (frame[3 * cell + 1] > 127 ? 2U : 0U) +
                                  (frame[3 * cell + 2] > 127 ? 4U : 0U);
            set_cell(image, y * canvas.width + x, insim_screen::colour_rgb(static_cast<insim_screen::Colour>(code)));
        }
    }
}

using Time = std::chrono::steady_clock::time_point;

// Frame `index` of a stream at `rate` frames a second: exact for every rate,
// so frames of two rates that fall together compare equal.
// ffmpeg's fps=R filter fills output slot k (rounding timestamps to the
// nearest slot) with the last source frame that rounds to it, source frame
// ceil((k + 1/2) × 30 / R) − 1, which exists only at that frame's time: a
// frame arrives then, never before its picture does.
std::size_t source_frame(std::size_t k, std::uint64_t rate, std::uint64_t source_rate)
{
    const std::uint64_t twice = (2 * k + 1) * source_rate;  // (k + 1/2) × source rate × 2
    return static_cast<std::size_t>((twice + 2 * rate - 1) / (2 * rate) - 1);
}

Time frame_time(std::size_t index, std::uint64_t rate)
{
    return Time{} + std::chrono::duration_cast<Time::duration>(
                        std::chrono::nanoseconds(static_cast<std::int64_t>(index * 1'000'000'000ULL / rate)));
}

struct Write {
    Time at;
    std::size_t bytes;
};

// The player's way with frames and the budget, step for step as in its
// playback (take, then send within the budget; between frames, wake when the
// budget next allows while rows wait), with the stand-in screen for LFS.
class SimulatedPlayer {
public:
    SimulatedPlayer(lumaflick::FrameUpdate& update, std::optional<std::uint64_t> bandwidth, std::uint64_t rate,
                    std::size_t buttons)
        : update_(update)
    {
        if (!bandwidth) return;
        rule_.tick = std::chrono::duration_cast<Time::duration>(std::chrono::duration<double>(1.0 / static_cast<double>(rate)));
        budget_.emplace(*bandwidth, rule_.tick, Time{});
        rule_.urgent_after = lumaflick::urgent_after(*bandwidth, buttons, rule_.tick);
    }

    bool frame(std::span<const std::uint8_t> frame, Time now)
    {
        update_.take(frame, now);
        if (budget_) return send_within_budget(now);
        const auto rows = update_.rows();
        if (!rows.empty() && !send(rows, now)) return false;
        update_.written();
        return true;
    }

    bool wake(Time now) { return send_within_budget(now); }

    // When the player next wakes for rows that wait, if any do.
    [[nodiscard]] std::optional<Time> next_chance(Time now)
    {
        if (!budget_ || !update_.pending()) return std::nullopt;
        return budget_->next_chance(now);
    }

    StandInScreen& screen() noexcept { return screen_; }
    [[nodiscard]] const std::vector<Write>& writes() const noexcept { return writes_; }
    [[nodiscard]] std::size_t packets() const noexcept { return packets_; }

private:
    bool send_within_budget(Time now)
    {
        const std::int64_t allowance = budget_->allowance(now);
        if (allowance <= 0 || !update_.pending()) return true;
        const auto rows = update_.rows(allowance, now, rule_);
        if (rows.empty()) return true;
        if (!send(rows, now)) return false;
        budget_->spend(rows.size(), now);
        update_.written();
        return true;
    }

    bool send(std::span<const std::byte> rows, Time now)
    {
        for (std::size_t at = 0; at < rows.size(); at += 4 * std::to_integer<std::size_t>(rows[at])) ++packets_;
        writes_.push_back({now, rows.size()});
        return screen_.take(rows);
    }

    lumaflick::FrameUpdate& update_;
    std::optional<lumaflick::ByteBudget> budget_;
    lumaflick::RowOrderRule rule_;
    StandInScreen screen_;
    std::vector<Write> writes_;
    std::size_t packets_ = 0;
};

// The most bytes written within any one second, the window the budget holds.
std::size_t busiest_second(const std::vector<Write>& writes)
{
    std::size_t most = 0;
    std::size_t in_window = 0;
    std::size_t oldest = 0;
    for (const Write& write : writes) {
        in_window += write.bytes;
        while (writes[oldest].at <= write.at - std::chrono::seconds(1)) in_window -= writes[oldest++].bytes;
        most = std::max(most, in_window);
    }
    return most;
}

std::optional<std::uint64_t> parse_count(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0) return std::nullopt;
    return value;
}

struct Options {
    std::string reference;
    std::string input;
    Mode mode = Mode::colour;
    Blend blend = Blend::linear;
    bool compact = false;
    std::uint64_t rate = 30;
    std::optional<std::uint64_t> bandwidth;
    // The mode's own frames at 30 a second: compared with the picture they
    // give without a budget instead of with the source, which leaves only
    // what time costs (the grey mode's palette is far from any source).
    std::optional<std::string> ideal;
    bool simulated = false;  // any flag given: the longer output
    std::optional<lumaflick::Geometry> resolution;  // the player's, on the fine canvas
};

// COLSxROWS, with rows as tall as fit, from the player's own rule.
std::optional<lumaflick::Geometry> parse_resolution(std::string_view text)
{
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) return std::nullopt;
    const auto columns = parse_count(text.substr(0, x));
    const auto rows = parse_count(text.substr(x + 1));
    if (!columns || !rows) return std::nullopt;
    const auto height = lumaflick::largest_row_height({.width = *columns, .rows = *rows});
    if (!height) return std::nullopt;
    return lumaflick::Geometry{.width = *columns, .rows = *rows, .row_height = *height};
}

std::optional<Options> parse_options(int argc, char** argv)
{
    Options options;
    std::vector<std::string_view> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--compact") {
            options.compact = true;
        } else if (word == "--ideal" && i + 1 < argc) {
            options.ideal = argv[++i];
        } else if (word == "--resolution") {
            options.resolution = i + 1 < argc ? parse_resolution(argv[++i]) : std::nullopt;
            if (!options.resolution) return std::nullopt;
        } else if (word == "--rate" || word == "--bandwidth") {
            const auto value = i + 1 < argc ? parse_count(argv[++i]) : std::nullopt;
            if (!value) return std::nullopt;
            if (word == "--rate") {
                options.rate = *value;
            } else {
                if (*value < lumaflick::ByteBudget::LEAST || *value > lumaflick::ByteBudget::MOST) return std::nullopt;
                options.bandwidth = value;
            }
        } else {
            positional.push_back(word);
            continue;
        }
        options.simulated = true;
    }
    if (positional.size() != 3 && positional.size() != 4) return std::nullopt;
    const std::optional<Mode> mode = parse_mode(positional[2]);
    const std::string_view blend = positional.size() == 4 ? positional[3] : "linear";
    if (!mode || (blend != "linear" && blend != "coded")) return std::nullopt;
    if (*mode == Mode::nearest && (options.compact || options.bandwidth)) return std::nullopt;
    options.reference = positional[0];
    options.input = positional[1];
    options.mode = *mode;
    options.blend = blend == "coded" ? Blend::coded : Blend::linear;
    return options;
}

}  // namespace

int main(int argc, char** argv)
{
    constexpr std::uint64_t REFERENCE_RATE = 30;
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        std::fputs("usage: picture-quality REFERENCE INPUT colour|nearest|grey [linear|coded]\n"
                   "                       [--compact] [--rate R] [--bandwidth B] [--ideal FRAMES]\n"
                   "                       [--resolution COLSxROWS]\n"
                   "(--compact and --bandwidth need colour or grey)\n",
                   stderr);
        return 2;
    }
    const Mode picked = options->mode;
    const Blend blend = options->blend;
    const auto reference = read_file(options->reference.c_str());
    const auto input = read_file(options->input.c_str());
    if (!reference || !input) {
        std::fprintf(stderr, "picture-quality: cannot read %s\n",
                     !reference ? options->reference.c_str() : options->input.c_str());
        return 1;
    }

    // The player's default glyph strings.
    const lumaflick::GlyphStrings grey_glyphs{"^0_", "^3_", "^6_", "^7_"};
    const lumaflick::Packing packing = options->compact ? lumaflick::Packing::shortest : lumaflick::Packing::full;
    const lumaflick::Geometry geometry = options->resolution.value_or(lumaflick::DEFAULT_GEOMETRY);
    const Canvas canvas = options->resolution ? FINE_CANVAS : CELL_CANVAS;
    const auto make_update = [&] {
        return picked == Mode::colour ? lumaflick::FrameUpdate::colour(packing, geometry)
                                      : lumaflick::FrameUpdate::grey(grey_glyphs, packing, geometry);
    };
    std::optional<lumaflick::FrameUpdate> update;
    if (picked != Mode::nearest) update.emplace(make_update());
    const std::size_t input_frame = geometry.pixels() * (picked == Mode::grey ? 1 : 3);
    const std::size_t reference_frame = 3 * canvas.samples();

    const std::size_t frames = reference->size() / reference_frame;
    const std::size_t inputs = input->size() / input_frame;
    // At one rate the two streams are frame for frame; at another, any length will do.
    if (frames == 0 || inputs == 0 || (options->rate == REFERENCE_RATE && frames != inputs)) {
        std::fprintf(stderr, "picture-quality: %zu reference frames but %zu input frames\n", frames, inputs);
        return 1;
    }

    std::optional<std::vector<std::uint8_t>> ideal;
    std::optional<lumaflick::FrameUpdate> ideal_update;
    StandInScreen ideal_screen;
    if (options->ideal) {
        ideal = read_file(options->ideal->c_str());
        if (!ideal || !update || ideal->size() / input_frame < frames) {
            std::fprintf(stderr, "picture-quality: %s holds fewer frames of the mode than the reference\n",
                         options->ideal->c_str());
            return 1;
        }
        ideal_update.emplace(make_update());
    }
    std::optional<SimulatedPlayer> player;
    if (update) player.emplace(*update, options->bandwidth, options->rate, geometry.buttons());
    Image shown(reference_frame);
    Image source(reference_frame);
    double total = 0.0;
    std::size_t arrived = 0;  // input frames the player has had
    std::optional<Time> chance;
    for (std::size_t f = 0; f < frames; ++f) {
        const Time due = frame_time(f, REFERENCE_RATE);
        for (;;) {
            const std::optional<Time> arrival =
                arrived < inputs
                    ? std::optional(frame_time(source_frame(arrived, options->rate, REFERENCE_RATE), REFERENCE_RATE))
                    : std::nullopt;
            Time now;
            // A frame that comes with the wake is taken first, and its rows go then.
            if (arrival && *arrival <= due && (!chance || *arrival <= *chance)) {
                now = *arrival;
                const std::span<const std::uint8_t> frame(input->data() + arrived * input_frame, input_frame);
                ++arrived;
                if (player && !player->frame(frame, now)) {
                    std::fprintf(stderr, "picture-quality: frame %zu gave packets the screen cannot take\n", arrived - 1);
                    return 1;
                }
            } else if (chance && *chance <= due) {
                now = *chance;
                if (!player->wake(now)) {
                    std::fputs("picture-quality: rows sent between frames the screen cannot take\n", stderr);
                    return 1;
                }
            } else {
                break;
            }
            chance = player ? player->next_chance(now) : std::nullopt;
            if (chance && *chance <= now) {
                std::fputs("picture-quality: the budget wakes the player again at once\n", stderr);
                return 1;
            }
        }
        if (player) {
            player->screen().draw(shown, canvas);
        } else {
            draw_nearest({input->data() + (arrived - 1) * input_frame, input_frame}, geometry, shown, canvas);
        }
        if (ideal) {
            if (!ideal_screen.take(ideal_update->show({ideal->data() + f * input_frame, input_frame}))) return 1;
            ideal_screen.draw(source, canvas);
        } else {
            for (std::size_t i = 0; i < reference_frame; ++i) {
                source[i] = static_cast<float>((*reference)[f * reference_frame + i]) / 255.0F;
            }
        }
        total += difference_sum(shown, source, blend, canvas);
    }
    const double error = total / static_cast<double>(frames * canvas.samples());
    if (!options->simulated) {
        std::printf("%.2f\n", error);
        return 0;
    }
    std::size_t bytes = 0;
    if (player) {
        for (const Write& write : player->writes()) bytes += write.bytes;
    }
    const double seconds = static_cast<double>(frames) / static_cast<double>(REFERENCE_RATE);
    std::printf("%.2f %.0f %zu %.0f\n", error, static_cast<double>(bytes) / seconds,
                player ? busiest_second(player->writes()) : std::size_t{0},
                player ? static_cast<double>(player->packets()) / seconds : 0.0);
    return 0;
}
