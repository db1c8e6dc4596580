// scripted-decoder: stands in for ffmpeg and ffplay in tests. Portable C++ so
// that the same source runs natively and, built with mingw-w64, under wine.
//
// Role. With "-vn" among its arguments it is the sound player: it logs its
// start and arguments, then stays alive until killed, but never longer than
// SCRIPTED_DECODER_LINGER_MS milliseconds (default 30000), so that no stray
// process outlives a test run. Otherwise it is the decoder: it runs the plan.
//
// Environment:
//   SCRIPTED_DECODER_PLAN       path of the plan file (decoder role only)
//   SCRIPTED_DECODER_LOG        path of the log file, appended to; no log if unset
//   SCRIPTED_DECODER_LINGER_MS  how long the sound role stays alive at most
//
// Plan: one command a line; blank lines and lines starting with '#' are
// ignored. The whole plan is checked before anything runs; a malformed plan
// is reported on standard error and ends the program with status 2.
//   frame <bytes> <value>            one frame of <bytes> bytes, each <value> (0-255)
//   frames <count> <bytes> <value>   <count> such frames back to back
//   gradient                         one 2400-byte frame (80x30): column x holds x*255/79
//   sleep <ms>                       pause
//   hang <ms>                        the same as sleep; reads better after "close"
//   close                            close standard output; the process lives on
//   exit <code>                      end now with that status
//   say <text>                       <text> and a line feed on standard output
//   complain [<count>] <text>        <text> and a line feed on standard error, <count> times (1)
//   say-bytes <count>                <count> bytes of "x" on standard output
// Each frame is one write call on standard output (retried only for the rest
// of a partial write). After the last command the program ends with status 0.
// Without a plan (variable unset or file unreadable) it writes nothing and ends
// with status 1, as ffmpeg does when it cannot open its input. If standard
// output fails (the reader went away) it logs "write-failed" and ends with 1.
//
// Log: one record a line, fields separated by single spaces, every line
// starting with the role ("decoder" or "sound") and the process id:
//   <role> <pid> start <argc>        argc counts the arguments after the program
//   <role> <pid> arg <text>          one line per argument, in order; in <text>
//                                    '\' is written "\\", newline "\n", CR "\r"
//   <role> <pid> ready               all arguments logged (sound: now lingering)
//   decoder <pid> frame <bytes> <ns> <ns>: std::chrono::steady_clock nanoseconds
//                                    since its epoch, taken just before the write
//   decoder <pid> close
//   decoder <pid> write-failed
//   decoder <pid> noplan
//   <role> <pid> exit <code>         (sound: when the linger time ran out)
// The start, arg and ready lines go out in one write, so that two processes
// sharing a log do not interleave them.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t gradient_width = 80;
constexpr std::size_t gradient_height = 30;

