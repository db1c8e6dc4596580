#include "control/status_line.hpp"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace lumaflick {

namespace {

std::string rate_text(std::uint64_t bytes_per_second)
{
    if (bytes_per_second < 1000) return std::to_string(bytes_per_second) + " B/s";
    const std::uint64_t tenths = (bytes_per_second + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " kB/s";
}

// At most `limit` bytes, not ending inside a UTF-8 sequence.
std::string_view cut(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string format_status(const StatusFacts& facts, std::size_t width)
{
    std::string line = readable_time(facts.position);
    line += facts.paused ? " paused" : " playing";
    line += " | " + std::to_string(facts.shown) + " shown, " + std::to_string(facts.skipped) + " skipped";
    line += " | " + rate_text(facts.bytes_per_second) + " to LFS";
    if (!facts.answer.empty()) {
        line += " | ";
        line += facts.answer;
    }
    // The last column is left free: writing into it wraps on some terminals.
    if (width > 0) line.resize(cut(line, width - 1).size());
    return line;
}

bool StatusPace::take(Clock::time_point now)
{
    if (last_ && now - *last_ < INTERVAL) return false;
    last_ = now;
    return true;
}

std::optional<StatusPace::Clock::time_point> StatusPace::next() const
{
    if (!last_) return std::nullopt;
    return *last_ + INTERVAL;
}

std::string rewrite_bytes(std::string_view line, std::size_t previous, bool escapes)
{
    std::string bytes = "\r";
    bytes += line;
    if (escapes) {
        bytes += "\x1b[K";
    } else if (previous > line.size()) {
        bytes.append(previous - line.size(), ' ');
    }
    return bytes;
}

std::string erase_bytes(std::size_t previous, bool escapes)
{
    if (escapes) return "\r\x1b[K";
    std::string bytes = "\r";
    bytes.append(previous, ' ');
    bytes += '\r';
    return bytes;
}

StatusConsole StatusConsole::on_stdout(bool wanted)
{
    if (!wanted) return {nullptr, false, 80, true};
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return {nullptr, false, 80, false};
    const auto columns = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    // Blanks rather than escapes: a console takes escapes only in a mode we would have to set and restore.
    return {stdout, true, columns > 0 ? columns : 80, false};
#else
    if (::isatty(STDOUT_FILENO) != 1) return {nullptr, false, 80, true};
    winsize size{};
    const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0;
    return {stdout, true, known ? std::size_t{size.ws_col} : 80, true};
#endif
}

StatusConsole::StatusConsole(std::FILE* stream, bool active, std::size_t width, bool escapes)
    : stream_(active ? stream : nullptr), width_(width), escapes_(escapes)
{
}

StatusConsole::StatusConsole(StatusConsole&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)), width_(other.width_), escapes_(other.escapes_),
      shown_(std::exchange(other.shown_, 0))
{
}

StatusConsole::~StatusConsole() { clear(); }

void StatusConsole::show(std::string_view line)
{
    if (stream_ == nullptr) return;
    const std::string bytes = rewrite_bytes(line, shown_, escapes_);
    std::fwrite(bytes.data(), 1, bytes.size(), stream_);
    std::fflush(stream_);
    // An empty line leaves nothing to erase.
    shown_ = line.empty() ? 0 : line.size();
}

void StatusConsole::clear()
{
    if (stream_ == nullptr || shown_ == 0) return;
    const std::string bytes = erase_bytes(shown_, escapes_);
    std::fwrite(bytes.data(), 1, bytes.size(), stream_);
    std::fflush(stream_);
    shown_ = 0;
}

}  // namespace lumaflick
