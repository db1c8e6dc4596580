#include "playback.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include <asio/this_coro.hpp>

#include "cli/args.hpp"
#include "control/controls.hpp"
#include "control/timeline.hpp"
#include "insim/connection.hpp"
#include "insim/packets.hpp"
#include "lfs_link.hpp"
#include "picture/byte_budget.hpp"
#include "picture/frame_update.hpp"
#include "subtitles/load.hpp"
#include "subtitles/subtitle_lines.hpp"
#include "playback_events.hpp"
#include "video/decoder.hpp"
#include "video/frame_source.hpp"
#include "video/pipe_stream.hpp"

namespace lumaflick {

namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::steady_clock::time_point;

// Between the statistics and the console line, so LFS shows them first.
constexpr std::chrono::milliseconds FINAL_PAUSE{500};
// After our end is shut, how long LFS may take nothing more before we close.
constexpr std::chrono::milliseconds CLOSE_GRACE{2000};
// However slowly LFS takes the rest, the program ends within this: our send
// queue and LFS's receive buffer can hold a megabyte or more, over half a
// minute for a slow reader.
constexpr std::chrono::minutes CLOSE_LIMIT{2};
// How often the shrinking of our send queue is looked at while closing.
constexpr std::chrono::milliseconds CLOSE_POLL{100};
// A decoder whose output ended at once is given this long to exit, so that
// its status tells a video it could not play from an empty one.
constexpr std::chrono::milliseconds DECODER_EXIT_WAIT{2000};
constexpr std::chrono::milliseconds DECODER_EXIT_POLL{10};

TimePoint now() { return std::chrono::steady_clock::now(); }

// Flushed at once: the user watches the console for "Runnin'".
void print_line(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A --delay of any 64-bit size must not overflow the clock's arithmetic;
// thirty years is as good as forever.
std::chrono::milliseconds start_delay(std::uint64_t milliseconds)
{
    constexpr std::uint64_t longest = 1'000'000'000'000;
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(milliseconds, longest)));
}

// The picture as the options ask for it.
FrameUpdate make_frame_update(const Args& args)
{
    const Packing packing = args.compact ? Packing::shortest : Packing::full;
    if (args.colour) return FrameUpdate::colour(packing, args.geometry);
    return FrameUpdate::grey({args.subpixels[0], args.subpixels[1], args.subpixels[2], args.subpixels[3]}, packing,
                             args.geometry);
}

// One playback, from the open connection to its close. It owns everything
// the event sources refer to, so stop() must be awaited before it goes.
class Playback {
public:
    Playback(const asio::any_io_executor& executor, Args args, insim::InSimConnection connection, bool local,
             std::chrono::milliseconds keepalive_interval, const Cues& cues)
        : executor_(executor), args_(std::move(args)), connection_(std::move(connection)),
          events_(executor, connection_), screens_(local), timeline_(args_.s, args_.t, args_.rate),
          controls_(timeline_), keepalive_interval_(keepalive_interval), update_(make_frame_update(args_))
    {
        if (args_.bandwidth) {
            const auto frame_interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(1.0 / static_cast<double>(args_.rate)));
            budget_.emplace(*args_.bandwidth, frame_interval, now());
            order_rule_.tick = frame_interval;
            order_rule_.urgent_after = urgent_after(*args_.bandwidth, args_.geometry.rows, frame_interval);
        }
        if (!cues.empty()) {
            subtitles_.emplace(cues, subtitle_placement(args_.geometry),
                               args_.compact ? Packing::shortest : Packing::full);
        }
    }

    asio::awaitable<Status> run();
    asio::awaitable<void> stop() { co_await events_.stop(); }

