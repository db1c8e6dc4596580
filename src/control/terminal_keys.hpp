#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>

#include <asio/any_io_executor.hpp>

#include "control/key_decoder.hpp"
#include "error.hpp"

namespace lumaflick {

// The keys typed on the terminal that standard input is, read on the runtime.
// While one exists the terminal hands over every key at once without echoing
// it (Ctrl+C still interrupts; Ctrl+Z does nothing, so no shell ever gets the
// terminal in this state); destroying it puts the terminal back as it was.
class TerminalKeys {
public:
    TerminalKeys(TerminalKeys&&) noexcept;
    TerminalKeys& operator=(TerminalKeys&&) noexcept;
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;
    // Cancels, and puts the terminal's settings back as open() found them. A
    // pending read's `done` still runs afterwards, with operation_aborted.
    ~TerminalKeys();

    // nullopt, changing nothing, when standard input is no terminal (or, on
    // POSIX, one our process group does not have in the foreground); an error
    // when it is one whose settings cannot be changed.
    static Result<std::optional<TerminalKeys>> open(const asio::any_io_executor& executor);

    using ReadHandler = std::function<void(Result<std::span<const Key>>)>;
    // Waits for input and gives the keys of one read, valid until the next
    // read completes; often none, for bytes or events that are no keys. `done`
    // runs exactly once, on the executor, never inside this call. A failed
    // read gives the system's error (asio::error::eof when the terminal hung
    // up). One read at a time, until its `done` has run, cancelled or not:
    // another completes with asio::error::already_started. Only on an object
    // that open() made and that was not moved from.
    void async_read(ReadHandler done);

    // A pending read completes with asio::error::operation_aborted, even one
    // whose input had already arrived; the next read works as before.
    void cancel() noexcept;

private:
    struct Impl;
    explicit TerminalKeys(std::shared_ptr<Impl> impl) noexcept;
    // Cancels and sets the terminal back; by the platform's file.
    static void shut(Impl& impl) noexcept;
    // Shared with the pending read's handler, which may run after we are gone.
    std::shared_ptr<Impl> impl_;
};

}  // namespace lumaflick
