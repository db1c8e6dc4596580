#include "stdin_events.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <exception>

#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

namespace insim_screen {

namespace {

constexpr auto awaitable_tuple = asio::experimental::as_tuple(asio::use_awaitable);

}  // namespace

StdinEvents::StdinEvents(asio::io_context& context, Server& server, ServerEvents& events)
    : context_(context), server_(server), events_(events)
{
}

void StdinEvents::start()
{
    const int copy = ::dup(STDIN_FILENO);
    if (copy < 0) return;  // no standard input at all
    std::error_code ec;
    input_.emplace(context_);
    input_->assign(copy, ec);
    if (ec) {
        ::close(copy);
        input_.reset();
        events_.warning("cannot read events from standard input: " + ec.message());
        return;
    }
    asio::co_spawn(context_, read_lines(), asio::detached);
}

void StdinEvents::stop()
{
    std::error_code ignored;
    if (input_) input_->close(ignored);
}

asio::awaitable<void> StdinEvents::read_lines()
{
    std::array<char, 4096> buffer{};
    while (input_ && input_->is_open()) {
        // Files and /dev/null cannot be waited for, and their reads never block.
        const auto [ec] = co_await input_->async_wait(asio::posix::descriptor_base::wait_read, awaitable_tuple);
        if (ec && ec != asio::error::operation_not_supported) co_return;
        if (!input_->is_open()) co_return;
        // Readable: a blocking read returns at once, and leaves the descriptor blocking.
        const ssize_t n = ::read(input_->native_handle(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            events_.warning(std::string("reading events from standard input failed: ") + std::strerror(errno));
            co_return;
        }
        if (n == 0) {
            if (!pending_.empty()) take(std::exchange(pending_, {}));
            co_return;
        }
        pending_.append(buffer.data(), static_cast<std::size_t>(n));
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            take(line);
        }
    }
}

void StdinEvents::take(std::string_view line)
{
    if (skipped_line(line)) return;
    auto event = parse_event(line);
    if (!event) {
        events_.warning("standard input: " + event.failure().text);
        return;
    }
    server_.act(*event);
}

}  // namespace insim_screen
