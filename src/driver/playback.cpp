#include "driver/playback.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#ifndef _WIN32
#include <csignal>

#include <asio/signal_set.hpp>
#endif

#include "cli/args.hpp"
#include "control/status_line.hpp"
#include "control/terminal_keys.hpp"
#include "driver/children.hpp"
#include "driver/lfs_link.hpp"
#include "driver/player.hpp"
#include "insim/connection.hpp"
#include "insim/packets.hpp"
#include "video/decoder.hpp"
#include "video/pipe_stream.hpp"
#include "video/shape_probe.hpp"
#include "subtitles/load.hpp"
#include "video/process.hpp"

namespace lumaflick {

namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::steady_clock::time_point;

TimePoint now() { return std::chrono::steady_clock::now(); }

// Flushed at once: the user watches the console for "Runnin'".
void print_line(const ConsoleLine& line)
{
    std::FILE* stream = line.error ? stderr : stdout;
    std::fwrite(line.text.data(), 1, line.text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Wakes a coroutine that waits for something of ours to change, as Asio's
// chat server wakes its writer: a timer set to the far future, cancelled. A
// wake-up that comes before the wait is kept, so none is lost.
class Wake {
public:
    explicit Wake(const asio::any_io_executor& executor) : timer_(executor) {}
    void notify()
    {
        notified_ = true;
        if (waiting_) timer_.cancel();
    }
    // Returns at the wake-up, or when the coroutine is cancelled (a signal).
    asio::awaitable<void> wait()
    {
        if (!notified_) {
            timer_.expires_at(TimePoint::max());
            std::error_code ignored;
            waiting_ = true;
            co_await timer_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
            waiting_ = false;
        }
        notified_ = false;
    }

private:
    asio::steady_timer timer_;
    bool notified_ = false;
    bool waiting_ = false;
};

// A read of ours that reports through a callback, awaited.
template <typename T, typename Start>
asio::awaitable<Result<T>> awaited(Start start)
{
    std::error_code ec;
    auto token = asio::redirect_error(asio::use_awaitable, ec);
    T value = co_await asio::async_initiate<decltype(token), void(std::error_code, T)>(
        [&start](auto handler) {
            auto shared = std::make_shared<decltype(handler)>(std::move(handler));
            start([shared](Result<T> result) {
                if (result) return std::move(*shared)(std::error_code{}, std::move(*result));
                std::error_code code = result.error().code();
                if (!code) code = std::make_error_code(std::errc::io_error);
                std::move(*shared)(code, T{});
            });
        },
        token);
    if (ec) co_return Error::system(ec);
    co_return value;
}

// A child, and whether its end was told to the player.
struct Running {
    ChildProcess process;
    bool told = false;
};

// One playback on an open connection: a reader each for LFS, the keys, the
// decoder and the children's ends, one writer that alone writes to LFS, and a
// timer for the player's next deadline. The writer writes what the socket
// takes at once as soon as an event has been handled, and waits (in write())
// only while the socket is full. Each hands what happened to the
// player's rules and does what they answer, so a stalled LFS holds back the
// writer alone. run() ends once the player is over and every reader has
// stopped.
class Playback final : private Children {
public:
    Playback(const asio::any_io_executor& executor, const Args& args, insim::InSimConnection connection, bool local,
             std::chrono::milliseconds keepalive_interval, Cues cues)
        : executor_(executor), connection_(std::move(connection)),
          player_(args, local, *this, clock_, now(), keepalive_interval, std::move(cues)), status_(StatusConsole::on_stdout(args.quiet)),
          timer_(executor),
#ifdef _WIN32
          child_poll_(executor),
#else
          child_signals_(executor),
#endif
          writer_wake_(executor), frames_wake_(executor), done_wake_(executor)
    {
    }
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;
    ~Playback() = default;

    asio::awaitable<Status> run();

private:
    Status start(Child which, std::string_view program, std::span<const std::string> arguments) override;
    Status end(Child which) override;
    Status check(std::string_view program) override { return check_program(program); }

    template <typename Loop>
    void spawn(Loop loop);
    asio::awaitable<void> read_lfs();
    asio::awaitable<void> read_keys();
    asio::awaitable<void> read_frames();
    asio::awaitable<void> watch_children();
    asio::awaitable<void> keep_time();
    asio::awaitable<void> write();

    // After every event: write what the player owes, print what it says, act
    // on its ending, wake whoever now has work, and set the timer to its next
    // deadline.
    void pump(TimePoint at);
    void flush(TimePoint at);
    void arm(TimePoint at);
    void print(const std::vector<ConsoleLine>& lines);
    void show_status(TimePoint at);
    void tell_exits(TimePoint at);
    void stop_sources();

    asio::any_io_executor executor_;
    insim::InSimConnection connection_;
    SteadyClock clock_;
    Player player_;
    // --quiet's line on a terminal: the playback's state, a few times a second.
    StatusConsole status_;
    StatusPace status_pace_;
    bool status_stale_ = false;
    TimePoint rate_since_{};
    std::uint64_t rate_bytes_ = 0;
    std::uint64_t bytes_per_second_ = 0;
    std::optional<TerminalKeys> keys_;

    std::optional<Running> decoder_;
    std::optional<Running> sound_;
    std::optional<PipeStream> decoder_output_;
    // Counts the decoder's runs: a read of an ended run is dropped.
    std::uint64_t run_ = 0;

    asio::steady_timer timer_;
    TimePoint armed_ = TimePoint::max();
#ifdef _WIN32
    // Windows tells no parent of a child's end: it is looked at now and then.
    asio::steady_timer child_poll_;
#else
    asio::signal_set child_signals_;
#endif
    // What the socket did not take of the batch being written; write() waits
    // until it can take more.
    std::span<const std::byte> unsent_;
    bool write_waits_ = false;
    Wake writer_wake_;
    Wake frames_wake_;
    Wake done_wake_;
    int alive_ = 0;
    bool stopping_ = false;
    std::array<std::uint8_t, 4096> lfs_buffer_{};
};

asio::awaitable<Status> Playback::run()
{
    if (auto keys = TerminalKeys::open(executor_); !keys) {
        // The video plays on without them.
        std::fprintf(stderr, "lumaflick: the keys do not work here: %s\n", keys.error().text().c_str());
    } else if (*keys) {
        keys_ = std::move(*keys);
    }
#ifndef _WIN32
    std::error_code ignored;
    child_signals_.add(SIGCHLD, ignored);
#endif
    timer_.expires_at(TimePoint::max());

    spawn([this] { return read_lfs(); });
    if (keys_) spawn([this] { return read_keys(); });
    spawn([this] { return read_frames(); });
    spawn([this] { return watch_children(); });
    spawn([this] { return keep_time(); });
    spawn([this] { return write(); });

    const TimePoint started = now();
    player_.begin(started);
    pump(started);
    while (!player_.over()) {
        co_await done_wake_.wait();
        const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
        if (state.cancelled() != asio::cancellation_type::none) player_.interrupted(now());
    }
    print(player_.take_lines());
    status_.clear();
    stop_sources();
    while (alive_ > 0) co_await done_wake_.wait();
    connection_.close();
    co_return player_.outcome();
}

// An exception of a reader ends the playback as an error, never escaping it.
template <typename Loop>
void Playback::spawn(Loop loop)
{
    ++alive_;
    asio::co_spawn(executor_, loop(), [this](const std::exception_ptr& failure) {
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                player_.abort(Error::message(e.what()));
            } catch (...) {
                player_.abort(Error::message("unknown failure"));
            }
        }
        --alive_;
        done_wake_.notify();
    });
}

asio::awaitable<void> Playback::read_lfs()
{
    for (;;) {
        const auto read = co_await awaited<std::size_t>(
            [this](auto done) { connection_.async_read(lfs_buffer_, std::move(done)); });
        if (stopping_) co_return;
        const TimePoint at = now();
        if (!read) {
            player_.lfs_failed(read.error(), at);
        } else if (*read == 0) {
            player_.lfs_closed(at);
        } else {
            player_.heard(std::span<const std::uint8_t>(lfs_buffer_).first(*read), at);
        }
        pump(at);
        if (!read || *read == 0) co_return;
    }
}

asio::awaitable<void> Playback::read_keys()
{
    for (;;) {
        const auto keys = co_await awaited<std::span<const Key>>([this](auto done) { keys_->async_read(std::move(done)); });
        // A terminal that hung up has no more keys.
        if (stopping_ || !keys) co_return;
        const TimePoint at = now();
        player_.pressed(*keys, at);
        pump(at);
    }
}

// Frames are read only while the player wants them: until LFS has taken a
// frame's rows, the decoder waits on its full pipe.
asio::awaitable<void> Playback::read_frames()
{
    for (;;) {
        if (stopping_) co_return;
        if (!decoder_output_ || !player_.wants_frame()) {
            co_await frames_wake_.wait();
            continue;
        }
        const std::uint64_t run = run_;
        const auto read = co_await decoder_output_->read(player_.frame_buffer());
        if (stopping_) co_return;
        if (run != run_) continue;
        const TimePoint at = now();
        const bool ended = !read || *read == 0;
        player_.decoder_read(read, at);
        if (ended) decoder_output_.reset();
        pump(at);
    }
}

asio::awaitable<void> Playback::watch_children()
{
    for (;;) {
        std::error_code ec;
#ifdef _WIN32
        child_poll_.expires_after(100ms);
        co_await child_poll_.async_wait(asio::redirect_error(asio::use_awaitable, ec));
#else
        co_await child_signals_.async_wait(asio::redirect_error(asio::use_awaitable, ec));
#endif
        if (stopping_) co_return;
        if (ec) continue;
        tell_exits(now());
    }
}

void Playback::tell_exits(TimePoint at)
{
    const std::array<std::pair<Child, std::optional<Running>*>, 2> children{
        {{Child::decoder, &decoder_}, {Child::sound, &sound_}}};
    bool told = false;
    for (const auto& [which, running] : children) {
        if (!*running || (*running)->told) continue;
        const auto exit = (*running)->process.poll_exit();
        if (!exit || !*exit) continue;
        (*running)->told = told = true;
        const std::string last_words = which == Child::sound ? (*running)->process.last_error_line() : std::string();
        player_.exited(which, **exit, at, last_words);
    }
    if (told) pump(at);
}

asio::awaitable<void> Playback::keep_time()
{
    for (;;) {
        std::error_code ec;
        co_await timer_.async_wait(asio::redirect_error(asio::use_awaitable, ec));
        if (stopping_) co_return;
        // Set earlier meanwhile: wait for that.
        if (ec) continue;
        armed_ = TimePoint::max();
        const TimePoint at = now();
        player_.tick(at, player_.watches_sends() ? connection_.send_state() : std::nullopt);
        pump(at);
    }
}

asio::awaitable<void> Playback::write()
{
    for (;;) {
        co_await writer_wake_.wait();
        if (stopping_) co_return;
        if (!write_waits_) continue;
        const Status writable = co_await connection_.wait_writable();
        if (stopping_) co_return;
        write_waits_ = false;
        const TimePoint at = now();
        if (!writable) {
            unsent_ = {};
            player_.write_failed(writable.error(), at);
        }
        pump(at);
    }
}

// Bytes go out in the player's order, as far as the socket takes them now; a
// full socket leaves the rest to write().
void Playback::flush(TimePoint at)
{
    while (!stopping_ && !write_waits_) {
        if (unsent_.empty()) {
            unsent_ = player_.take(at);
            if (unsent_.empty()) return;
        }
        const Result<std::size_t> taken = connection_.write_now(unsent_);
        at = now();
        if (!taken) {
            unsent_ = {};
            player_.write_failed(taken.error(), at);
            continue;
        }
        unsent_ = unsent_.subspan(*taken);
        if (!unsent_.empty()) {
            write_waits_ = true;
            writer_wake_.notify();
            return;
        }
        player_.written(at);
    }
}

// The status line goes before any other line, so the console's lines stay
// as they would be without it.
void Playback::print(const std::vector<ConsoleLine>& lines)
{
    if (lines.empty()) return;
    status_.clear();
    for (const ConsoleLine& line : lines) print_line(line);
    status_stale_ = true;
}

void Playback::show_status(TimePoint at)
{
    if (!status_.active() || player_.over()) return;
    status_stale_ = true;
    if (!status_pace_.take(at)) return;
    status_stale_ = false;
    // The rate over the last second or so, from the bytes written.
    if (at - rate_since_ >= 1s) {
        const auto elapsed = std::chrono::duration<double>(at - rate_since_).count();
        if (rate_since_ != TimePoint{}) {
            bytes_per_second_ = static_cast<std::uint64_t>(static_cast<double>(player_.bytes_written() - rate_bytes_) / elapsed);
        }
        rate_since_ = at;
        rate_bytes_ = player_.bytes_written();
    }
    StatusFacts facts = player_.status();
    facts.bytes_per_second = bytes_per_second_;
    status_.show(format_status(facts, status_.width()));
}

void Playback::pump(TimePoint at)
{
    flush(at);
    print(player_.take_lines());
    switch (player_.take_ending()) {
        case Ending::shut_down:
            if (connection_.shutdown_send()) {
                player_.tick(at, connection_.send_state());
            } else {
                player_.lfs_closed(at);
            }
            break;
        case Ending::abandon: connection_.cancel(); break;
        case Ending::none: break;
    }
    if (player_.over()) {
        done_wake_.notify();
        return;
    }
    if (player_.wants_frame()) frames_wake_.notify();
    show_status(at);
    arm(at);
}

// The timer is only ever moved earlier here; when it fires before a later
// deadline, the tick does nothing and it is set again.
void Playback::arm(TimePoint at)
{
    TimePoint deadline = player_.deadline(at);
    // A change the pace held back is shown when it next allows.
    if (status_stale_ && status_pace_.next()) deadline = std::min(deadline, *status_pace_.next());
    if (deadline >= armed_) return;
    armed_ = deadline;
    timer_.expires_at(deadline);
}

void Playback::stop_sources()
{
    stopping_ = true;
    std::error_code ignored;
    connection_.cancel();
    if (keys_) keys_->cancel();
    decoder_output_.reset();
    timer_.cancel();
#ifdef _WIN32
    child_poll_.cancel();
#else
    child_signals_.cancel(ignored);
#endif
    writer_wake_.notify();
    frames_wake_.notify();
}

Status Playback::start(Child which, std::string_view program, std::span<const std::string> arguments)
{
    const std::vector<std::string> words(arguments.begin(), arguments.end());
    if (which == Child::sound) {
        // What ffplay last said tells why, should it end by itself.
        auto sound = start_sound(std::string(program), words, true);
        if (!sound) return std::move(sound).error();
        sound_.emplace(Running{std::move(*sound)});
        return ok();
    }
    auto decoder = start_decoder(std::string(program), words);
    if (!decoder) return std::move(decoder).error();
    decoder_.emplace(Running{std::move(decoder->child)});
    auto output = PipeStream::open(executor_, std::move(decoder->output));
    if (!output) return std::move(output).error();
    decoder_output_ = std::move(*output);
    ++run_;
    return ok();
}

// The child goes first, so that ffmpeg never finds its output gone and complains.
Status Playback::end(Child which)
{
    std::optional<Running>& running = which == Child::sound ? sound_ : decoder_;
    Status ended = ok();
    if (running) ended = running->process.terminate();
    running.reset();
    if (which == Child::decoder) {
        decoder_output_.reset();
        ++run_;
    }
    return ended;
}

}  // namespace

// GCC 12 for Windows inlines Asio's frame allocation into this coroutine and
// then takes its matching delete for a mismatched one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
asio::awaitable<Status> run_playback(Args args, std::chrono::milliseconds keepalive_interval)
{
    // A signal cancels the playback: the wait it interrupts returns, and the
    // playback ends in order, rather than by an exception through our code.
    co_await asio::this_coro::throw_if_cancelled(false);
    // The picture's shape is the video's, learnt before anything connects.
    if (args.keep_aspect) {
        auto fitted = co_await fit_to_video(args.geometry, args.ffmpeg_path, args.video_path);
        if (!fitted) co_return std::move(fitted).error();
        args.geometry = *fitted;
    }
    // The subtitles are read whole before anything connects; a file or track
    // that cannot be read ends the run here.
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

    Playback playback(co_await asio::this_coro::executor, args, std::move(*connection), local, keepalive_interval,
                      std::move(*cues));
    co_return co_await playback.run();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace lumaflick
