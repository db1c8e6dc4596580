#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "error.hpp"

namespace lumaflick {

// How a child's standard stream is connected.
enum class Stdio {
    null,     // the null device
    inherit,  // shared with this process
    pipe,     // standard output only: a pipe whose read end the caller owns
};

// The read end of a child's output pipe. Closed when destroyed.
class PipeReader {
public:
    // Defined with the platform's Handle: a defaulted one here would need it complete.
    PipeReader() noexcept;
    PipeReader(PipeReader&&) noexcept;
    PipeReader& operator=(PipeReader&&) noexcept;
    ~PipeReader();

    // One blocking read of at most buffer.size() bytes; 0 at end of output
    // (the writer closed it, or a broken pipe).
    Result<std::size_t> read(std::span<std::byte> buffer);
    void close() noexcept;
    [[nodiscard]] bool is_open() const noexcept;

    struct Handle;  // platform file descriptor or HANDLE
    explicit PipeReader(std::unique_ptr<Handle> handle);

private:
    std::unique_ptr<Handle> handle_;
};

// A started child. Destroying it closes our handle and leaves the child running.
class ChildProcess {
public:
    ChildProcess() noexcept;
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ~ChildProcess();

    // Forced termination (exit status 1 on Windows, SIGKILL on POSIX).
    // A child that has already exited counts as terminated.
    Status terminate();

    struct Handle;  // platform pid or process HANDLE
    explicit ChildProcess(std::unique_ptr<Handle> handle);

private:
    std::unique_ptr<Handle> handle_;
};

struct StdioSetup {
    Stdio in = Stdio::null;
    Stdio out = Stdio::null;
    Stdio err = Stdio::null;
};

struct StartedProcess {
    ChildProcess child;
    PipeReader output;  // open only when out is Stdio::pipe
};

// Starts `program` with `arguments` (not including the program itself), never
// through a shell. A bare name is looked up on the search path; a path names
// the file. Only this child inherits the pipe's write end.
Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio);

}  // namespace lumaflick
