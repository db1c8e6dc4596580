// The player's rules, fed events with the time they happened: a fake clock,
// children that are only recorded, and a writer that LFS may stall. Each row
// is a playback of a few simulated seconds that runs in microseconds.
#include "driver/player.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "subtitles/cues.hpp"
#include "wire.hpp"

namespace lumaflick {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Packet;
using TimePoint = std::chrono::steady_clock::time_point;

const TimePoint T0{std::chrono::hours(1)};
constexpr auto KEEPALIVE = 1000ms;

struct FakeClock final : Clock {
    TimePoint at = T0;
    TimePoint now() noexcept override { return at; }
};

// Records what would run: "ffmpeg -ss 10 ...", "end ffmpeg".
struct FakeChildren final : Children {
    std::vector<std::string> log;
    std::optional<Error> failure;  // of the next start
    Status start(Child which, std::string_view, std::span<const std::string> arguments) override
    {
        std::string line = which == Child::decoder ? "ffmpeg" : "ffplay";
        for (const std::string& word : arguments) line += " " + word;
        log.push_back(line);
        if (failure) return *std::exchange(failure, std::nullopt);
        return ok();
    }
    Status end(Child which) override
    {
        log.push_back(which == Child::decoder ? "end ffmpeg" : "end ffplay");
        return ok();
    }
    Status check(std::string_view) override { return ok(); }
};

// One playback on a connection that is open at T0.
class Playback {
public:
    explicit Playback(std::vector<std::string> extra = {}, bool local = true, Cues cues = {})
        : player_(args(std::move(extra)), local, children_, clock_, T0, KEEPALIVE, std::move(cues))
    {
        player_.begin(T0);
        at(0ms);
    }

    // The time moves on to `t` after T0, the player woken at each of its deadlines.
    void at(std::chrono::milliseconds t)
    {
        for (int guard = 0; guard < 100'000 && player_.deadline(clock_.at) <= T0 + t; ++guard) {
            clock_.at = std::max(clock_.at, player_.deadline(clock_.at));
            player_.tick(clock_.at, sends);
            drain();
        }
        clock_.at = std::max(clock_.at, T0 + t);
        drain();
    }
    // A frame of one grey `value`, read whole a frame's time (-r 10) after
    // the read began, as the decoder releases it.
    void frame(std::uint8_t value, std::size_t size = 2400)
    {
        ASSERT_TRUE(player_.wants_frame());
        const std::span<std::byte> buffer = player_.frame_buffer();
        std::fill_n(buffer.begin(), size, std::byte{value});
        at(std::chrono::duration_cast<std::chrono::milliseconds>(clock_.at - T0) + 100ms);
        player_.decoder_read(size, clock_.at);
        drain();
    }
    void output_ends()
    {
        player_.frame_buffer();
        player_.decoder_read(std::size_t{0}, clock_.at);
        drain();
    }
    void lfs(const Bytes& bytes)
    {
        player_.heard(bytes, clock_.at);
        drain();
    }
    void command(std::string_view text) { lfs(test::mso_packet(text)); }
    void key(Key key)
    {
        const Key keys[] = {key};
        player_.pressed(keys, clock_.at);
        drain();
    }
    void exited(const ExitStatus& status)
    {
        player_.exited(Child::decoder, status, clock_.at);
        drain();
    }
    // LFS stops taking our bytes: what is taken stays in flight.
    void stall() { stalled_ = true; }
    void resume()
    {
        stalled_ = false;
        drain();
    }

    [[nodiscard]] std::vector<Packet> packets(std::uint8_t type = 0) const
    {
        const auto all = test::split_packets(chunks_).packets;
        return type == 0 ? all : test::of_type(all, type);
    }
    [[nodiscard]] std::vector<std::string> replies() const
    {
        std::vector<std::string> texts;
        for (const Packet& p : packets(insim::ISP_MSL)) texts.emplace_back(reinterpret_cast<const char*>(&p.bytes[4]));
        return texts;
    }
    [[nodiscard]] std::vector<std::string> lines() const
    {
        std::vector<std::string> texts;
        for (const ConsoleLine& line : lines_) texts.push_back(line.text);
        return texts;
    }
    [[nodiscard]] std::size_t since(std::chrono::milliseconds t, std::uint8_t type) const
    {
        std::size_t n = 0;
        for (const Packet& p : packets(type)) n += p.at >= T0 + t ? 1 : 0;
        return n;
    }