long process_id()
{
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// Returns false when standard output is gone.
bool write_stdout(const unsigned char* data, std::size_t size)
{
    while (size > 0) {
#ifdef _WIN32
        const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        const int written = _write(1, data, static_cast<unsigned>(chunk));
#else
        const ssize_t written = ::write(1, data, size);
#endif
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

#ifdef _WIN32
// The C runtime's argv is in the ANSI code page and loses other letters; the
// wide command line, split as ffmpeg splits it, keeps them all (as UTF-8).
std::vector<std::string> wide_arguments()
{
    std::vector<std::string> words;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return words;
    for (int i = 0; i < count; ++i) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string word(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
        if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, word.data(), size, nullptr, nullptr);
        word.pop_back();
        words.push_back(word);
    }
    ::LocalFree(wide);
    return words;
}
#endif

void close_stdout()
{
#ifdef _WIN32
    _close(1);
#else
    ::close(1);
#endif
}

std::string escape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

class Log {
public:
    Log(const char* role) : prefix_(std::string(role) + ' ' + std::to_string(process_id()) + ' ')
    {
        if (const char* path = std::getenv("SCRIPTED_DECODER_LOG")) file_ = std::fopen(path, "ab");
    }
    ~Log()
    {
        if (file_ != nullptr) std::fclose(file_);
    }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    [[nodiscard]] std::string line(std::string_view record) const { return prefix_ + std::string(record) + '\n'; }

    // One fwrite and flush per call: an append-mode write each.
    void put(const std::string& lines)
    {
        if (file_ == nullptr) return;
        std::fwrite(lines.data(), 1, lines.size(), file_);
        std::fflush(file_);
    }
    void record(std::string_view text) { put(line(text)); }

private:
    std::string prefix_;
    std::FILE* file_ = nullptr;
};

struct Command {
    enum class Kind { frames, gradient, sleep, close, exit, say, complain } kind;
    unsigned long count = 1;
    unsigned long bytes = 0;
    unsigned long value = 0;  // fill byte, milliseconds or exit status
    std::string text;         // what to complain
};

bool parse_number(std::istringstream& in, unsigned long& out, unsigned long max)
{
    std::string word;
    if (!(in >> word) || word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoul(word.c_str(), &end, 10);
    return errno == 0 && out <= max;
}

bool parse_line(const std::string& text, std::vector<Command>& plan)
{
    std::istringstream in(text);
    std::string word;
    if (!(in >> word) || word[0] == '#') return true;
    constexpr unsigned long max_bytes = 1UL << 24;
    constexpr unsigned long max_ms = 600000;
    Command command{};
    bool good = true;
    if (word == "frame" || word == "frames") {
        command.kind = Command::Kind::frames;
        if (word == "frames") good = parse_number(in, command.count, 1000000);
        good = good && parse_number(in, command.bytes, max_bytes) && parse_number(in, command.value, 255);
    } else if (word == "gradient") {
        command.kind = Command::Kind::gradient;
    } else if (word == "sleep" || word == "hang") {
        command.kind = Command::Kind::sleep;
        good = parse_number(in, command.value, max_ms);
    } else if (word == "close") {
        command.kind = Command::Kind::close;
    } else if (word == "exit") {
        command.kind = Command::Kind::exit;
        good = parse_number(in, command.value, 255);
    } else if (word == "say" || word == "complain") {
        command.kind = word == "say" ? Command::Kind::say : Command::Kind::complain;
        std::getline(in >> std::ws, command.text);
        // A complaint may say first how many times it is made.
        const std::size_t digits = command.text.find_first_not_of("0123456789");
        if (word == "complain" && digits > 0 && digits != std::string::npos && command.text[digits] == ' ') {
            command.count = std::stoul(command.text.substr(0, digits));
            command.text.erase(0, digits + 1);
        }
        command.text += '\n';
    } else if (word == "say-bytes") {
        command.kind = Command::Kind::say;
        good = parse_number(in, command.value, 100'000'000);
        command.text.assign(command.value, 'x');
    } else {
        good = false;
    }
    std::string rest;
    if (!good || (in >> rest)) return false;
    plan.push_back(command);
    return true;
}

std::string arguments_block(const Log& log, int argc, char** argv)
{
    std::string block = log.line("start " + std::to_string(argc - 1));
    for (int i = 1; i < argc; ++i) block += log.line("arg " + escape(argv[i]));
    block += log.line("ready");
    return block;
}

int run_sound(Log& log)
{
    unsigned long linger_ms = 30000;
    if (const char* text = std::getenv("SCRIPTED_DECODER_LINGER_MS")) linger_ms = std::strtoul(text, nullptr, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(linger_ms));
    log.record("exit 0");
    return 0;
}

int run_decoder(Log& log)
{
    const char* plan_path = std::getenv("SCRIPTED_DECODER_PLAN");
    std::ifstream plan_file;
    if (plan_path != nullptr) plan_file.open(plan_path);
    if (!plan_file.is_open()) {
        log.record("noplan");
        log.record("exit 1");
        return 1;
    }
    std::vector<Command> plan;
    std::string text;
    for (int number = 1; std::getline(plan_file, text); ++number) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (!parse_line(text, plan)) {
            std::fprintf(stderr, "scripted-decoder: bad plan line %d: %s\n", number, text.c_str());
            log.record("exit 2");
            return 2;
        }
    }

    std::vector<unsigned char> buffer;
    auto write_frame = [&](std::size_t size) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        log.record("frame " + std::to_string(size) + ' ' +
                   std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        if (write_stdout(buffer.data(), size)) return true;
        log.record("write-failed");
        log.record("exit 1");
        return false;
    };
    for (const Command& command : plan) {
        switch (command.kind) {
        case Command::Kind::frames:
            buffer.assign(command.bytes, static_cast<unsigned char>(command.value));
            for (unsigned long i = 0; i < command.count; ++i) {
                if (!write_frame(command.bytes)) return 1;
            }
            break;
        case Command::Kind::gradient:
            buffer.resize(gradient_width * gradient_height);
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                buffer[i] = static_cast<unsigned char>(i % gradient_width * 255 / (gradient_width - 1));
            }
            if (!write_frame(buffer.size())) return 1;
            break;
        case Command::Kind::sleep:
            std::this_thread::sleep_for(std::chrono::milliseconds(command.value));
            break;
        case Command::Kind::close:
            close_stdout();
            log.record("close");
            break;
        case Command::Kind::exit:
            log.record("exit " + std::to_string(command.value));
            return static_cast<int>(command.value);
        case Command::Kind::say:
            if (!write_stdout(reinterpret_cast<const unsigned char*>(command.text.data()), command.text.size())) {
                log.record("write-failed");
                log.record("exit 1");
                return 1;
            }
            break;
        case Command::Kind::complain:
            for (unsigned long i = 0; i < command.count; ++i) std::fwrite(command.text.data(), 1, command.text.size(), stderr);
            std::fflush(stderr);
            break;
        }
    }
    log.record("exit 0");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(1, _O_BINARY);
    std::vector<std::string> words = wide_arguments();
    std::vector<char*> word_pointers;
    for (auto& word : words) word_pointers.push_back(word.data());
    word_pointers.push_back(nullptr);
    if (!words.empty()) {
        argc = static_cast<int>(words.size());
        argv = word_pointers.data();
    }
#else
    // A vanished reader shows up as a failed write, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    bool sound = false;
    for (int i = 1; i < argc; ++i) sound = sound || std::string_view(argv[i]) == "-vn";

    Log log(sound ? "sound" : "decoder");
    log.put(arguments_block(log, argc, argv));
    return sound ? run_sound(log) : run_decoder(log);
}