private:
    Status start_children();
    // A run of the children: the first one as the options say (nullopt), or
    // one from `at` after play or seek.
    Status start_run(std::optional<MediaTime> at);
    asio::awaitable<Status> end_run();
    // Starts or ends the children as the controls now want; sets finished_
    // when the playback is to end.
    asio::awaitable<Status> follow_controls();
    Status start_sound_when_due();
    asio::awaitable<Status> play();
    asio::awaitable<Status> check_decoder_failure();
    asio::awaitable<Status> report();
    asio::awaitable<void> close_connection();

    // Serves LFS and the keep-alive until the deadline.
    asio::awaitable<Status> serve_until(TimePoint deadline);
    // Deals with what LFS sent, if anything, and answers it: an error once
    // LFS has gone.
    asio::awaitable<Status> hear_lfs();
    // Obeys the keys pressed, if any, and listens for more.
    asio::awaitable<Status> hear_keys();
    asio::awaitable<Status> send_replies();
    // A frame's changed rows, all of them; the buttons owed to connections;
    // or, under a budget, both as far as it allows now.
    asio::awaitable<Status> send_rows(std::span<const std::byte> rows);
    asio::awaitable<Status> send_due();
    asio::awaitable<Status> send_within_budget();
    asio::awaitable<Status> send_subtitles();
    asio::awaitable<Status> keep_alive();
    asio::awaitable<Status> send(std::span<const std::byte> packets);

    [[nodiscard]] TimePoint keepalive_due() const { return last_write_ + keepalive_interval_; }
    [[nodiscard]] TimePoint next_deadline()
    {
        TimePoint deadline = sound_due_ ? std::min(keepalive_due(), *sound_due_) : keepalive_due();
        // Rows that wait for the budget go when it next allows, frame or not.
        if (budget_ && (update_.pending() || screens_.owes() || (subtitles_ && subtitles_->pending()))) {
            deadline = std::min(deadline, budget_->next_chance(now()));
        }
        return deadline;
    }

    asio::any_io_executor executor_;
    Args args_;
    insim::InSimConnection connection_;
    PlaybackEvents events_;
    LfsLink lfs_;
    Screens screens_;
    Timeline timeline_;
    Controls controls_;
    // Only while standard input is a terminal; it is set back as it was when this goes.
    std::optional<TerminalKeys> keys_;
    std::chrono::milliseconds keepalive_interval_;
    // LFS counts its 70 seconds from the last packet it received.
    TimePoint last_write_ = now();
    bool lfs_closed_ = false;

    // Destroyed before the events' sources go: the children end with them.
    std::optional<ChildProcess> ffmpeg_;
    std::optional<ChildProcess> ffplay_;
    SteadyClock clock_;
    std::optional<FrameSource> source_;
    FrameUpdate update_;
    std::optional<ByteBudget> budget_;
    std::optional<SubtitleLines> subtitles_;
    RowOrderRule order_rule_;
    // A decoder runs; frames read before this run began.
    bool running_ = false;
    std::uint64_t frames_before_run_ = 0;
    // ffplay waits to start until the decoder has been running a while.
    std::optional<SoundStart> sound_;
    std::optional<TimePoint> sound_due_;
    bool finished_ = false;
};

asio::awaitable<Status> Playback::run()
{
    events_.listen_to_lfs();
    if (auto keys = TerminalKeys::open(executor_); !keys) {
        // The video plays on without them.
        std::fprintf(stderr, "lumaflick: the keys do not work here: %s\n", keys.error().text().c_str());
    } else if (*keys) {
        keys_ = std::move(*keys);
        events_.listen_to_keys(*keys_);
    }
    if (args_.delay) {
        print_line("Prepare yourself, we're startin' in!");
        if (auto waited = co_await serve_until(now() + start_delay(*args_.delay)); !waited) co_return waited;
    } else if (auto heard = co_await serve_until(now()); !heard) {
        // A close that has already arrived starts nothing.
        co_return heard;
    }
    if (auto started = start_children(); !started) co_return started;
    if (auto played = co_await play(); !played) co_return played;
    co_return co_await report();
}

Status Playback::start_children()
{
    source_.emplace(clock_, skip_threshold(args_.rate), frame_layout(args_.geometry, args_.colour));
    if (!controls_.paused() && !controls_.stop_wanted()) {
        // A seek during the delay already moved the start.
        if (auto started = start_run(controls_.take_jump()); !started) return started;
    }
    // ffplay starts later, but one that cannot start is still told now.
    if (args_.ffplay_path) return check_program(*args_.ffplay_path);
    return ok();
}

Status Playback::start_run(std::optional<MediaTime> at)
{
    if (at && timeline_.past_end(*at)) {
        finished_ = true;
        return ok();
    }
    const RunTimes times = timeline_.decoder_times(at);
    const std::string filter = make_filter_string(args_.rate, args_.colour ? PixelFormat::rgb24 : PixelFormat::gray, args_.geometry);
    auto decoder = start_decoder(args_.ffmpeg_path, ffmpeg_arguments(args_.video_path, times.s, times.t, filter));
    if (!decoder) return std::move(decoder).error();
    ffmpeg_ = std::move(decoder->child);
    auto output = PipeStream::open(executor_, std::move(decoder->output));
    if (!output) return std::move(output).error();
    source_->restart();
    events_.watch_decoder(std::move(*output), *source_);
    events_.read_frame();

    const FrameCounters& counters = source_->counters();
    frames_before_run_ = counters.shown + counters.skipped;
    timeline_.run_from(at);
    running_ = true;
    if (args_.ffplay_path) {
        sound_ = timeline_.sound_start(at, std::chrono::milliseconds(args_.av_offset.value_or(0)));
        if (sound_) sound_due_ = now() + sound_->delay;
    }
    return ok();
}

