#include "control/terminal_keys.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/windows/object_handle.hpp>

#include "video/process_windows.hpp"

#ifndef ENABLE_VIRTUAL_TERMINAL_INPUT
#define ENABLE_VIRTUAL_TERMINAL_INPUT 0x0200
#endif

namespace lumaflick {

struct TerminalKeys::Impl {
    Impl(const asio::any_io_executor& executor, DWORD original) : input(executor), saved_mode(original) {}
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { shut(); }

    void cancel() noexcept
    {
        ++generation;
        std::error_code ignored;
        input.cancel(ignored);
    }

    void shut() noexcept
    {
        cancel();
        if (!input.is_open()) return;
        ::SetConsoleMode(input.native_handle(), saved_mode);
        std::error_code ignored;
        input.close(ignored);
    }

    // Our own handle of the console's input buffer, signalled while it holds
    // events; the wait's handle is closed with it, not the standard one.
    asio::windows::object_handle input;
    DWORD saved_mode;
    std::array<INPUT_RECORD, 64> records{};
    std::vector<Key> keys;
    // Counts cancels, so that input read before one is not reported after it.
    std::uint64_t generation = 0;
    bool reading = false;
};

void TerminalKeys::shut(Impl& impl) noexcept { impl.shut(); }

Result<std::optional<TerminalKeys>> TerminalKeys::open(const asio::any_io_executor& executor)
{
    const HANDLE standard_input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (standard_input == nullptr || standard_input == INVALID_HANDLE_VALUE) return std::optional<TerminalKeys>();
    DWORD original = 0;
    if (::GetConsoleMode(standard_input, &original) == 0) return std::optional<TerminalKeys>();

    HANDLE copy = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), standard_input, ::GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS) == 0) {
        return Error::last_system_error();
    }
    OwnedHandle owned(copy);
    auto impl = std::make_shared<Impl>(executor, original);
    std::error_code error;
    impl->input.assign(owned.get(), error);
    if (error) return Error::system(error);
    (void)owned.release();
    impl->keys.reserve(impl->records.size());

    // Virtual-terminal input would turn the arrows into characters; Ctrl+C
    // stays the system's, for the program's handler.
    const DWORD cleared = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_WINDOW_INPUT | ENABLE_MOUSE_INPUT |
                          ENABLE_VIRTUAL_TERMINAL_INPUT;
    if (::SetConsoleMode(impl->input.native_handle(), (original & ~cleared) | ENABLE_PROCESSED_INPUT) == 0) {
        return Error::last_system_error();
    }
    return std::optional<TerminalKeys>(TerminalKeys(std::move(impl)));
}

void TerminalKeys::async_read(ReadHandler done)
{
    Impl& impl = *impl_;
    if (impl.reading) {
        asio::post(impl.input.get_executor(),
                   [done = std::move(done)] { done(Error::system(asio::error::already_started)); });
        return;
    }
    impl.reading = true;
    impl.input.async_wait([impl = impl_, generation = impl.generation,
                           done = std::move(done)](const std::error_code& error) {
        impl->reading = false;
        if (generation != impl->generation) return done(Error::system(asio::error::operation_aborted));
        if (error) return done(Error::system(error));
        const HANDLE input = impl->input.native_handle();
        DWORD waiting = 0;
        if (::GetNumberOfConsoleInputEvents(input, &waiting) == 0) return done(Error::last_system_error());
        impl->keys.clear();
        if (waiting > 0) {
            // Never blocks: events are waiting. Whatever is left signals the next wait at once.
            DWORD taken = 0;
            const DWORD wanted = std::min<DWORD>(waiting, static_cast<DWORD>(impl->records.size()));
            if (::ReadConsoleInputW(input, impl->records.data(), wanted, &taken) == 0) {
                return done(Error::last_system_error());
            }
            // A held key comes as a record per repeat, so the repeat count is not needed.
            for (const INPUT_RECORD& record : std::span(impl->records.data(), taken)) {
                if (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0) continue;
                const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
                if (const auto mapped = key_from_virtual_key(key.wVirtualKeyCode, key.uChar.UnicodeChar)) {
                    impl->keys.push_back(*mapped);
                }
            }
        }
        done(std::span<const Key>(impl->keys));
    });
}

void TerminalKeys::cancel() noexcept
{
    if (impl_) impl_->cancel();
}

}  // namespace lumaflick
