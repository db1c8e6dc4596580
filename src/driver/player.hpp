#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/args.hpp"
#include "control/controls.hpp"
#include "control/status_line.hpp"
#include "control/key_decoder.hpp"
#include "control/timeline.hpp"
#include "driver/children.hpp"
#include "driver/lfs_link.hpp"
#include "error.hpp"
#include "insim/send_state.hpp"
#include "picture/byte_budget.hpp"
#include "picture/frame_update.hpp"
#include "picture/screens.hpp"
#include "subtitles/cues.hpp"
#include "subtitles/subtitle_lines.hpp"
#include "video/frame_source.hpp"
#include "video/process.hpp"

namespace lumaflick {

// What a batch of bytes for LFS holds, to be committed once written.
struct WriteBatch {
    bool due = false;                  // what Screens owed
    std::span<const std::byte> lines;  // the subtitles' buttons, as written to every connection
    std::span<const std::byte> rows;   // FrameUpdate's, likewise
    std::size_t counted = 0;           // bytes the budget counts
    bool frame = false;                // holds a frame's rows: the next frame waits for it
    bool statistics = false;
};

// A line for the console: standard output, or standard error.
struct ConsoleLine {
    bool error = false;
    std::string text;
    friend bool operator==(const ConsoleLine&, const ConsoleLine&) = default;
};

// What the shell does with the connection once the playback is over.
enum class Ending {
    none,
    // Shut our end and keep reading: LFS reads to the end of what we sent.
    shut_down,
    // LFS took nothing for too long: drop what it did not take, and close.
    abandon,
};

// The player's rules: what to do about each thing that happens during a
// playback, from the open connection to its close. No sockets, processes,
// printing or clock: every event comes with its time, and the answers are
// bytes for LFS, children started and ended through `Children`, lines for the
// console, the next deadline and, at the end, the outcome. Bytes for LFS are
// taken one batch at a time and committed once written, so a slow LFS holds
// back only what it has not taken.
class Player {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    // `clock` times the decoder's reads for the skip rule; `cues` are the
    // subtitles, if any, shown under the picture.
    Player(Args args, bool local, Children& children, Clock& clock, TimePoint now,
           std::chrono::milliseconds keepalive_interval, Cues cues = {});

    // The connection is open: the start delay, if any, begins.
    void begin(TimePoint now);
    // Bytes from LFS, cut anywhere.
    void heard(std::span<const std::uint8_t> bytes, TimePoint now);
    // LFS closed its end; or a read from it failed.
    void lfs_closed(TimePoint now);
    void lfs_failed(Error failure, TimePoint now);
    // Keys pressed on the terminal.
    void pressed(std::span<const Key> keys, TimePoint now);
    // Where the next read of the decoder's output goes, while wants_frame().
    std::span<std::byte> frame_buffer() noexcept;
    // That read's outcome: bytes, 0 at the end of the output, or an error.
    void decoder_read(const Result<std::size_t>& read, TimePoint now);
    // A child ended by itself; `last_words`, the last line it wrote to its
    // standard error, if kept.
    void exited(Child which, const ExitStatus& status, TimePoint now, std::string_view last_words = {});
    // The time passed; while watches_sends(), with how far LFS has taken our bytes.
    void tick(TimePoint now, std::optional<insim::SendState> sends = std::nullopt);
    // A signal: everything ends at once, without the statistics.
    void interrupted(TimePoint now);
    // Something of the shell's broke: the playback ends with this error.
    void abort(Error error) { fail(std::move(error)); }

    // The bytes to write next, empty when nothing is owed now; one batch at a
    // time, valid until written() or write_failed().
    std::span<const std::byte> take(TimePoint now);
    void written(TimePoint now);
    void write_failed(Error failure, TimePoint now);

    // When tick() is next due.
    [[nodiscard]] TimePoint deadline(TimePoint now) noexcept;
    // The decoder's output may be read: a run goes on, and the last frame's
    // rows have been written (LFS's pace holds the decoder back).
    [[nodiscard]] bool wants_frame() const noexcept;
    // tick() wants the connection's send state.
    [[nodiscard]] bool watches_sends() const noexcept;
    // exited() is awaited: the decoder's status decides the outcome.
    [[nodiscard]] bool watches_exits() const noexcept { return phase_ == Phase::exiting; }
    // Lines to print, in order, since the last call.
    std::vector<ConsoleLine> take_lines();
    // What to do with the connection, once, when the playback ends.
    Ending take_ending() noexcept { return std::exchange(ending_, Ending::none); }
    // A write is outstanding.
    [[nodiscard]] bool writing() const noexcept { return batch_.has_value(); }
    [[nodiscard]] bool over() const noexcept { return phase_ == Phase::over; }
    // Once over: how it ended.
    [[nodiscard]] const Status& outcome() const noexcept { return outcome_; }
    // Where the playback stands, for the status line (its rate left to the caller).
    [[nodiscard]] StatusFacts status() const noexcept;
    // Bytes written to LFS so far.
    [[nodiscard]] std::uint64_t bytes_written() const noexcept { return bytes_written_; }

private:
    enum class Phase {
        delay,      // before the children start
        playing,    // children run, or a pause
        exiting,    // the decoder's output ended without a frame: its exit tells why
        reporting,  // the statistics go to LFS
        showing,    // LFS shows them before the console does
        closing,    // our end is shut; LFS is heard out
        over,
    };