Status Playback::start_sound_when_due()
{
    if (!sound_due_ || now() < *sound_due_) return ok();
    sound_due_.reset();
    auto sound = start_sound(*args_.ffplay_path,
                             ffplay_arguments(args_.video_path, sound_->times.s, sound_->times.t, sound_->exact));
    if (!sound) return std::move(sound).error();
    ffplay_ = std::move(*sound);
    return ok();
}

// Sound first, so that it stops at once; both are reaped.
asio::awaitable<Status> Playback::end_run()
{
    sound_due_.reset();
    if (ffplay_) {
        if (auto stopped = ffplay_->terminate(); !stopped) co_return stopped;
        ffplay_.reset();
    }
    if (auto stopped = ffmpeg_->terminate(); !stopped) co_return stopped;
    co_await events_.let_decoder_go();
    running_ = false;
    co_return ok();
}

asio::awaitable<Status> Playback::follow_controls()
{
    if (controls_.stop_wanted()) {
        finished_ = true;
        co_return ok();
    }
    if (controls_.paused()) {
        if (running_) co_return co_await end_run();
        co_return ok();
    }
    const std::optional<MediaTime> jump = controls_.take_jump();
    if (running_ && !jump) co_return ok();
    if (running_) {
        if (auto ended = co_await end_run(); !ended) co_return ended;
    }
    co_return start_run(jump.value_or(timeline_.next()));
}

asio::awaitable<Status> Playback::play()
{
    print_line("Runnin'");

    for (;;) {
        if (auto followed = co_await follow_controls(); !followed) co_return followed;
        if (finished_) break;
        if (auto woke = co_await events_.wait(next_deadline()); !woke) co_return woke;
        if (auto heard = co_await hear_lfs(); !heard) co_return heard;
        if (auto pressed = co_await hear_keys(); !pressed) co_return pressed;
        if (auto sound = start_sound_when_due(); !sound) co_return sound;
        if (auto frame = events_.take_frame()) {
            if (!*frame) co_return std::move(*frame).error();
            if ((*frame)->empty()) break;
            const FrameCounters& counters = source_->counters();
            timeline_.shown(counters.shown + counters.skipped - frames_before_run_);
            if (subtitles_) subtitles_->take(timeline_.shown_at());
            if (budget_) {
                update_.take(**frame, now());
                if (auto sent = co_await send_within_budget(); !sent) co_return sent;
            } else if (auto lines = co_await send_subtitles(); !lines) {
                co_return lines;
            } else if (auto sent = co_await send_rows(update_.changes(**frame)); !sent) {
                co_return sent;
            }
            events_.read_frame();
        } else if (budget_) {
            if (auto sent = co_await send_within_budget(); !sent) co_return sent;
        }
        // A still picture sends nothing, nor does a silent decoder or a pause,
        // and LFS would drop a silent connection.
        if (auto kept = co_await keep_alive(); !kept) co_return kept;
    }
    if (finished_) {
        // Stopped on request: both end now, ffmpeg before it finds its output
        // gone and complains; and it has not failed.
        if (running_) co_return co_await end_run();
        co_return ok();
    }
    events_.close_decoder();
    co_return co_await check_decoder_failure();
}

asio::awaitable<Status> Playback::check_decoder_failure()
{
    const FrameCounters& counters = source_->counters();
    if (counters.shown + counters.skipped > 0) co_return ok();
    const TimePoint give_up = now() + DECODER_EXIT_WAIT;
    while (now() < give_up) {
        auto exit = ffmpeg_->poll_exit();
        if (!exit) co_return std::move(exit).error();
        if (*exit) {
            // A decoder killed from outside ended the video; it did not fail.
            if ((*exit)->success() || !(*exit)->code) co_return ok();
            co_return Error::message("ffmpeg could not play the video (" + (*exit)->describe() + ")");
        }
        if (auto served = co_await serve_until(std::min(give_up, now() + DECODER_EXIT_POLL)); !served) {
            co_return served;
        }
    }
    // Still running with its output closed: nothing tells it failed.
    co_return ok();
}