    Player& player() { return player_; }
    FakeChildren& children() { return children_; }
    std::optional<insim::SendState> sends;
    std::vector<Ending> endings;

private:
    static Args args(std::vector<std::string> extra)
    {
        std::vector<std::string> words{"lumaflick", "-a", "127.0.0.1:29999", "-p", "secret", "-v", "v.mp4", "-r", "10"};
        words.insert(words.end(), extra.begin(), extra.end());
        return std::get<Args>(parse_args(words));
    }
    void wrote()
    {
        chunks_.push_back({clock_.at, {}});
        for (const std::byte b : in_flight_) chunks_.back().bytes.push_back(std::to_integer<std::uint8_t>(b));
        player_.written(clock_.at);
    }
    // What the writer would do: write while LFS takes, else keep a batch out.
    void drain()
    {
        for (int guard = 0; guard < 1000 && !player_.over(); ++guard) {
            if (player_.writing()) {
                if (stalled_) break;
                wrote();
                continue;
            }
            const auto bytes = player_.take(clock_.at);
            if (bytes.empty()) break;
            in_flight_.assign(bytes.begin(), bytes.end());
        }
        for (ConsoleLine& line : player_.take_lines()) lines_.push_back(std::move(line));
        if (const Ending ending = player_.take_ending(); ending != Ending::none) endings.push_back(ending);
    }

