#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "error.hpp"
#include "video/process.hpp"

namespace lumaflick {

// The last non-empty line of a stream, fed in pieces of any cut. A carriage
// return ends a line as a line feed does (progress lines end with one). A
// line longer than LIMIT keeps its first LIMIT bytes, so memory stays bounded
// however much the stream holds.
class LastLine {
public:
    static constexpr std::size_t LIMIT = 4096;

    void add(std::string_view bytes);
    // The last line, or the unfinished one after it when that has any text;
    // surrounding blanks left out.
    [[nodiscard]] std::string line() const;

private:
    std::string current_;
    std::string last_;
};

// Reads a child's standard error on a thread of its own, so that the child
// never blocks on a full pipe, and keeps only its last line.
class ErrorTail {
    struct Token {
        explicit Token() = default;
    };

public:
    static Result<std::unique_ptr<ErrorTail>> start(PipeReader pipe);
    // Through start() only: the thread needs the object at its final address.
    ErrorTail(PipeReader pipe, Token);
    ErrorTail(const ErrorTail&) = delete;
    ErrorTail& operator=(const ErrorTail&) = delete;
    // Waits for the end of the output: end the child first.
    ~ErrorTail();

    // Waits for the end of the output (the child gone), so that line() is final.
    void finish();
    [[nodiscard]] std::string line() const;

private:
    void read_all();

    PipeReader pipe_;
    mutable std::mutex mutex_;
    LastLine last_;
    std::thread reader_;
    std::mutex finishing_;
};

}  // namespace lumaflick