asio::awaitable<Status> Playback::report()
{
    const std::string line = statistics_line(source_->counters());
    auto message = insim::make_message_packet(line);
    if (!message) co_return std::move(message).error();
    if (auto sent = co_await send(insim::image(*message)); !sent) co_return sent;

    // LFS may go now: what it had to show has been sent.
    const TimePoint resume = now() + FINAL_PAUSE;
    while (now() < resume) {
        if (auto woke = co_await events_.wait(resume); !woke) co_return woke;
        // The playback is over: keys pressed now do nothing.
        events_.take_keys();
        if (auto heard = events_.take_lfs()) {
            if (*heard && !(*heard)->empty()) {
                events_.listen_to_lfs();
            } else {
                lfs_closed_ = true;
            }
        }
    }
    print_line(line);

    // Paused, nothing runs.
    if (ffmpeg_) {
        if (auto stopped = ffmpeg_->terminate(); !stopped) co_return stopped;
    }
    if (ffplay_) {
        if (auto stopped = ffplay_->terminate(); !stopped) co_return stopped;
    }
    co_await close_connection();
    co_return ok();
}

// Closing a socket that holds unread bytes, or that LFS sends to afterwards,
// resets the connection, and LFS drops whatever it had not read yet: so our
// end is shut first, and LFS is heard out until it closes. We give up once it
// has taken nothing for a while, neither from our send queue nor from its own
// receive buffer (the window its packets bring stays the same), unless that
// buffer is full, or we cannot tell, and LFS still talks: it may have our
// bytes to read, and a packet of its after our close would reset them.
asio::awaitable<void> Playback::close_connection()
{
    if (!lfs_closed_ && connection_.shutdown_send()) {
        const TimePoint limit = now() + CLOSE_LIMIT;
        TimePoint give_up = now() + CLOSE_GRACE;
        std::optional<insim::SendState> taken = connection_.send_state();
        TimePoint heard_at = now();
        while (now() < std::min(give_up, limit)) {
            if (auto woke = co_await events_.wait(std::min(std::min(give_up, limit), now() + CLOSE_POLL)); !woke) break;
            events_.take_keys();
            if (auto heard = events_.take_lfs()) {
                if (!*heard || (*heard)->empty()) break;
                heard_at = now();
                events_.listen_to_lfs();
            }
            const std::optional<insim::SendState> state = connection_.send_state();
            // Where the system does not tell (Windows), LFS talking counts as LFS busy.
            const bool full = now() - heard_at < CLOSE_GRACE &&
                              (!state || !state->peer_window || *state->peer_window == 0);
            if ((state && taken && *state != *taken) || full) give_up = now() + CLOSE_GRACE;
            taken = state;
        }
    }
    co_await events_.stop();
    connection_.close();
}

asio::awaitable<Status> Playback::serve_until(TimePoint deadline)
{
    for (;;) {
        if (auto woke = co_await events_.wait(std::min(deadline, keepalive_due())); !woke) co_return woke;
        if (auto heard = co_await hear_lfs(); !heard) co_return heard;
        if (auto pressed = co_await hear_keys(); !pressed) co_return pressed;
        if (auto kept = co_await keep_alive(); !kept) co_return kept;
        if (now() >= deadline) co_return ok();
    }
}

asio::awaitable<Status> Playback::hear_lfs()
{
    auto heard = events_.take_lfs();
    if (!heard) co_return ok();
    if (!*heard) co_return lfs_.failed(std::move(*heard).error());
    if ((*heard)->empty()) co_return lfs_.closed();
    if (auto taken = lfs_.take(**heard, screens_, controls_); !taken) co_return taken;
    events_.listen_to_lfs();
    // A guest that joined, or asked again, sees the picture before the next frame.
    if (auto sent = co_await send_due(); !sent) co_return sent;
    co_return co_await send_replies();
}

asio::awaitable<Status> Playback::send_due()
{
    if (budget_) co_return co_await send_within_budget();
    if (const auto due = screens_.take_due(); !due.empty()) {
        if (auto sent = co_await send(due); !sent) co_return sent;
    }
    screens_.due_written();
    co_return ok();
}

asio::awaitable<Status> Playback::send_subtitles()
{
    if (!subtitles_ || !subtitles_->pending()) co_return ok();
    const auto lines = subtitles_->buttons();
    if (auto sent = co_await send(screens_.show(lines)); !sent) co_return sent;
    screens_.written(lines);
    subtitles_->written();
    co_return ok();
}

