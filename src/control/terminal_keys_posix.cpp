#include "control/terminal_keys.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "video/unique_fd.hpp"

namespace lumaflick {

namespace {

// tcsetattr from a background process group stops the process with SIGTTOU
// unless the signal is blocked; putting the settings back must never stop us.
int set_attributes(int fd, const termios& attributes) noexcept
{
    sigset_t ttou;
    sigset_t old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &old);
    int result;
    do {
        result = ::tcsetattr(fd, TCSANOW, &attributes);
    } while (result != 0 && errno == EINTR);
    const int saved_errno = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved_errno;
    return result;
}

}  // namespace

struct TerminalKeys::Impl {
    Impl(const asio::any_io_executor& executor, const termios& original) : terminal(executor), saved(original) {}
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { shut(); }

    void cancel() noexcept
    {
        ++generation;
        std::error_code ignored;
        terminal.cancel(ignored);
    }

    void shut() noexcept
    {
        cancel();
        if (!terminal.is_open()) return;
        (void)set_attributes(terminal.native_handle(), saved);
        std::error_code ignored;
        terminal.close(ignored);
    }

    // Our own open file description of the terminal: non-blocking for Asio
    // without touching the one the shell and our standard input share.
    asio::posix::stream_descriptor terminal;
    termios saved;
    KeyDecoder decoder;
    std::array<std::uint8_t, 256> bytes{};
    std::vector<Key> keys;
    // Counts cancels, so that input read before one is not reported after it.
    std::uint64_t generation = 0;
    bool reading = false;
};

void TerminalKeys::shut(Impl& impl) noexcept { impl.shut(); }

Result<std::optional<TerminalKeys>> TerminalKeys::open(const asio::any_io_executor& executor)
{
    if (::isatty(STDIN_FILENO) != 1) return std::optional<TerminalKeys>();
    // A background job leaves the terminal to the one in the foreground.
    if (const pid_t foreground = ::tcgetpgrp(STDIN_FILENO); foreground >= 0 && foreground != ::getpgrp()) {
        return std::optional<TerminalKeys>();
    }

    std::array<char, 4096> name{};
    if (const int failed = ::ttyname_r(STDIN_FILENO, name.data(), name.size()); failed != 0) {
        return Error::system({failed, std::system_category()});
    }
    Fd tty(::open(name.data(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (tty.get() < 0) return Error::last_system_error();

    termios original{};
    if (::tcgetattr(tty.get(), &original) != 0) return Error::last_system_error();
    termios raw = original;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_cc[VSUSP] = _POSIX_VDISABLE;

    auto impl = std::make_shared<Impl>(executor, original);
    std::error_code error;
    impl->terminal.assign(tty.get(), error);
    if (error) return Error::system(error);
    (void)tty.release();
    impl->keys.reserve(impl->bytes.size());
    // On failure the settings may have changed in part; the Impl puts them back.
    if (set_attributes(impl->terminal.native_handle(), raw) != 0) return Error::last_system_error();
    return std::optional<TerminalKeys>(TerminalKeys(std::move(impl)));
}

void TerminalKeys::async_read(ReadHandler done)
{
    Impl& impl = *impl_;
    if (impl.reading) {
        asio::post(impl.terminal.get_executor(),
                   [done = std::move(done)] { done(Error::system(asio::error::already_started)); });
        return;
    }
    impl.reading = true;
    impl.terminal.async_read_some(
        asio::buffer(impl.bytes),
        [impl = impl_, generation = impl.generation, done = std::move(done)](const std::error_code& error,
                                                                             std::size_t size) {
            impl->reading = false;
            if (generation != impl->generation) return done(Error::system(asio::error::operation_aborted));
            if (error) return done(Error::system(error));
            impl->keys.clear();
            impl->decoder.feed(std::span(impl->bytes.data(), size), impl->keys);
            done(std::span<const Key>(impl->keys));
        });
}

void TerminalKeys::cancel() noexcept
{
    if (impl_) impl_->cancel();
}

}  // namespace lumaflick
