#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "error.hpp"
#include "video/process.hpp"

namespace lumaflick {

// The decoder's output read on the runtime: while a read waits, other handlers run.
class PipeStream {
public:
    PipeStream() noexcept;
    PipeStream(PipeStream&&) noexcept;
    PipeStream& operator=(PipeStream&&) noexcept;
    // Closes the pipe: a pending read completes with operation_aborted.
    ~PipeStream();

    // Takes over the read end of `pipe`. On POSIX our end becomes non-blocking;
    // the child's end is a file of its own and stays blocking.
    static Result<PipeStream> open(const asio::any_io_executor& executor, PipeReader pipe);

    using ReadHandler = std::function<void(Result<std::size_t>)>;
    // One read of at most buffer.size() bytes into `buffer`, which must not be
    // empty and must stay valid until `done` has run. `done` runs on the
    // executor, never inside this call, with the byte count; 0 at end of output
    // (the writer closed it, or a broken pipe); or the error. After cancel() or
    // close() a pending read completes with asio::error::operation_aborted as
    // a system error. One read at a time; only on a stream that open() made.
    void async_read(std::span<std::byte> buffer, ReadHandler done);
    // The same read, awaited: it wraps no handler of ours, which matters on a
    // path that runs for every frame.
    asio::awaitable<Result<std::size_t>> read(std::span<std::byte> buffer);

    void cancel() noexcept;
    void close() noexcept;
    [[nodiscard]] bool is_open() const noexcept;

private:
    struct Impl;
    explicit PipeStream(std::unique_ptr<Impl> impl) noexcept;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumaflick
