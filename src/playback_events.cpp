#include "playback_events.hpp"

#include <system_error>
#include <utility>

#include <asio/cancellation_state.hpp>
#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace lumaflick {

PlaybackEvents::PlaybackEvents(const asio::any_io_executor& executor, insim::InSimConnection& lfs)
    : wake_(executor), lfs_(&lfs)
{
}

void PlaybackEvents::wake() noexcept { wake_.cancel(); }

void PlaybackEvents::listen_to_lfs()
{
    if (lfs_reading_) return;
    lfs_result_.reset();
    lfs_reading_ = true;
    ++outstanding_;
    lfs_->async_read(lfs_buffer_, [this](Result<std::size_t> read) {
        --outstanding_;
        lfs_reading_ = false;
        lfs_result_ = std::move(read);
        wake();
    });
}

std::optional<Result<std::span<const std::uint8_t>>> PlaybackEvents::take_lfs()
{
    if (!lfs_result_) return std::nullopt;
    Result<std::size_t> read = std::move(*lfs_result_);
    lfs_result_.reset();
    if (!read) return Result<std::span<const std::uint8_t>>(std::move(read).error());
    return Result<std::span<const std::uint8_t>>(std::span<const std::uint8_t>(lfs_buffer_).first(*read));
}

void PlaybackEvents::listen_to_keys(TerminalKeys& keys)
{
    keys_ = &keys;
    if (keys_reading_) return;
    keys_result_.reset();
    keys_reading_ = true;
    ++outstanding_;
    keys.async_read([this](Result<std::span<const Key>> read) {
        --outstanding_;
        keys_reading_ = false;
        keys_result_ = std::move(read);
        wake();
    });
}

std::optional<Result<std::span<const Key>>> PlaybackEvents::take_keys()
{
    return std::exchange(keys_result_, std::nullopt);
}

void PlaybackEvents::watch_decoder(PipeStream output, FrameSource& source)
{
    decoder_.emplace(std::move(output));
    source_ = &source;
}

asio::awaitable<void> PlaybackEvents::let_decoder_go()
{
    if (decoder_) decoder_->close();
    while (frame_reading_) {
        // The cancelled read completes promptly; its handler's wake-up ends the wait.
        wake_.expires_after(std::chrono::seconds(1));
        std::error_code ignored;
        co_await wake_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    }
    frame_result_.reset();
    decoder_.reset();
}

void PlaybackEvents::read_frame()
{
    if (frame_reading_ || !decoder_ || !decoder_->is_open()) return;
    frame_result_.reset();
    frame_reading_ = true;
    ++outstanding_;
    decoder_->async_read(source_->begin_read(), [this](Result<std::size_t> read) { frame_read_done(std::move(read)); });
}

void PlaybackEvents::frame_read_done(Result<std::size_t> read)
{
    --outstanding_;
    frame_reading_ = false;
    if (!read) {
        frame_result_ = std::move(read).error();
        wake();
        return;
    }
    if (auto frame = source_->end_read(*read)) {
        frame_result_ = *frame;
        wake();
        return;
    }
    // Dropped, or not whole yet: the next read starts now, as the skip rule times it.
    read_frame();
}

std::optional<Result<std::span<const std::uint8_t>>> PlaybackEvents::take_frame()
{
    if (!frame_result_) return std::nullopt;
    auto frame = std::move(*frame_result_);
    frame_result_.reset();
    return frame;
}

void PlaybackEvents::close_decoder() noexcept
{
    if (decoder_) decoder_->close();
}

asio::awaitable<Status> PlaybackEvents::wait(TimePoint deadline)
{
    if (!pending()) {
        wake_.expires_at(deadline);
        std::error_code woken;  // a handler's wake-up, or the deadline
        co_await wake_.async_wait(asio::redirect_error(asio::use_awaitable, woken));
    }
    const asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    if (state.cancelled() != asio::cancellation_type::none) {
        co_return Error::system(make_error_code(asio::error::operation_aborted));
    }
    co_return ok();
}

asio::awaitable<void> PlaybackEvents::stop()
{
    if (decoder_) decoder_->close();
    lfs_->cancel();
    if (keys_ != nullptr) keys_->cancel();
    while (outstanding_ > 0) {
        // Cancelled reads complete promptly; the handler's wake-up ends the wait.
        wake_.expires_after(std::chrono::seconds(1));
        std::error_code ignored;
        co_await wake_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    }
    lfs_result_.reset();
    frame_result_.reset();
    keys_result_.reset();
}

}  // namespace lumaflick
