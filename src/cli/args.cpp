#include "cli/args.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include <CLI/CLI.hpp>

#include "cli/convert.hpp"
#include "cli/help_text.hpp"
#include "cli/options.hpp"

namespace lumaflick {

namespace {

enum class Request { parse, short_help, long_help, version };

// The words rewritten so that CLI11 cannot misread them: one option name and
// one value per pair. Left to itself, CLI11 takes a following "-x" as a value,
// reads "-r=25" as "=25", takes the next word after an empty "--rate=", and
// accepts "--subpixels" with fewer than four values.
struct SplitWords {
    Request request = Request::parse;
    std::vector<std::string> pairs;
};

using Values = std::array<std::vector<std::string>, OPTIONS.size()>;

bool names_an_option(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

std::string in_quotes(std::string_view text) { return '\'' + lossy_utf8(text) + '\''; }

Error unexpected_argument(std::string_view word)
{
    return Error::message("unexpected argument " + in_quotes(word) + " found");
}

const OptionSpec* find_long(std::string_view name)
{
    const auto it = std::find_if(OPTIONS.begin(), OPTIONS.end(), [&](const OptionSpec& opt) {
        return !opt.long_name.empty() && opt.long_name == name;
    });
    return it == OPTIONS.end() ? nullptr : &*it;
}

const OptionSpec* find_short(char name)
{
    const auto it = std::find_if(OPTIONS.begin(), OPTIONS.end(), [&](const OptionSpec& opt) {
        return opt.short_name != '\0' && opt.short_name == name;
    });
    return it == OPTIONS.end() ? nullptr : &*it;
}

// The name under which CLI11 knows the option.
std::string cli11_name(const OptionSpec& opt)
{
    return opt.long_name.empty() ? std::string{'-', opt.short_name} : "--" + std::string(opt.long_name);
}

Error missing_values(const OptionSpec& opt, std::size_t given)
{
    if (opt.values == 1 || given == 0) {
        return Error::message("a value is required for " + in_quotes(option_display(opt)) + " but none was supplied");
    }
    return Error::message(std::to_string(opt.values) + " values required by " + in_quotes(option_display(opt)) +
                          "; only " + std::to_string(given) + (given == 1 ? " was" : " were") + " provided");
}

// Reads the words left to right; help and version end the reading where they stand.
Result<SplitWords> split_words(std::span<const std::string> words)
{
    SplitWords split;
    std::size_t next = 1;
    while (next < words.size()) {
        const std::string_view word = words[next++];
        if (!names_an_option(word)) return unexpected_argument(word);

        const OptionSpec* opt = nullptr;
        std::optional<std::string_view> attached;
        if (word.starts_with("--")) {
            std::string_view name = word.substr(2);
            if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
                attached = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
            if (name == "help" || name == "version") {
                if (attached) {
                    return Error::message("unexpected value " + in_quotes(*attached) + " for '--" + std::string(name) +
                                          "' found");
                }
                split.request = name == "help" ? Request::long_help : Request::version;
                return split;
            }
            opt = find_long(name);
        } else {
            // Help and version are flags, so anything after them in the same word is theirs too.
            if (word[1] == 'h') split.request = Request::short_help;
            if (word[1] == 'V') split.request = Request::version;
            if (split.request != Request::parse) return split;
            opt = find_short(word[1]);
            if (word.size() > 2) {
                std::string_view rest = word.substr(2);
                if (rest.front() == '=') rest.remove_prefix(1);
                attached = rest;
            }
        }
        if (opt == nullptr) return unexpected_argument(word);

        std::vector<std::string_view> values;
        if (attached) values.push_back(*attached);
        while (values.size() < opt->values && next < words.size() && !names_an_option(words[next])) {
            values.push_back(words[next++]);
        }
        if (values.size() < opt->values) return missing_values(*opt, values.size());
        for (const std::string_view value : values) {
            split.pairs.push_back(cli11_name(*opt));
            split.pairs.emplace_back(value);
        }
    }
    return split;
}

// Matches the pairs to the options; every occurrence is kept, so that
// repetitions can be reported in our own words.
Result<Values> match_options(std::vector<std::string> pairs)
{
    Values values;
    try {
        CLI::App app{std::string(ABOUT), std::string(COMMAND_NAME)};
        app.set_help_flag();
        std::array<CLI::Option*, OPTIONS.size()> matched{};
        for (std::size_t i = 0; i < OPTIONS.size(); ++i) {
            const OptionSpec& opt = OPTIONS[i];
            std::string names = opt.short_name == '\0' ? std::string() : std::string{'-', opt.short_name};
            if (!opt.long_name.empty()) names += (names.empty() ? "--" : ",--") + std::string(opt.long_name);
            matched[i] = app.add_option(names)
                             ->expected(1)
                             ->allow_extra_args(false)
                             ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        }
        std::reverse(pairs.begin(), pairs.end());  // CLI11 reads a vector from its back
        app.parse(pairs);
        for (std::size_t i = 0; i < OPTIONS.size(); ++i) values[i] = matched[i]->results();
    } catch (const CLI::Error& e) {
        return Error::message(e.what());
    }
    return values;
}

Error invalid_value(const OptionSpec& opt, std::string_view value, std::string_view reason)
{
    return Error::message("invalid value " + in_quotes(value) + " for " + in_quotes(option_display(opt)) + ": " +
                          std::string(reason));
}

Status check_value(const OptionSpec& opt, std::string_view value)
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
        }
        break;
    case ValueType::text:
        if (!is_valid_utf8(value)) return invalid_value(opt, value, "invalid UTF-8");
        break;
    }
    return ok();
}