    FakeClock clock_;
    FakeChildren children_;
    Player player_;
    bool stalled_ = false;
    std::vector<std::byte> in_flight_;
    std::vector<test::Chunk> chunks_;
    std::vector<ConsoleLine> lines_;
};

using Script = std::function<void(Playback&)>;

// A still picture, a pause, a silent decoder and the start delay send
// nothing, so a keep-alive goes a second after the last write; a moving
// picture needs none.
TEST(Player, KeepAliveWhenNothingElseWentForItsInterval)
{
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        Script script;
        std::size_t keepalives;  // from 1 s to 3.5 s
    };
    const auto frames = [](Playback& run, bool moving) {
        for (int i = 0; i < 35; ++i) run.frame(moving && i % 2 == 1 ? 255 : 0);
    };
    const std::vector<Case> cases{
        {"still picture", {}, [&](Playback& run) { frames(run, false); }, 3},
        {"moving picture", {}, [&](Playback& run) { frames(run, true); }, 0},
        {"silent decoder", {}, [](Playback& run) { run.at(3500ms); }, 3},
        {"pause", {}, [](Playback& run) { run.at(200ms); run.frame(0); run.command("pause"); run.at(3500ms); }, 3},
        {"start delay", {"--delay", "3500"}, [](Playback& run) { run.at(3499ms); }, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Playback run(c.extra);
        c.script(run);
        EXPECT_EQ(run.since(1000ms, insim::ISP_TINY), c.keepalives);
        for (const Packet& p : run.packets(insim::ISP_TINY)) EXPECT_EQ(p.bytes, (Bytes{1, 3, 0, 0}));
    }
    // The delay holds the decoder back, with its line before the wait.
    Playback delayed({"--delay", "2500"});
    delayed.at(2499ms);
    EXPECT_TRUE(delayed.children().log.empty());
    EXPECT_EQ(delayed.lines(), std::vector<std::string>{"Prepare yourself, we're startin' in!"});
    delayed.at(2500ms);
    EXPECT_EQ(delayed.children().log.size(), 1U);
    EXPECT_EQ(delayed.lines().back(), "Runnin'");
}

// Pause, play, seek and stop, from LFS and from the keys: the children are
// ended and started again where the picture is, and each command answered.
TEST(Player, CommandsStartTheChildrenAgainFromThePicturesPlace)
{
    const std::string decoder = "ffmpeg -re -ss ";
    struct Case {
        const char* name;
        Script script;
        std::vector<std::string> children;  // after the first run's start
        std::vector<std::string> replies;
    };
    const auto shown = [](Playback& run, int frames) {
        for (int i = 0; i < frames; ++i) run.frame(static_cast<std::uint8_t>(i % 2 * 255));
    };
    const std::vector<Case> cases{
        {"pause and play",
         [&](Playback& run) { shown(run, 12); run.command("pause"); run.at(2000ms); run.command("/o play"); },
         {"end ffmpeg", "ffmpeg -re -ss 1.200000 -i v.mp4 -vf scale=80:30,fps=10,format=gray -f rawvideo -"},
         {"lumaflick: paused at 0:01.2", "lumaflick: playing from 0:01.2"}},
        {"seek by a key",
         [&](Playback& run) { shown(run, 5); run.key(Key::forward_10); },
         {"end ffmpeg", "ffmpeg -re -ss 10.500000 -i v.mp4 -vf scale=80:30,fps=10,format=gray -f rawvideo -"},
         {"lumaflick: to 0:10.5"}},
        {"seek while paused starts nothing",
         [&](Playback& run) { shown(run, 5); run.key(Key::play_pause); run.command("seek 1:00"); },
         {"end ffmpeg"},
         {"lumaflick: paused at 0:00.5", "lumaflick: paused at 1:00.0"}},
        {"stop", [&](Playback& run) { shown(run, 3); run.key(Key::stop); }, {"end ffmpeg"}, {"lumaflick: stopping"}},
        {"help and a hint change nothing",
         [&](Playback& run) { run.command("help"); run.command("seek soon"); },
         {},
         {std::string(COMMANDS_HELP)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Playback run;
        run.at(0ms);
        ASSERT_EQ(run.children().log.size(), 1U);
        EXPECT_EQ(run.children().log[0], "ffmpeg -re -i v.mp4 -vf scale=80:30,fps=10,format=gray -f rawvideo -");
        c.script(run);
        const auto& log = run.children().log;
        EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), c.children);
        auto replies = run.replies();
        if (c.replies.size() < replies.size()) replies.resize(c.replies.size());
        EXPECT_EQ(replies, c.replies);
    }
}

// ffplay follows the decoder a moment later, from the same place, trimmed
// there exactly after a seek; both end together.
TEST(Player, SoundFollowsEachRunOfTheDecoder)
{
    Playback run({"--ffplay", "ffplay", "-s", "1", "-t", "0:30"});
    run.at(200ms);
    for (int i = 0; i < 5; ++i) run.frame(static_cast<std::uint8_t>(i * 50));
    run.command("seek +10");
    run.at(1000ms);
    const std::vector<std::string> expected{
        "ffmpeg -re -ss 1 -i v.mp4 -t 0:30 -vf scale=80:30,fps=10,format=gray -f rawvideo -",
        "ffplay -ss 1 -i v.mp4 -t 0:30 -vn -showmode 0",
        "end ffplay",
        "end ffmpeg",
        "ffmpeg -re -ss 11.500000 -i v.mp4 -t 19.500000 -vf scale=80:30,fps=10,format=gray -f rawvideo -",
        "ffplay -ss 11.500000 -i v.mp4 -t 19.500000 -vn -showmode 0 -af atrim=start=11.500000",
    };
    EXPECT_EQ(run.children().log, expected);
}

// ffplay ending by itself while the picture plays is said on the console and
// on LFS, with its last words; --quiet asks both children for errors only.
TEST(Player, SoundThatFailsIsSaid)
{
    Playback run({"--ffplay", "ffplay", "--quiet"});
    run.at(200ms);
    ASSERT_EQ(run.children().log.size(), 2U);
    for (const std::string& started : run.children().log) {
        EXPECT_NE(started.find(" -hide_banner -loglevel error -nostats "), std::string::npos) << started;
    }
    run.player().exited(Child::sound, ExitStatus{1, std::nullopt}, T0 + 200ms, "No audio device");
    run.at(300ms);
    const std::string said = "lumaflick: no sound: ffplay ended (exit status 1): No audio device";
    EXPECT_EQ(run.lines().back(), said);
    EXPECT_EQ(run.replies(), std::vector<std::string>{said});
    EXPECT_EQ(run.player().status().answer, "");
    run.key(Key::play_pause);
    EXPECT_EQ(run.children().log.back(), "end ffmpeg") << "ffplay has ended already";
    EXPECT_EQ(run.player().status().answer, "lumaflick: paused at 0:00.0");
}

// The end: the statistics to LFS, half a second later on the console, the
// children ended and our end shut; LFS is heard out for the close's grace.
TEST(Player, EndsWithStatisticsThenTheLineThenTheClose)
{
    Playback run;
    run.at(0ms);
    run.frame(0);
    run.frame(255);
    run.output_ends();
    ASSERT_EQ(run.packets().back().type(), insim::ISP_MST);
    EXPECT_EQ(run.lines(), (std::vector<std::string>{"Runnin'"}));
    run.at(699ms);
    EXPECT_TRUE(run.endings.empty());
    run.at(700ms);
    EXPECT_EQ(run.lines().back(), "Read bytes: 4kB, Skipped 0 frames (0%)");
    EXPECT_EQ(run.children().log.back(), "end ffmpeg");
    EXPECT_EQ(run.endings, std::vector<Ending>{Ending::shut_down});
    // LFS has had its grace since our bytes last moved, and it is silent.
    run.sends = insim::SendState{0, 65536};
    run.at(2199ms);
    EXPECT_FALSE(run.player().over());
    run.at(2200ms);
    EXPECT_TRUE(run.player().over());
    EXPECT_TRUE(run.player().outcome());
}

// A cue shows with the first frame at or after its start and goes with the
// first at or after its end, on the picture's clock, before the frame's rows;
// under a budget the words go first. Paused, it stays; a seek shows the new place's.
TEST(Player, SubtitlesFollowThePicturesClock)
{
    const Cues cues{{500ms, 1200ms, "one"}, {3000ms, 4000ms, "three"}};
    for (const bool budget : {false, true}) {
        SCOPED_TRACE(budget ? "under a budget" : "without a budget");
        Playback run(budget ? std::vector<std::string>{"--bandwidth", "2520"} : std::vector<std::string>{}, true, cues);
        const auto lines = [&](std::chrono::milliseconds from) {
            std::vector<std::string> texts;
            for (const Packet& p : run.packets(insim::ISP_BTN)) {
                if (p.at >= T0 + from && test::button(p).click_id > 30) texts.push_back(test::button(p).text);
            }
            return texts;
        };
        for (int i = 0; i < 5; ++i) run.frame(static_cast<std::uint8_t>(i % 2 * 255));
        EXPECT_TRUE(lines(0ms).empty()) << "nothing before the first cue";
        run.frame(255);  // the sixth frame, at 0.5 s: the first at the cue's start
        run.at(1000ms);
        EXPECT_EQ(lines(0ms), std::vector<std::string>{"one"});
        // In the write that carries the words, no row goes before them.
        const auto buttons = run.packets(insim::ISP_BTN);
        const auto words = std::find_if(buttons.begin(), buttons.end(), [](const Packet& p) { return test::button(p).text == "one"; });
        ASSERT_NE(words, buttons.end());
        for (auto p = buttons.begin(); p != words; ++p) {
            if (p->at == words->at) {
                EXPECT_GT(test::button(*p).click_id, 30) << "a row went before the words";
            }
        }
        run.key(Key::play_pause);
        run.at(5000ms);
        EXPECT_EQ(lines(1001ms), std::vector<std::string>{}) << "paused, it stays";
        run.command("play");
        run.command("seek 3");
        run.frame(0);
        run.at(6000ms);
        EXPECT_EQ(lines(5000ms), std::vector<std::string>{"three"}) << "the new place's words replace the old";
    }
}

// However LFS goes, the run ends as it must: an error while it plays, the
// end as planned once the statistics are on their way.
TEST(Player, LfsClosingInEveryPhase)
{
    struct Case {
        const char* name;
        std::vector<std::string> extra;
        Script before;
        bool error;
        std::size_t lines;
    };
    const auto to_the_end = [](Playback& run) { run.at(0ms); run.frame(0); run.output_ends(); };
    const std::vector<Case> cases{
        {"during the delay", {"--delay", "5000"}, [](Playback& run) { run.at(100ms); }, true, 1},
        {"while playing", {}, [](Playback& run) { run.at(0ms); run.frame(0); }, true, 1},
        {"while paused", {}, [](Playback& run) { run.at(0ms); run.key(Key::play_pause); }, true, 1},
        {"while the decoder's exit is awaited", {}, [](Playback& run) { run.at(0ms); run.output_ends(); }, true, 1},
        {"in the final pause", {}, to_the_end, false, 2},
        {"while closing", {}, [&](Playback& run) { to_the_end(run); run.at(600ms); }, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Playback run(c.extra);
        c.before(run);
        run.player().lfs_closed(T0 + 700ms);
        run.at(800ms);
        EXPECT_TRUE(run.player().over());
        EXPECT_EQ(!run.player().outcome(), c.error);
        if (c.error) {
            EXPECT_EQ(run.player().outcome().error().text(),
                      "LFS closed the InSim connection before answering: is the admin password right?");
        }
        EXPECT_EQ(run.lines().size(), c.lines);
        // Closed by LFS, our end is not shut and heard out.
        EXPECT_TRUE(run.endings.empty() || c.name == std::string("while closing"));
    }
}

// A decoder whose output ends before its first frame: its exit status tells
// a video it could not play from an empty one or one killed from outside.
TEST(Player, DecoderWithoutFramesIsJudgedByItsExit)
{
    struct Case {
        const char* name;
        std::optional<ExitStatus> exit;
        bool before_the_end;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases{
        {"failed", ExitStatus{1, std::nullopt}, false, "ffmpeg could not play the video (exit status 1)"},
        {"failed before its output ended", ExitStatus{1, std::nullopt}, true,
         "ffmpeg could not play the video (exit status 1)"},
        {"empty video", ExitStatus{0, std::nullopt}, false, std::nullopt},
        {"killed from outside", ExitStatus{std::nullopt, 9}, false, std::nullopt},
        {"still running after 2 s", std::nullopt, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Playback run;
        run.at(0ms);
        if (c.exit && c.before_the_end) run.exited(*c.exit);
        run.output_ends();
        EXPECT_EQ(run.player().watches_exits(), !(c.exit && c.before_the_end));
        if (c.exit && !c.before_the_end) run.exited(*c.exit);
        run.at(1999ms);
        EXPECT_EQ(run.player().over(), c.error.has_value());
        if (c.error) {
            EXPECT_EQ(run.player().outcome().error().text(), *c.error);
            EXPECT_EQ(run.packets(insim::ISP_MST).size(), 0U) << "statistics for a video that did not play";
            EXPECT_EQ(run.children().log.back(), "end ffmpeg");
            continue;
        }
        run.at(2000ms);
        EXPECT_EQ(run.packets().back().type(), insim::ISP_MST);
    }
}

// A stalled LFS holds the decoder back (no frame is read while a frame's
// rows are not taken) but deafens nothing: q is heard, and the run ends
// within the close's grace, the bytes LFS did not take given up on.
TEST(Player, StalledLfsHoldsFramesBackButNotTheKeys)
{
    Playback run;
    run.sends = insim::SendState{1000, 0};
    run.at(0ms);
    run.frame(0);
    run.stall();
    run.frame(255);
    EXPECT_FALSE(run.player().wants_frame());
    EXPECT_EQ(run.packets(insim::ISP_TINY).size(), 0U) << "a keep-alive behind a write that waits";
    run.at(5000ms);
    run.key(Key::stop);
    EXPECT_EQ(run.children().log.back(), "end ffmpeg");
    run.at(6900ms);
    EXPECT_FALSE(run.player().over());
    run.at(7100ms);
    EXPECT_TRUE(run.player().over());
    EXPECT_TRUE(run.player().outcome());
    EXPECT_EQ(run.endings, std::vector<Ending>{Ending::abandon});
    EXPECT_EQ(run.lines().back(), "Read bytes: 4kB, Skipped 0 frames (0%)");

    // One that takes again in time gets everything.
    Playback slow;
    slow.sends = insim::SendState{1000, 0};
    slow.at(0ms);
    slow.stall();
    slow.frame(0);
    slow.key(Key::stop);
    slow.at(1500ms);
    slow.resume();
    EXPECT_EQ(slow.packets().back().type(), insim::ISP_MST);
    EXPECT_EQ(slow.replies(), std::vector<std::string>{"lumaflick: stopping"});

    // A frame read behind an answer LFS has not taken goes out with the
    // statistics, in one write, its rows first.
    Playback behind;
    behind.at(0ms);
    behind.stall();
    behind.command("help");
    behind.frame(255);
    behind.output_ends();
    behind.resume();
    const auto last = behind.packets();
    ASSERT_GE(last.size(), 31U);
    EXPECT_EQ(last.back().type(), insim::ISP_MST);
    const auto rows = test::of_type(last, insim::ISP_BTN);
    ASSERT_EQ(rows.size(), 30U);
    EXPECT_EQ(rows.front().at, last.back().at);
}

// A flood of commands answers the first ones and always the last: the last
// answer LFS shows says what the playback does.
TEST(Player, LastAnswerOfAFloodIsTrue)
{
    Playback run;
    run.at(0ms);
    Bytes flood;
    for (int i = 0; i < 10'000; ++i) {
        const Bytes command = test::mso_packet(i % 2 == 0 ? "pause" : "play");
        flood.insert(flood.end(), command.begin(), command.end());
    }
    flood = test::join({flood, test::mso_packet("pause")});
    run.lfs(flood);
    const auto replies = run.replies();
    ASSERT_EQ(replies.size(), 16U);
    EXPECT_EQ(replies.back(), "lumaflick: paused at 0:00.0");
}

// Guests: one that joins is sent the whole picture at once, by its UCID; one
// that cleared gets nothing, the others get each frame by theirs; asking
// again brings the picture back.
TEST(Player, GuestsJoiningClearingAndAskingAgain)
{
    Playback run({"--guests"}, false);
    run.at(0ms);
    run.frame(0);
    const auto to = [&](std::uint8_t ucid, std::chrono::milliseconds from) {
        std::size_t n = 0;
        for (const Packet& p : run.packets(insim::ISP_BTN)) n += p.bytes[3] == ucid && p.at >= T0 + from ? 1 : 0;
        return n;
    };
    run.at(100ms);
    run.lfs(test::ncn_packet(3, "guest", "Guest", 2));
    EXPECT_EQ(to(3, 100ms), 30U);
    run.at(200ms);
    run.lfs(test::join({test::bfn_packet(insim::BFN_USER_CLEAR, 3), test::ncn_packet(0, "host", "Host", 2, true, 0, 2),
                        test::ncn_packet(3, "guest", "Guest", 2, false, 4, 2)}));
    EXPECT_EQ(run.since(200ms, insim::ISP_TINY), 1U) << "the list of connections is asked for";
    run.frame(255);
    EXPECT_EQ(to(0, 200ms), 30U);
    EXPECT_EQ(to(3, 200ms) + to(insim::UCID_ALL, 200ms), 0U);
    run.at(300ms);
    run.lfs(test::bfn_packet(insim::BFN_REQUEST, 3));
    EXPECT_EQ(to(3, 300ms), 30U);
}

// Under a budget, rows go as it allows, with frames or at the pacing
// interval without them, and a still picture becomes exact.
TEST(Player, BudgetPacesRowsAndAStillPictureBecomesExact)
{
    constexpr std::size_t BUDGET = 2520;
    Playback run({"--bandwidth", std::to_string(BUDGET)});
    run.at(0ms);
    for (int i = 0; i < 20; ++i) run.frame(static_cast<std::uint8_t>(i % 2 * 255));
    run.at(20'000ms);
    const auto buttons = run.packets(insim::ISP_BTN);
    std::size_t in_window = 0;
    for (std::size_t first = 0, last = 0; last < buttons.size(); ++last) {
        in_window += buttons[last].bytes.size();
        while (buttons[first].at <= buttons[last].at - 1s) in_window -= buttons[first++].bytes.size();
        ASSERT_LE(in_window, BUDGET + sizeof(insim::IS_BTN)) << "button " << last;
    }
    std::map<std::uint8_t, std::string> shown;
    for (const Packet& p : buttons) shown[test::button(p).click_id] = test::button(p).text;
    ASSERT_EQ(shown.size(), 30U);
    for (const auto& [id, text] : shown) EXPECT_EQ(text, test::row_of("^7_")) << int{id};
}

}  // namespace
}  // namespace lumaflick
