#include "driver/player.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "insim/incoming.hpp"
#include "insim/packets.hpp"
#include "video/decoder.hpp"

namespace lumaflick {

namespace {

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

Chatter chatter(const Args& args) { return args.quiet ? Chatter::errors : Chatter::usual; }

}  // namespace

Player::Player(Args args, bool local, Children& children, Clock& clock, TimePoint now,
               std::chrono::milliseconds keepalive_interval, Cues cues)
    : args_(std::move(args)), children_(&children), keepalive_interval_(keepalive_interval), screens_(local),
      timeline_(args_.s, args_.t, args_.rate), controls_(timeline_),
      source_(clock, skip_threshold(args_.rate), frame_layout(args_.geometry, args_.colour, args_.resolution)),
      update_(make_frame_update(args_)), cues_(std::move(cues)), phase_end_(now), last_write_(now), heard_at_(now)
{
    if (!cues_.empty()) {
        subtitles_.emplace(cues_, subtitle_placement(args_.geometry),
                           args_.compact ? Packing::shortest : Packing::full);
    }
    if (args_.bandwidth) {
        const auto frame_interval =
            std::chrono::duration_cast<Duration>(std::chrono::duration<double>(1.0 / static_cast<double>(args_.rate)));
        budget_.emplace(*args_.bandwidth, frame_interval, now);
        order_rule_.tick = frame_interval;
        order_rule_.urgent_after = urgent_after(*args_.bandwidth, args_.geometry.buttons(), frame_interval);
    }
    // A frame's rows to every connection, and the redraws a guest is owed.
    out_.reserve(2 * args_.geometry.rows * sizeof(insim::IS_BTN));
}

void Player::begin(TimePoint now)
{
    phase_end_ = now;
    if (args_.delay) {
        print("Prepare yourself, we're startin' in!");
        phase_end_ = now + start_delay(*args_.delay);
    }
}

void Player::start_children(TimePoint now)
{
    // A pause or a stop during the delay starts no run; a seek moves its start.
    if (!controls_.paused() && !controls_.stop_wanted()) {
        phase_ = Phase::playing;
        start_run(controls_.take_jump(), now);
        if (phase_ != Phase::playing) return;
    }
    // ffplay starts later, but one that cannot start is still told now.
    if (args_.ffplay_path) {
        if (auto checked = children_->check(*args_.ffplay_path); !checked) return fail(checked.error());
    }
    phase_ = Phase::playing;
    print("Runnin'");
    follow_controls(now);
}

void Player::start_run(std::optional<MediaTime> at, TimePoint now)
{
    if (at && timeline_.past_end(*at)) return report(now);
    const RunTimes times = timeline_.decoder_times(at);
    const std::string filter =
        make_filter_string(args_.rate, args_.colour ? PixelFormat::rgb24 : PixelFormat::gray, args_.geometry);
    const auto arguments = ffmpeg_arguments(args_.video_path, times.s, times.t, filter, chatter(args_));
    if (auto started = children_->start(Child::decoder, args_.ffmpeg_path, arguments); !started) {
        return fail(started.error());
    }
    source_.restart();
    decoder_exit_.reset();
    const FrameCounters& counters = source_.counters();
    run_ = counters.shown + counters.skipped;
    timeline_.run_from(at);
    if (args_.ffplay_path) {
        sound_ = timeline_.sound_start(at, std::chrono::milliseconds(args_.av_offset.value_or(0)));
        if (sound_) sound_due_ = now + sound_->delay;
    }
}

// Sound first, so that it stops at once.
void Player::end_run()
{
    sound_.reset();
    if (std::exchange(sound_runs_, false)) {
        if (auto ended = children_->end(Child::sound); !ended) return fail(ended.error());
    }
    if (run_) {
        run_.reset();
        if (auto ended = children_->end(Child::decoder); !ended) return fail(ended.error());
    }
}

void Player::follow_controls(TimePoint now)
{
    if (phase_ != Phase::playing) return;
    if (controls_.stop_wanted()) {
        // Both end now, ffmpeg before it finds its output gone and complains;
        // and it has not failed.
        end_run();
        if (phase_ == Phase::playing) report(now);
        return;
    }
    if (controls_.paused()) {
        end_run();
        return;
    }
    const std::optional<MediaTime> jump = controls_.take_jump();
    if (run_ && !jump) return;
    end_run();
    if (phase_ == Phase::playing) start_run(jump.value_or(timeline_.next()), now);
}

void Player::heard(std::span<const std::uint8_t> bytes, TimePoint now)
{
    heard_at_ = now;
    // Once the playback is over, nothing LFS says changes it.
    if (!hears_commands()) return;
    if (auto taken = lfs_.take(bytes, screens_, controls_); !taken) return fail(taken.error());
    follow_controls(now);
}

void Player::lfs_closed(TimePoint now) { lfs_failed(lfs_.closed(), now); }

void Player::lfs_failed(Error failure, TimePoint /*now*/)
{
    if (hears_commands()) return fail(lfs_.failed(std::move(failure)));
    if (phase_ == Phase::closing) phase_ = Phase::over;
    lfs_gone_ = true;
}

void Player::pressed(std::span<const Key> keys, TimePoint now)
{
    if (!hears_commands()) return;
    for (const Key key : keys) controls_.obey(command_for(key));
    follow_controls(now);
}

std::span<std::byte> Player::frame_buffer() noexcept { return source_.begin_read(); }

void Player::decoder_read(const Result<std::size_t>& read, TimePoint now)
{
    if (phase_ != Phase::playing || !run_) return;
    if (!read) return fail(read.error());
    const auto frame = source_.end_read(*read);
    // Not whole yet, or dropped: the next read starts at once.
    if (!frame) return;
    if (frame->empty()) return output_ended(now);

    const FrameCounters& counters = source_.counters();
    timeline_.shown(counters.shown + counters.skipped - *run_);
    // The words go with the frame they belong to, on the picture's clock.
    if (subtitles_) subtitles_->take(timeline_.shown_at());
    if (budget_) {
        update_.take(*frame, now);
        frame_owed_ = true;
        return;
    }
    frame_rows_ = update_.changes(*frame);
    if (frame_rows_.empty()) {
        update_.written();
    } else {
        frame_owed_ = true;
    }
}

void Player::output_ended(TimePoint now)
{
    const FrameCounters& counters = source_.counters();
    if (counters.shown + counters.skipped > 0) return report(now);
    phase_ = Phase::exiting;
    phase_end_ = now + DECODER_EXIT_WAIT;
    if (decoder_exit_) exited(Child::decoder, *decoder_exit_, now);
}

void Player::exited(Child which, const ExitStatus& status, TimePoint now, std::string_view last_words)
{
    if (which == Child::sound) {
        // ffplay plays until it is ended: ending by itself while the picture
        // plays, it failed, and the person hears nothing.
        if (std::exchange(sound_runs_, false) && phase_ == Phase::playing) {
            std::string text = "lumaflick: no sound: ffplay ended (" + status.describe() + ")";
            if (!last_words.empty()) text += ": " + std::string(last_words);
            notices_.push_back(insim::make_local_message(text));
            print(std::move(text), true);
        }
        return;
    }
    if (!run_) return;
    decoder_exit_ = status;
    if (phase_ != Phase::exiting) return;
    // A decoder killed from outside ended the video; it did not fail.
    if (status.success() || !status.code) return report(now);
    fail(Error::message("ffmpeg could not play the video (" + status.describe() + ")"));
}

void Player::tick(TimePoint now, std::optional<insim::SendState> sends)
{
    switch (phase_) {
        case Phase::delay:
            if (now >= phase_end_) start_children(now);
            break;
        case Phase::playing:
            if (sound_ && now >= sound_due_) {
                const SoundStart start = *std::exchange(sound_, std::nullopt);
                const auto arguments =
                    ffplay_arguments(args_.video_path, start.times.s, start.times.t, start.exact, chatter(args_));
                if (auto started = children_->start(Child::sound, *args_.ffplay_path, arguments); !started) {
                    return fail(started.error());
                }
                sound_runs_ = true;
            }
            break;
        case Phase::exiting:
            // Still running with its output closed: nothing tells it failed.
            if (now >= phase_end_) report(now);
            break;
        case Phase::reporting: watch_stall(now, sends); break;
        case Phase::showing:
            track_sends(now, sends);
            if (now >= phase_end_) close(now);
            break;
        case Phase::closing: watch_close(now, sends); break;
        case Phase::over: break;
    }
}

void Player::interrupted(TimePoint /*now*/)
{
    if (phase_ == Phase::over) return;
    fail(Error::system(std::make_error_code(std::errc::operation_canceled)));
}

void Player::report(TimePoint now)
{
    phase_ = Phase::reporting;
    statistics_ = statistics_line(source_.counters());
    statistics_owed_ = true;
    taken_.reset();
    baseline_ = true;
    moved_at_ = now;
    polled_at_ = now;
}

// How far LFS has taken our bytes: when that last moved.
void Player::track_sends(TimePoint now, std::optional<insim::SendState> sends)
{
    polled_at_ = now;
    if (sends != taken_ && !std::exchange(baseline_, false)) moved_at_ = now;
    baseline_ = false;
    taken_ = sends;
}

// A write that LFS takes nothing of for the close's grace is given up on,
// with whatever else was still to go: the playback is over, and a stalled LFS
// must not keep the program running.
void Player::watch_stall(TimePoint now, std::optional<insim::SendState> sends)
{
    track_sends(now, sends);
    if (!batch_ || now - moved_at_ < CLOSE_GRACE) return;
    print(statistics_);
    end_children();
    ending_ = Ending::abandon;
    phase_ = Phase::over;
}

void Player::close(TimePoint now)
{
    print(statistics_);
    // Paused, nothing runs.
    end_children();
    if (phase_ == Phase::over) return;
    if (lfs_gone_) {
        phase_ = Phase::over;
        return;
    }
    ending_ = Ending::shut_down;
    phase_ = Phase::closing;
    close_limit_ = now + CLOSE_LIMIT;
    // LFS has had its grace since our bytes last moved; the end of the
    // stream that the shutdown queues is no move of LFS's.
    give_up_ = moved_at_ + CLOSE_GRACE;
    baseline_ = true;
}

// We give up once LFS has taken nothing for a while, neither from our send
// queue nor from its own receive buffer (the window its packets bring stays
// the same), unless that buffer is full, or we cannot tell, and LFS still
// talks: it may have our bytes to read, and a packet of its after our close
// would reset them.
void Player::watch_close(TimePoint now, std::optional<insim::SendState> sends)
{
    track_sends(now, sends);
    const bool full =
        now - heard_at_ < CLOSE_GRACE && (!sends || !sends->peer_window || *sends->peer_window == 0);
    if (full) give_up_ = std::max(give_up_, now + CLOSE_GRACE);
    give_up_ = std::max(give_up_, moved_at_ + CLOSE_GRACE);
    if (now >= std::min(give_up_, close_limit_)) phase_ = Phase::over;
}

void Player::fail(Error error)
{
    if (phase_ == Phase::over) return;
    outcome_ = std::move(error);
    phase_ = Phase::over;
    end_children();
}

// Their failures to end no longer matter to an outcome already decided,
// except while the playback still ends in order.
void Player::end_children()
{
    sound_.reset();
    if (std::exchange(sound_runs_, false)) {
        if (auto ended = children_->end(Child::sound); !ended && phase_ != Phase::over) fail(ended.error());
    }
    if (run_) {
        run_.reset();
        if (auto ended = children_->end(Child::decoder); !ended && phase_ != Phase::over) fail(ended.error());
    }
}

void Player::append(std::span<const std::byte> bytes)
{
    if (!rows_only_.empty()) out_.assign(rows_only_.begin(), rows_only_.end());
    rows_only_ = {};
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

// Answers to commands, and what LFS is to know besides.
void Player::take_messages()
{
    const auto replies = controls_.replies();
    if (replies.size() >= sizeof(insim::IS_MSL)) {
        insim::IS_MSL last;
        std::memcpy(&last, replies.data() + replies.size() - sizeof last, sizeof last);
        last_answer_ = insim::field_text(last.Msg);
    }
    append(replies);
    controls_.replies_sent();
    append(std::as_bytes(std::span(notices_)));
    notices_.clear();
}

// What is owed to connections goes before the frame's rows: a row LFS does
// not show at all differs most. The budget counts what one connection gets,
// so rows sent to several connections by UCID count once. Without a frame
// waiting, rows go only while playing under a budget.
void Player::take_picture(TimePoint now, bool rows)
{
    WriteBatch& batch = *batch_;
    std::int64_t allowance = budget_ ? budget_->allowance(now) : Screens::UNLIMITED;
    // Our request for the list of connections goes whatever the budget.
    const auto due = screens_.take_due(std::max<std::int64_t>(allowance, 0));
    append(due);
    batch.due = true;
    take_messages();
    const bool frame = std::exchange(frame_owed_, false);
    batch.frame = frame;
    if (budget_) {
        batch.counted = due.size();
        allowance -= static_cast<std::int64_t>(due.size());
    }
    // A late word is worse than a late row: the subtitles go first.
    if (subtitles_ && subtitles_->pending() && allowance > 0) {
        batch.lines = subtitles_->buttons();
        append(screens_.show(batch.lines));
        if (budget_) {
            batch.counted += batch.lines.size();
            allowance -= static_cast<std::int64_t>(batch.lines.size());
        }
    }
    if (!budget_) {
        if (frame) {
            batch.rows = frame_rows_;
            const auto shown = screens_.show(frame_rows_);
            if (out_.empty()) {
                rows_only_ = shown;
            } else {
                append(shown);
            }
        }
        return;
    }
    if (!(rows || frame) || allowance <= 0 || !update_.pending()) return;
    batch.rows = update_.rows(allowance, now, order_rule_);
    append(screens_.show(batch.rows));
    batch.counted += batch.rows.size();
}

std::span<const std::byte> Player::take(TimePoint now)
{
    if (batch_ || phase_ == Phase::over) return {};
    out_.clear();
    rows_only_ = {};
    batch_.emplace();
    if (phase_ == Phase::reporting) {
        if (std::exchange(statistics_owed_, false)) {
            // What the last events owed goes first, as it would have gone
            // had the statistics not followed at once.
            take_picture(now, false);
            auto message = insim::make_message_packet(statistics_);
            if (!message) {
                batch_.reset();
                fail(std::move(message).error());
                return {};
            }
            append(insim::image(*message));
            batch_->statistics = true;
        }
    } else if (hears_commands()) {
        take_picture(now, true);
        // A still picture sends nothing, nor does a silent decoder or a
        // pause, and LFS would drop a silent connection.
        if (batch_bytes().empty() && now >= keepalive_due()) append(insim::image(insim::IS_TINY{}));
    }
    if (batch_bytes().empty()) {
        // Nothing to write: what was taken is settled at once.
        written(last_write_);
        return {};
    }
    return batch_bytes();
}

void Player::written(TimePoint now)
{
    if (!batch_) return;
    const WriteBatch batch = *batch_;
    batch_.reset();
    const std::size_t size = batch_bytes().size();
    rows_only_ = {};
    if (size == 0) {
        if (batch.due) screens_.due_written();
        return;
    }
    last_write_ = now;
    bytes_written_ += size;
    if (budget_ && batch.counted > 0) budget_->spend(batch.counted, now);
    if (batch.due) screens_.due_written();
    if (!batch.lines.empty()) {
        screens_.written(batch.lines);
        subtitles_->written();
    }
    if (!batch.rows.empty()) {
        // The rows stay where the picture drew them until its next are written.
        screens_.written_in_place(batch.rows);
        update_.written();
    }
    if (batch.statistics) {
        // LFS may go now: what it had to show has been sent.
        phase_ = Phase::showing;
        phase_end_ = now + FINAL_PAUSE;
    }
}

void Player::write_failed(Error failure, TimePoint /*now*/)
{
    batch_.reset();
    rows_only_ = {};
    if (phase_ == Phase::closing) return;
    fail(lfs_.failed(std::move(failure)));
}

Player::TimePoint Player::deadline(TimePoint now) noexcept
{
    constexpr TimePoint never = TimePoint::max();
    switch (phase_) {
        case Phase::delay:
        case Phase::exiting: return std::min(phase_end_, writes_due(now));
        case Phase::playing: return sound_ ? std::min(sound_due_, writes_due(now)) : writes_due(now);
        case Phase::reporting: return std::max(now, polled_at_ + CLOSE_POLL);
        case Phase::showing: return std::min(phase_end_, std::max(now, polled_at_ + CLOSE_POLL));
        case Phase::closing: return std::min({give_up_, close_limit_, now + CLOSE_POLL});
        case Phase::over: return never;
    }
    return never;
}

// While a write is out, what goes next waits for it, not for the time.
Player::TimePoint Player::writes_due(TimePoint now) noexcept
{
    if (batch_) return TimePoint::max();
    TimePoint due = keepalive_due();
    // Rows that wait for the budget go when it next allows, frame or not.
    const bool waiting = update_.pending() || screens_.owes() || (subtitles_ && subtitles_->pending());
    if (budget_ && waiting) due = std::min(due, budget_->next_chance(now));
    return due;
}

bool Player::wants_frame() const noexcept
{
    return phase_ == Phase::playing && run_ && !frame_owed_ && !(batch_ && batch_->frame);
}

bool Player::watches_sends() const noexcept
{
    return phase_ == Phase::reporting || phase_ == Phase::showing || phase_ == Phase::closing;
}

StatusFacts Player::status() const noexcept
{
    const FrameCounters& counters = source_.counters();
    StatusFacts facts;
    facts.position = controls_.position();
    facts.paused = controls_.paused();
    facts.shown = counters.shown;
    facts.skipped = counters.skipped;
    facts.answer = last_answer_;
    return facts;
}

std::vector<ConsoleLine> Player::take_lines() { return std::exchange(lines_, {}); }

}  // namespace lumaflick
