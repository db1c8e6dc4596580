#include "cli/args.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "cli/convert.hpp"
#include "cli/help_text.hpp"
#include "cli/options.hpp"
#include "picture/byte_budget.hpp"
#include "picture/grey_painter.hpp"
#include "subtitles/layout.hpp"

namespace lumaflick {

namespace {

enum class Request { parse, short_help, long_help, version };

// Every value given, per option in table order; a flag keeps one empty value
// per occurrence, so that its repetitions are counted like any other's.
using Values = std::array<std::vector<std::string>, OPTIONS.size()>;

struct ReadWords {
    Request request = Request::parse;
    Values values;
};

// Ten seconds of sound moved is a mistake, not a slow sound path.
constexpr std::int64_t MOST_AV_OFFSET = 10'000;

bool names_an_option(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

std::string in_quotes(std::string_view text) { return '\'' + lossy_utf8(text) + '\''; }

Error unexpected_argument(std::string_view word)
{
    return Error::message("unexpected argument " + in_quotes(word) + " found");
}

Error unexpected_value(std::string_view value, std::string_view name)
{
    return Error::message("unexpected value " + in_quotes(value) + " for '--" + std::string(name) + "' found");
}

const OptionDef* find_option(const auto& matches)
{
    const auto it = std::find_if(OPTIONS.begin(), OPTIONS.end(), matches);
    return it == OPTIONS.end() ? nullptr : &*it;
}

Error missing_values(const OptionDef& opt, std::size_t given)
{
    if (opt.values == 1 || given == 0) {
        return Error::message("a value is required for " + in_quotes(option_display(opt)) + " but none was supplied");
    }
    return Error::message(std::to_string(opt.values) + " values required by " + in_quotes(option_display(opt)) +
                          "; only " + std::to_string(given) + (given == 1 ? " was" : " were") + " provided");
}

// Reads the words left to right; help and version end the reading where they stand.
Result<ReadWords> read_words(std::span<const std::string> words)
{
    ReadWords read;
    std::size_t next = 1;
    while (next < words.size()) {
        const std::string_view word = words[next++];
        if (!names_an_option(word)) return unexpected_argument(word);

        const OptionDef* opt = nullptr;
        std::optional<std::string_view> attached;
        if (word.starts_with("--")) {
            std::string_view name = word.substr(2);
            if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
                attached = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
            if (name == "help" || name == "version") {
                if (attached) return unexpected_value(*attached, name);
                read.request = name == "help" ? Request::long_help : Request::version;
                return read;
            }
            opt = find_option(
                [&](const OptionDef& o) { return !name.empty() && (o.long_name == name || o.alias == name); });
            if (opt != nullptr && opt->values == 0 && attached) return unexpected_value(*attached, name);
        } else {
            // Help and version are flags, so anything after them in the same word is theirs too.
            if (word[1] == 'h') read.request = Request::short_help;
            if (word[1] == 'V') read.request = Request::version;
            if (read.request != Request::parse) return read;
            opt = find_option([&](const OptionDef& o) { return o.short_name != '\0' && o.short_name == word[1]; });
            if (word.size() > 2) {
                std::string_view rest = word.substr(2);
                if (rest.front() == '=') rest.remove_prefix(1);
                attached = rest;
            }
        }
        if (opt == nullptr) return unexpected_argument(word);

        auto& given = read.values[static_cast<std::size_t>(opt->id)];
        const std::size_t before = given.size();
        if (attached) given.emplace_back(*attached);
        while (given.size() - before < opt->values && next < words.size() && !names_an_option(words[next])) {
            given.push_back(words[next++]);
        }
        if (given.size() - before < opt->values) return missing_values(*opt, given.size() - before);
        if (opt->values == 0) given.emplace_back();
    }
    return read;
}

Error invalid_value(const OptionDef& opt, std::string_view value, std::string_view reason)
{
    return Error::message("invalid value " + in_quotes(value) + " for " + in_quotes(option_display(opt)) + ": " +
                          std::string(reason));
}

Status check_value(const OptionDef& opt, std::string_view value)
{
    switch (opt.type) {
    case ValueType::socket_address_v4:
        if (auto address = parse_socket_address_v4(value); !address) {
            return invalid_value(opt, value, address.error().text());
        }
        break;
    case ValueType::u64:
        if (auto number = parse_u64(value); !number) {
            return invalid_value(opt, value, number.error().text());
        } else if (opt.id == OptionId::rate && *number == 0) {
            // The frame pacing divides by the rate.
            return invalid_value(opt, value, "the rate must be at least 1");
        } else if (opt.id == OptionId::bandwidth && (*number < ByteBudget::LEAST || *number > ByteBudget::MOST)) {
            return invalid_value(opt, value, "the budget must lie within 252 (one button) and 1000000000 bytes a second");
        }
        break;
    case ValueType::i64:
        if (auto number = parse_i64(value); !number) {
            return invalid_value(opt, value, number.error().text());
        } else if (*number < -MOST_AV_OFFSET || *number > MOST_AV_OFFSET) {
            return invalid_value(opt, value, "the offset must lie within -10000 and 10000 milliseconds");
        }
        break;
    case ValueType::position:
        if (auto position = parse_position(value); !position) return invalid_value(opt, value, position.error().text());
        break;
    case ValueType::resolution:
        if (auto size = parse_resolution(value); !size) return invalid_value(opt, value, size.error().text());
        break;
    case ValueType::text:
        if (!is_valid_utf8(value)) return invalid_value(opt, value, "invalid UTF-8");
        break;
    case ValueType::flag: break;
    }
    return ok();
}

const std::string& first_value(const Values& values, OptionId id)
{
    return values[static_cast<std::size_t>(id)].front();
}

// Which picture options the user gave, before the defaults fill in the rest.
struct PictureOptions {
    bool resolution = false;
    bool row_height = false;
    bool first_click_id = false;
    // The row height is the largest that fits.
    [[nodiscard]] bool fitted_height() const noexcept { return resolution && !row_height; }
};

PictureOptions picture_options(const Values& values)
{
    const auto given = [&](OptionId id) { return !values[static_cast<std::size_t>(id)].empty(); };
    return {given(OptionId::resolution), given(OptionId::row_height), given(OptionId::first_click_id)};
}

// Only once every value converts. With a fitted height and none that fits,
// the height is 1, whose problem is then told.
GeometryRequest geometry_request(const Values& values, const PictureOptions& given)
{
    const Position position = *parse_position(first_value(values, OptionId::position));
    const Resolution size = *parse_resolution(first_value(values, OptionId::resolution));
    GeometryRequest request{.left = position.left,
                            .top = position.top,
                            .row_height = *parse_u64(first_value(values, OptionId::row_height)),
                            .first_click_id = *parse_u64(first_value(values, OptionId::first_click_id)),
                            .width = size.columns,
                            .rows = size.rows};
    if (given.fitted_height()) request.row_height = largest_row_height(request).value_or(1);
    return request;
}

// Only once the placement is checked.
Geometry geometry_of(const GeometryRequest& request)
{
    const auto byte = [](std::uint64_t n) { return static_cast<std::uint8_t>(n); };
    return Geometry{.width = request.width,
                    .rows = request.rows,
                    .left = byte(request.left),
                    .top = byte(request.top),
                    .row_height = byte(request.row_height),
                    .first_click_id = byte(request.first_click_id)};
}

bool wants_subtitles(const Values& values)
{
    return !values[static_cast<std::size_t>(OptionId::subtitles)].empty() ||
           !values[static_cast<std::size_t>(OptionId::subtitle_track)].empty();
}

// The subtitle lines need two ClickIDs after the picture's and room under or above it.
Status check_subtitle_placement(const Values& values, const GeometryRequest& request)
{
    if (!wants_subtitles(values)) return ok();
    const auto problem = subtitle_problem(geometry_of(request));
    if (!problem) return ok();
    OptionId blamed = OptionId::first_click_id;
    if (problem->limit == SubtitleLimit::room) blamed = request.top > 0 ? OptionId::position : OptionId::row_height;
    return invalid_value(OPTIONS[static_cast<std::size_t>(blamed)], first_value(values, blamed), problem->text);
}

// The placement's limits, each told by the option that breaks it.
Status check_geometry(const Values& values, const PictureOptions& given)
{
    const GeometryRequest request = geometry_request(values, given);
    const auto problem = geometry_problem(request);
    if (!problem) return check_subtitle_placement(values, request);
    // The option the user set that the limit depends on: the height they
    // gave, else the size they asked for.
    const OptionId size_or_height = given.fitted_height() ? OptionId::resolution : OptionId::row_height;
    OptionId blamed = OptionId::position;
    switch (problem->limit) {
    case GeometryLimit::pixels: blamed = OptionId::resolution; break;
    case GeometryLimit::click_ids: {
        const std::uint64_t per_row = (request.width + Geometry::BUTTON_PIXELS - 1) / Geometry::BUTTON_PIXELS;
        const bool too_many = request.rows * per_row > LAST_CLICK_ID + 1;
        blamed = given.resolution && (too_many || !given.first_click_id) ? OptionId::resolution
                                                                          : OptionId::first_click_id;
        break;
    }
    case GeometryLimit::row_height: blamed = OptionId::row_height; break;
    case GeometryLimit::left: break;
    // Rows too low, or buttons too far right: the corner's fault unless it is at the edge.
    case GeometryLimit::rows: blamed = request.top > 0 ? OptionId::position : size_or_height; break;
    case GeometryLimit::button_left: blamed = request.left > 0 ? OptionId::position : size_or_height; break;
    case GeometryLimit::whole_units: blamed = size_or_height; break;
    }
    return invalid_value(OPTIONS[static_cast<std::size_t>(blamed)], first_value(values, blamed), problem->text);
}

// Refuses repetitions and conflicts, fills in defaults, names every missing
// required option and converts in table order, so that the first bad value is
// the one named.
Status complete_and_check(Values& values, const PictureOptions& picture)
{
    const auto given = [&](const OptionDef& opt) -> auto& { return values[static_cast<std::size_t>(opt.id)]; };
    for (const OptionDef& opt : OPTIONS) {
        if (!opt.repeatable && given(opt).size() > 1) {
            return Error::message("the argument " + in_quotes(option_display(opt)) + " cannot be used multiple times");
        }
    }
    // The colours replace the glyphs.
    const OptionDef& colour = OPTIONS[static_cast<std::size_t>(OptionId::colour)];
    const OptionDef& subpixels = OPTIONS[static_cast<std::size_t>(OptionId::subpixels)];
    if (!given(colour).empty() && !given(subpixels).empty()) {
        return Error::message("the argument " + in_quotes(option_display(colour)) + " cannot be used with " +
                              in_quotes(option_display(subpixels)));
    }

    // One source of cues.
    const OptionDef& subtitles = OPTIONS[static_cast<std::size_t>(OptionId::subtitles)];
    const OptionDef& subtitle_track = OPTIONS[static_cast<std::size_t>(OptionId::subtitle_track)];
    if (!given(subtitles).empty() && !given(subtitle_track).empty()) {
        return Error::message("the argument " + in_quotes(option_display(subtitles)) + " cannot be used with " +
                              in_quotes(option_display(subtitle_track)));
    }

    std::string missing;
    for (const OptionDef& opt : OPTIONS) {
        if (!given(opt).empty()) continue;
        if (opt.required) missing += "\n  " + option_display(opt);
        for (std::string_view rest = opt.default_value; !rest.empty();) {
            const std::size_t end = std::min(rest.find(' '), rest.size());
            given(opt).emplace_back(rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    if (!missing.empty()) return Error::message("the following required arguments were not provided:" + missing);

    for (const OptionDef& opt : OPTIONS) {
        for (const std::string& value : given(opt)) {
            if (auto checked = check_value(opt, value); !checked) return checked;
        }
    }
    // A glyph string with a line feed makes a row many lines, with no rows to choose from.
    const OptionDef& bandwidth = OPTIONS[static_cast<std::size_t>(OptionId::bandwidth)];
    if (!given(bandwidth).empty() && given(colour).empty() &&
        !keeps_rows_as_lines({given(subpixels)[0], given(subpixels)[1], given(subpixels)[2], given(subpixels)[3]})) {
        return Error::message("the argument " + in_quotes(option_display(bandwidth)) +
                              " cannot be used with glyph strings that hold a line feed or end in a carriage return");
    }
    return check_geometry(values, picture);
}

// Only after complete_and_check: every value converts, and the required ones are there.
Args build_args(Values& values, const PictureOptions& picture)
{
    const auto given = [&](OptionId id) -> std::vector<std::string>& { return values[static_cast<std::size_t>(id)]; };
    const auto text = [&](OptionId id) { return std::move(given(id).front()); };
    const auto optional_text = [&](OptionId id) {
        return given(id).empty() ? std::nullopt : std::optional<std::string>(text(id));
    };

    Args args;
    args.insim_address = *parse_socket_address_v4(given(OptionId::insim_address).front());
    args.password = text(OptionId::password);
    args.rate = *parse_u64(given(OptionId::rate).front());
    args.ffmpeg_path = text(OptionId::ffmpeg_path);
    args.ffplay_path = optional_text(OptionId::ffplay_path);
    args.video_path = text(OptionId::video_path);
    args.s = optional_text(OptionId::s);
    args.t = optional_text(OptionId::t);
    args.subpixels = std::move(given(OptionId::subpixels));
    if (!given(OptionId::delay).empty()) args.delay = *parse_u64(given(OptionId::delay).front());
    args.colour = !given(OptionId::colour).empty();
    args.compact = !given(OptionId::compact).empty();
    args.guests = !given(OptionId::guests).empty();
    args.quiet = !given(OptionId::quiet).empty();
    args.geometry = geometry_of(geometry_request(values, picture));
    args.resolution = picture.resolution;
    args.keep_aspect = !given(OptionId::keep_aspect).empty();
    if (!given(OptionId::av_offset).empty()) args.av_offset = *parse_i64(given(OptionId::av_offset).front());
    if (!given(OptionId::bandwidth).empty()) args.bandwidth = *parse_u64(given(OptionId::bandwidth).front());
    args.subtitles = optional_text(OptionId::subtitles);
    if (!given(OptionId::subtitle_track).empty()) args.subtitle_track = *parse_u64(given(OptionId::subtitle_track).front());
    return args;
}

}  // namespace

std::variant<Args, ParseExit> parse_args(std::span<const std::string> words)
{
    const std::string program = program_name(words);
    const auto usage_error = [&](const Error& error) {
        return ParseExit{2, {}, usage_error_text(error.text(), program)};
    };

    auto read = read_words(words);
    if (!read) return usage_error(read.error());
    switch (read->request) {
    case Request::short_help: return ParseExit{0, short_help(program), {}};
    case Request::long_help: return ParseExit{0, long_help(program), {}};
    case Request::version: return ParseExit{0, version_text(), {}};
    case Request::parse: break;
    }

    const PictureOptions picture = picture_options(read->values);
    if (auto checked = complete_and_check(read->values, picture); !checked) return usage_error(checked.error());
    return build_args(read->values, picture);
}

}  // namespace lumaflick