    void start_children(TimePoint now);
    void start_run(std::optional<MediaTime> at, TimePoint now);
    void end_run();
    void follow_controls(TimePoint now);
    void output_ended(TimePoint now);
    void report(TimePoint now);
    void close(TimePoint now);
    void watch_close(TimePoint now, std::optional<insim::SendState> sends);
    void track_sends(TimePoint now, std::optional<insim::SendState> sends);
    void watch_stall(TimePoint now, std::optional<insim::SendState> sends);
    void fail(Error error);
    void end_children();
    void append(std::span<const std::byte> bytes);
    void take_messages();
    void take_picture(TimePoint now, bool rows);
    [[nodiscard]] bool hears_commands() const noexcept
    {
        return phase_ == Phase::delay || phase_ == Phase::playing || phase_ == Phase::exiting;
    }
    [[nodiscard]] TimePoint keepalive_due() const noexcept { return last_write_ + keepalive_interval_; }
    [[nodiscard]] TimePoint writes_due(TimePoint now) noexcept;
    void print(std::string text, bool error = false) { lines_.push_back({error, std::move(text)}); }

    Args args_;
    Children* children_;
    std::chrono::milliseconds keepalive_interval_;
    LfsLink lfs_;
    Screens screens_;
    Timeline timeline_;
    Controls controls_;
    FrameSource source_;
    FrameUpdate update_;
    std::optional<ByteBudget> budget_;
    RowOrderRule order_rule_;
    Cues cues_;
    std::optional<SubtitleLines> subtitles_;

    Phase phase_ = Phase::delay;
    // The end of the start delay, of the wait for the decoder's exit, or of
    // the statistics' time on LFS.
    TimePoint phase_end_;
    // LFS counts its 70 seconds from the last packet it received.
    TimePoint last_write_;

    // A run of the decoder: the frames read before it began.
    std::optional<std::uint64_t> run_;
    std::optional<ExitStatus> decoder_exit_;
    bool sound_runs_ = false;
    // ffplay starts a while after the decoder.
    std::optional<SoundStart> sound_;
    TimePoint sound_due_;

    // A frame's rows wait to be written (without a budget: these).
    bool frame_owed_ = false;
    std::span<const std::byte> frame_rows_;
    std::optional<WriteBatch> batch_;
    // The batch's bytes: out_, or, when a frame's rows are all it holds, those
    // rows where they were drawn, so that a frame is not copied once more.
    std::vector<std::byte> out_;
    std::span<const std::byte> rows_only_;
    [[nodiscard]] std::span<const std::byte> batch_bytes() const noexcept
    {
        return rows_only_.empty() ? std::span<const std::byte>(out_) : rows_only_;
    }

    std::string statistics_;
    bool statistics_owed_ = false;
    bool lfs_gone_ = false;
    // Watching LFS take what we sent: since when nothing moved, and the limits.
    std::optional<insim::SendState> taken_;
    bool baseline_ = false;  // the next look only learns where they stand
    TimePoint moved_at_;
    TimePoint polled_at_;
    TimePoint give_up_;
    TimePoint close_limit_;
    TimePoint heard_at_;  // LFS last said anything

    // Said to LFS besides the answers: that the sound failed.
    std::vector<insim::IS_MSL> notices_;
    std::string last_answer_;
    std::uint64_t bytes_written_ = 0;

    std::vector<ConsoleLine> lines_;
    Ending ending_ = Ending::none;
    Status outcome_;
};

// Between the statistics on LFS and the console line, so LFS shows them first.
inline constexpr std::chrono::milliseconds FINAL_PAUSE{500};
// After our end is shut, how long LFS may take nothing more before we close;
// also how long a write at the end may make no progress.
inline constexpr std::chrono::milliseconds CLOSE_GRACE{2000};
// However slowly LFS takes the rest, the program ends within this.
inline constexpr std::chrono::minutes CLOSE_LIMIT{2};
// How often the send queue is looked at while closing.
inline constexpr std::chrono::milliseconds CLOSE_POLL{100};
// A decoder whose output ended at once is given this long to exit, so that
// its status tells a video it could not play from an empty one.
inline constexpr std::chrono::milliseconds DECODER_EXIT_WAIT{2000};

}  // namespace lumaflick
