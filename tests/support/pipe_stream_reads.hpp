#pragma once

// Reads a PipeStream to its end on a context of its own, each read chained
// from the handler of the one before, as the player's event loop does.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "video/pipe_stream.hpp"

namespace lumaflick::test {

struct ReadToEnd {
    std::size_t total = 0;                       // bytes of the reads before the last
    std::optional<Result<std::size_t>> last;     // 0 at the end of output, or the error
};

// `meanwhile`, when given, runs while the first read waits (to cancel the
// stream, close it or destroy it).
inline ReadToEnd read_to_end(asio::io_context& context, std::optional<PipeStream>& stream,
                             std::span<std::byte> buffer, const std::function<void()>& meanwhile,
                             std::chrono::seconds limit)
{
    ReadToEnd result;
    std::function<void()> next = [&] {
        stream->async_read(buffer, [&](Result<std::size_t> got) {
            if (!got || *got == 0) return void(result.last = std::move(got));
            result.total += *got;
            next();
        });
    };
    next();
    if (meanwhile) asio::post(context, meanwhile);
    context.run_for(limit);
    return result;
}

}  // namespace lumaflick::test