// Refuses repetitions, fills in defaults, names every missing required option
// and converts in table order, so that the first bad value is the one named.
Status complete_and_check(Values& values)
{
    for (const OptionSpec& opt : OPTIONS) {
        if (!opt.repeatable && values[static_cast<std::size_t>(opt.id)].size() > 1) {
            return Error::message("the argument " + in_quotes(option_display(opt)) + " cannot be used multiple times");
        }
    }

    std::string missing;
    for (const OptionSpec& opt : OPTIONS) {
        auto& given = values[static_cast<std::size_t>(opt.id)];
        if (!given.empty()) continue;
        if (opt.required) missing += "\n  " + option_display(opt);
        for (std::string_view rest = opt.default_value; !rest.empty();) {
            const std::size_t end = std::min(rest.find(' '), rest.size());
            given.emplace_back(rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
    if (!missing.empty()) return Error::message("the following required arguments were not provided:" + missing);

    for (const OptionSpec& opt : OPTIONS) {
        for (const std::string& value : values[static_cast<std::size_t>(opt.id)]) {
            if (auto checked = check_value(opt, value); !checked) return checked;
        }
    }
    return ok();
}

// Only after complete_and_check: every value converts, and the required ones are there.
Args build_args(Values& values)
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
    return args;
}

Result<Args> parse(std::vector<std::string> pairs)
{
    auto values = match_options(std::move(pairs));
    if (!values) return std::move(values).error();
    if (auto checked = complete_and_check(*values); !checked) return std::move(checked).error();
    return build_args(*values);
}

}  // namespace

std::variant<Args, ParseExit> parse_args(std::span<const std::string> words)
{
    const std::string program = program_name(words);
    const auto usage_error = [&](const Error& error) {
        return ParseExit{2, {}, usage_error_text(error.text(), program)};
    };

    auto split = split_words(words);
    if (!split) return usage_error(split.error());
    switch (split->request) {
    case Request::short_help: return ParseExit{0, short_help(program), {}};
    case Request::long_help: return ParseExit{0, long_help(program), {}};
    case Request::version: return ParseExit{0, version_text(), {}};
    case Request::parse: break;
    }

    auto args = parse(std::move(split->pairs));
    if (!args) return usage_error(args.error());
    return std::move(*args);
}

}  // namespace lumaflick
