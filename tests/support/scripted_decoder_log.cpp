#include "scripted_decoder_log.hpp"

#include <fstream>
#include <thread>

namespace lumaflick::test {

namespace {

std::string unescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

// Splits off the first space-separated word of `rest`.
std::string_view take_word(std::string_view& rest)
{
    const auto space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    return word;
}

}  // namespace

std::vector<ScriptedRun> read_scripted_log(const std::filesystem::path& path)
{
    std::vector<ScriptedRun> runs;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::string_view rest = line;
        const std::string role(take_word(rest));
        const long pid = std::stol(std::string(take_word(rest)));
        const std::string_view key = take_word(rest);

        ScriptedRun* run = nullptr;
        for (auto& candidate : runs) {
            if (candidate.pid == pid && candidate.role == role) run = &candidate;
        }
        if (run == nullptr) {
            run = &runs.emplace_back();
            run->role = role;
            run->pid = pid;
        }
        if (key == "start") {
            run->argc = std::stoul(std::string(rest));
        } else if (key == "arg") {
            run->args.push_back(unescape(rest));
        } else if (key == "ready") {
            run->ready = true;
        } else if (key == "frame") {
            ScriptedFrame frame;
            frame.bytes = std::stoul(std::string(take_word(rest)));
            frame.steady_ns = std::stoll(std::string(rest));
            run->frames.push_back(frame);
        } else if (key == "exit") {
            run->exit_code = std::stoi(std::string(rest));
        }
    }
    return runs;
}

std::optional<ScriptedRun> wait_for_ready(const std::filesystem::path& path, std::string_view role,
                                          std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (auto& run : read_scripted_log(path)) {
            if (run.role == role && run.ready) return std::move(run);
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace lumaflick::test
