#include "video/error_tail.hpp"

#include <array>
#include <cstddef>
#include <system_error>

namespace lumaflick {

namespace {

constexpr std::string_view BLANKS = " \t\v\f";

std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

}  // namespace

void LastLine::add(std::string_view bytes)
{
    for (const char c : bytes) {
        if (c == '\n' || c == '\r') {
            if (!trimmed(current_).empty()) last_ = trimmed(current_);
            current_.clear();
        } else if (current_.size() < LIMIT) {
            current_ += c;
        }
    }
}

std::string LastLine::line() const
{
    const std::string_view unfinished = trimmed(current_);
    return std::string(unfinished.empty() ? std::string_view(last_) : unfinished);
}

ErrorTail::ErrorTail(PipeReader pipe, Token) : pipe_(std::move(pipe)) {}

Result<std::unique_ptr<ErrorTail>> ErrorTail::start(PipeReader pipe)
{
    auto tail = std::make_unique<ErrorTail>(std::move(pipe), Token{});
    try {
        tail->reader_ = std::thread([raw = tail.get()] { raw->read_all(); });
    } catch (const std::system_error& error) {
        return Error::system(error.code());
    }
    return tail;
}

ErrorTail::~ErrorTail() { finish(); }

void ErrorTail::finish()
{
    const std::lock_guard lock(finishing_);
    if (reader_.joinable()) reader_.join();
}

std::string ErrorTail::line() const
{
    const std::lock_guard lock(mutex_);
    return last_.line();
}

void ErrorTail::read_all()
{
    std::array<std::byte, 1024> buffer{};
    for (;;) {
        auto got = pipe_.read(buffer);
        if (!got || *got == 0) break;
        const std::lock_guard lock(mutex_);
        last_.add({reinterpret_cast<const char*>(buffer.data()), *got});
    }
    pipe_.close();
}

}  // namespace lumaflick
