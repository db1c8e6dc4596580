#include "playback_fixture.hpp"

#include <unistd.h>

#include <cstdlib>
#include <regex>

namespace lumaflick::test {

std::string repeat(std::string_view lines, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) text += lines;
    return text;
}

std::chrono::milliseconds between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from);
}

Clock::time_point from_steady_ns(std::int64_t ns)
{
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

void PlaybackTest::SetUp() { ASSERT_TRUE(adopt_orphans()); }

void PlaybackTest::TearDown()
{
    lfs_.reset();
    kill_adopted();
}

FakeLfs& PlaybackTest::start_lfs(FakeLfsOptions options)
{
    auto started = FakeLfs::start(std::move(options));
    if (!started) {
        ADD_FAILURE() << "fake LFS: " << started.error().debug();
        // A listener nobody connects to keeps the test going to its failure.
        started = FakeLfs::start();
    }
    lfs_ = std::move(*started);
    return *lfs_;
}

void PlaybackTest::write_plan(std::string_view plan) const { dir_.write(plan_.filename().string(), plan); }

std::vector<std::string> PlaybackTest::arguments(const std::vector<std::string>& extra) const
{
    std::vector<std::string> words{"-a", lfs_ ? lfs_->endpoint() : "127.0.0.1:9", "-p", "secret",
                                   "-v", video_, "-f", SCRIPTED_DECODER};
    words.insert(words.end(), extra.begin(), extra.end());
    return words;
}

RunOutcome PlaybackTest::play(const std::vector<std::string>& words, const std::string& program)
{
    RunOptions options;
    options.env = {{"SCRIPTED_DECODER_LOG", log_.string()},
                   {"SCRIPTED_DECODER_PLAN", plan_.string()},
                   {"SCRIPTED_DECODER_LINGER_MS", "15000"}};
    auto outcome = run(program, words, options);
    if (!outcome) {
        ADD_FAILURE() << "cannot start " << program << ": " << outcome.error().debug();
        return {};
    }
    EXPECT_FALSE(outcome->timed_out) << "killed after the time-out; stdout:\n"
                                     << outcome->out << "stderr:\n"
                                     << outcome->err;
    return std::move(*outcome);
}

std::optional<ScriptedRun> PlaybackTest::scripted(std::string_view role) const
{
    for (auto& run : read_scripted_log(log_)) {
        if (run.role == role) return run;
    }
    return std::nullopt;
}

std::optional<Statistics> parse_statistics(const std::string& line)
{
    std::smatch parts;
    if (!std::regex_match(line, parts, std::regex(R"(Read bytes: (\d+)kB, Skipped (\d+) frames \((\d+)%\))")))
        return std::nullopt;
    const auto number = [&](std::size_t i) { return std::stoull(parts[i].str()); };
    Statistics numbers{number(1) * 1024 / 2400, number(2)};
    while (numbers.shown * 2400 >> 10 < number(1)) ++numbers.shown;
    const std::uint64_t total = numbers.shown + numbers.skipped;
    if (numbers.shown * 2400 >> 10 != number(1) || number(3) != (total == 0 ? 0 : numbers.skipped * 100 / total))
        return std::nullopt;
    return numbers;
}


std::optional<std::string> find_on_path(std::string_view name)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::nullopt;
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    }
    return std::nullopt;
}

}  // namespace lumaflick::test
