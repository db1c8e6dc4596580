#include "video/pipe_stream.hpp"

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#ifdef _WIN32
#include <asio/windows/stream_handle.hpp>
#else
#include <asio/posix/stream_descriptor.hpp>
#include <fcntl.h>
#endif

#include <utility>

#include "video/pipe_stream_native.hpp"

namespace lumaflick {

namespace {

#ifdef _WIN32
using NativeStream = asio::windows::stream_handle;
#else
using NativeStream = asio::posix::stream_descriptor;
#endif

Result<std::size_t> read_result(const std::error_code& error, std::size_t size)
{
    if (!error) return size;
    // The writer closed its end: that is the end of the output.
    if (error == asio::error::eof || error == asio::error::broken_pipe) return std::size_t{0};
    return Error::system(error);
}

}  // namespace

struct PipeStream::Impl {
    explicit Impl(const asio::any_io_executor& executor) : stream(executor) {}
    NativeStream stream;
};

PipeStream::PipeStream() noexcept = default;
PipeStream::PipeStream(std::unique_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}
PipeStream::PipeStream(PipeStream&&) noexcept = default;
PipeStream& PipeStream::operator=(PipeStream&&) noexcept = default;
PipeStream::~PipeStream() = default;

Result<PipeStream> PipeStream::open(const asio::any_io_executor& executor, PipeReader pipe)
{
    if (!pipe.is_open()) return Error::system(asio::error::bad_descriptor);
    auto impl = std::make_unique<Impl>(executor);
    std::error_code error;
#ifdef _WIN32
    impl->stream.assign(pipe.handle_->pipe.get(), error);
    if (error) return Error::system(error);
    // The stream owns it now.
    (void)pipe.handle_->pipe.release();
#else
    const int fd = pipe.handle_->fd.get();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Error::last_system_error();
    impl->stream.assign(fd, error);
    if (error) return Error::system(error);
    (void)pipe.handle_->fd.release();
#endif
    return PipeStream(std::move(impl));
}

void PipeStream::async_read(std::span<std::byte> buffer, ReadHandler done)
{
    impl_->stream.async_read_some(asio::buffer(buffer.data(), buffer.size()),
                                  [done = std::move(done)](const std::error_code& error, std::size_t size) {
                                      done(read_result(error, size));
                                  });
}

asio::awaitable<Result<std::size_t>> PipeStream::read(std::span<std::byte> buffer)
{
    std::error_code error;
    const std::size_t size = co_await impl_->stream.async_read_some(asio::buffer(buffer.data(), buffer.size()),
                                                                    asio::redirect_error(asio::use_awaitable, error));
    co_return read_result(error, size);
}

void PipeStream::cancel() noexcept
{
    if (!impl_) return;
    std::error_code ignored;
    impl_->stream.cancel(ignored);
}

void PipeStream::close() noexcept
{
    if (!impl_) return;
    std::error_code ignored;
    impl_->stream.close(ignored);
}

bool PipeStream::is_open() const noexcept { return impl_ != nullptr && impl_->stream.is_open(); }

}  // namespace lumaflick
