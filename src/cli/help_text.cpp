#include "cli/help_text.hpp"

#include <algorithm>
#include <vector>

#include "cli/convert.hpp"

namespace lumaflick {

namespace {

#ifdef _WIN32
constexpr std::string_view PATH_SEPARATORS = "\\/";
#else
constexpr std::string_view PATH_SEPARATORS = "/";
#endif

// Wider flag columns push the help text of that entry onto the next line.
constexpr std::size_t MAX_FLAG_COLUMN = 40;
constexpr std::string_view LONG_INDENT = "          ";

struct HelpEntry {
    std::string flags;
    std::string_view help;
    std::string_view long_help;
    std::string_view default_value;
};

std::string flags_column(const OptionDef& opt)
{
    std::string prefix;
    if (opt.short_name == '\0') {
        prefix = "    ";
    } else if (!opt.long_name.empty()) {
        prefix = {'-', opt.short_name, ',', ' '};
    }
    return prefix + option_display(opt);
}

std::vector<HelpEntry> help_entries()
{
    std::vector<HelpEntry> entries;
    for (const OptionDef& opt : OPTIONS) {
        entries.push_back({flags_column(opt), opt.help, opt.long_help, opt.default_value});
    }
    entries.push_back(
        {"-h, --help", "Print help (see more with '--help')", "Print help (see a summary with '-h')", {}});
    entries.push_back({"-V, --version", "Print version", {}, {}});
    return entries;
}

std::string help_head(std::string_view about, std::string_view program)
{
    std::string text(about);
    text += "\n\nUsage: ";
    text += usage_line(program);
    text += "\n\nOptions:\n";
    return text;
}

void append_indented(std::string& out, std::string_view text, std::string_view indent)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        if (!line.empty()) {
            out += indent;
            out += line;
        }
        out += '\n';
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

}  // namespace

std::string program_name(std::span<const std::string> words)
{
    if (words.empty()) return std::string(COMMAND_NAME);
    std::string_view path = words.front();
    while (!path.empty() && PATH_SEPARATORS.find(path.back()) != std::string_view::npos) path.remove_suffix(1);
    const std::size_t separator = path.find_last_of(PATH_SEPARATORS);
    const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (name.empty() || name == "." || name == "..") return std::string(COMMAND_NAME);
    return lossy_utf8(name);
}

std::string option_display(const OptionDef& opt)
{
    std::string text = opt.long_name.empty() ? std::string{'-', opt.short_name} : "--" + std::string(opt.long_name);
    for (std::size_t i = 0; i < opt.values; ++i) {
        text += " <";
        text += opt.value_name;
        text += '>';
    }
    return text;
}

std::string usage_line(std::string_view program)
{
    std::string line(program);
    line += " [OPTIONS]";
    for (const OptionDef& opt : OPTIONS) {
        if (opt.required) line += ' ' + option_display(opt);
    }
    return line;
}

std::string short_help(std::string_view program)
{
    const auto entries = help_entries();
    std::size_t column = 0;
    for (const HelpEntry& entry : entries) {
        if (entry.flags.size() <= MAX_FLAG_COLUMN) column = std::max(column, entry.flags.size());
    }

    std::string text = help_head(ABOUT, program);
    for (const HelpEntry& entry : entries) {
        text += "  ";
        text += entry.flags;
        if (entry.flags.size() > column) {
            text += '\n';
            text += std::string(column + 2, ' ');
        } else {
            text += std::string(column - entry.flags.size(), ' ');
        }
        text += "  ";
        text += entry.help;
        if (!entry.default_value.empty()) {
            text += " [default: ";
            text += entry.default_value;
            text += ']';
        }
        text += '\n';
    }
    return text;
}

std::string long_help(std::string_view program)
{
    std::string text = help_head(LONG_ABOUT, program);
    const auto entries = help_entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const HelpEntry& entry = entries[i];
        if (i > 0) text += '\n';
        text += "  ";
        text += entry.flags;
        text += '\n';
        append_indented(text, entry.long_help.empty() ? entry.help : entry.long_help, LONG_INDENT);
        if (!entry.default_value.empty()) {
            text += '\n';
            text += LONG_INDENT;
            text += "[default: ";
            text += entry.default_value;
            text += "]\n";
        }
    }
    return text;
}

std::string version_text()
{
    std::string text(COMMAND_NAME);
    text += ' ';
    text += COMMAND_VERSION;
    text += '\n';
    return text;
}

std::string usage_error_text(std::string_view message, std::string_view program)
{
    std::string text = "error: ";
    text += message;
    text += "\n\nUsage: ";
    text += usage_line(program);
    text += "\n\nFor more information, try '--help'.\n";
    return text;
}

}  // namespace lumaflick
