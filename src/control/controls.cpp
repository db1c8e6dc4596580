#include "control/controls.hpp"

#include <string>
#include <utility>
#include <variant>

namespace lumaflick {

namespace {

// One read from LFS holds at most a few hundred packets; answers beyond these
// would only flood the person's screen.
constexpr std::size_t MOST_REPLIES = 16;

std::string at(std::string_view what, MediaTime time) { return "lumaflick: " + std::string(what) + readable_time(time); }

}  // namespace

Command command_for(Key key) noexcept
{
    using namespace std::chrono_literals;
    using K = Command::Kind;
    switch (key) {
        case Key::play_pause: return {K::toggle};
        case Key::back_10: return {K::seek, true, -10s};
        case Key::forward_10: return {K::seek, true, 10s};
        case Key::back_60: return {K::seek, true, -60s};
        case Key::forward_60: return {K::seek, true, 60s};
        case Key::stop: break;
    }
    return {K::stop};
}

Controls::Controls(Timeline& timeline) : timeline_(&timeline) { replies_.reserve(MOST_REPLIES); }

void Controls::hear(const insim::IS_MSO& message)
{
    if (message.UserType != insim::MSO_O) return;
    const std::string_view text = insim::field_text(message.Msg);
    if (message.TextStart > text.size()) return;
    const Heard heard = read_command(text.substr(message.TextStart));
    if (const auto* hint = std::get_if<Hint>(&heard)) reply(hint->text);
    if (const auto* command = std::get_if<Command>(&heard)) obey(*command);
}

void Controls::obey(const Command& command)
{
    if (stop_) return;
    Command::Kind kind = command.kind;
    if (kind == Command::Kind::toggle) kind = paused_ ? Command::Kind::play : Command::Kind::pause;
    switch (kind) {
        case Command::Kind::pause:
            if (paused_) return reply(at("already paused at ", position()));
            paused_ = true;
            return reply(at("paused at ", position()));
        case Command::Kind::play:
            if (!paused_) return reply("lumaflick: already playing");
            paused_ = false;
            return reply(at("playing from ", position()));
        case Command::Kind::seek: {
            const auto target = timeline_->seek_target(command, position());
            if (!target) {
                stop_ = true;
                return reply("lumaflick: past the end, stopping");
            }
            jump_ = *target;
            return reply(at(paused_ ? "paused at " : "to ", *target));
        }
        case Command::Kind::stop:
            stop_ = true;
            return reply("lumaflick: stopping");
        case Command::Kind::toggle:
        case Command::Kind::help: return reply(COMMANDS_HELP);
    }
}

std::optional<MediaTime> Controls::take_jump() noexcept
{
    if (paused_) return std::nullopt;
    return std::exchange(jump_, std::nullopt);
}

MediaTime Controls::position() const noexcept { return jump_.value_or(timeline_->next()); }

std::span<const std::byte> Controls::replies() const noexcept { return std::as_bytes(std::span(replies_)); }

// Under a flood the latest answer replaces the last one kept: the last
// answer shown must say what the playback now does.
void Controls::reply(std::string_view text)
{
    if (replies_.size() < MOST_REPLIES) {
        replies_.push_back(insim::make_local_message(text));
    } else {
        replies_.back() = insim::make_local_message(text);
    }
}

}  // namespace lumaflick