asio::awaitable<Status> Playback::send_rows(std::span<const std::byte> rows)
{
    if (!rows.empty()) {
        if (auto sent = co_await send(screens_.show(rows)); !sent) co_return sent;
        screens_.written(rows);
    }
    update_.written();
    co_return ok();
}

// What is owed to connections goes before the frame's rows: a row LFS does
// not show at all differs most. The budget counts what one connection gets,
// so rows sent to several connections by UCID count once.
asio::awaitable<Status> Playback::send_within_budget()
{
    std::int64_t allowance = budget_->allowance(now());
    // Our request for the list of connections goes whatever the budget.
    if (const auto due = screens_.take_due(std::max<std::int64_t>(allowance, 0)); !due.empty()) {
        if (auto sent = co_await send(due); !sent) co_return sent;
        budget_->spend(due.size(), now());
        allowance = budget_->allowance(now());
    }
    screens_.due_written();
    // A late word is worse than a late row.
    if (allowance > 0 && subtitles_ && subtitles_->pending()) {
        const auto lines = subtitles_->buttons();
        if (auto sent = co_await send(screens_.show(lines)); !sent) co_return sent;
        budget_->spend(lines.size(), now());
        screens_.written(lines);
        subtitles_->written();
        allowance = budget_->allowance(now());
    }
    if (allowance <= 0 || !update_.pending()) co_return ok();
    const auto rows = update_.rows(allowance, now(), order_rule_);
    if (rows.empty()) co_return ok();
    if (auto sent = co_await send(screens_.show(rows)); !sent) co_return sent;
    budget_->spend(rows.size(), now());
    screens_.written(rows);
    update_.written();
    co_return ok();
}

asio::awaitable<Status> Playback::hear_keys()
{
    auto heard = events_.take_keys();
    if (!heard) co_return ok();
    // A terminal that hung up has no more keys.
    if (!*heard) co_return ok();
    for (const Key key : **heard) controls_.obey(command_for(key));
    events_.listen_to_keys(*keys_);
    co_return co_await send_replies();
}

asio::awaitable<Status> Playback::send_replies()
{
    const auto replies = controls_.replies();
    if (replies.empty()) co_return ok();
    if (auto sent = co_await send(replies); !sent) co_return sent;
    controls_.replies_sent();
    co_return ok();
}

asio::awaitable<Status> Playback::keep_alive()
{
    if (now() < keepalive_due()) co_return ok();
    co_return co_await send(insim::image(insim::IS_TINY{}));
}

asio::awaitable<Status> Playback::send(std::span<const std::byte> packets)
{
    auto sent = co_await connection_.send_bytes(packets);
    if (!sent) co_return lfs_.failed(std::move(sent).error());
    last_write_ = now();
    co_return ok();
}

}  // namespace

asio::awaitable<Status> run_playback(Args args, std::chrono::milliseconds keepalive_interval)
{
    // A signal cancels the playback; every wait then fails and is handled as
    // an error, rather than thrown through our code.
    co_await asio::this_coro::throw_if_cancelled(false);
    // The cues are read whole before anything else.
    CueSource source{args.ffmpeg_path, args.subtitles, args.subtitle_track, args.video_path};
    auto cues = co_await load_cues(co_await asio::this_coro::executor, std::move(source));
    if (!cues) co_return std::move(cues).error();

    // At 127.0.0.1 our buttons are local ones, unless the host's guests are to see them.
    constexpr std::array<std::uint8_t, 4> localhost{127, 0, 0, 1};
    const bool local = args.insim_address.address == localhost && !args.guests;
    std::vector<std::uint16_t> flags;
    if (local) flags.push_back(insim::ISF_LOCAL);
    auto init = insim::make_init_packet(flags, args.password, insim::display_name("Lumaflick"));
    if (!init) co_return std::move(init).error();

    const asio::ip::tcp::endpoint endpoint(asio::ip::address_v4(args.insim_address.address),
                                           args.insim_address.port);
    auto connection = co_await insim::InSimConnection::connect(endpoint, *init);
    // LFS may close at once, before the init is even written.
    if (!connection) co_return connect_failed(std::move(connection).error());

    Playback playback(co_await asio::this_coro::executor, std::move(args), std::move(*connection), local,
                      keepalive_interval, *cues);
    Status outcome = co_await playback.run();
    co_await playback.stop();
    co_return outcome;
}

}  // namespace lumaflick
