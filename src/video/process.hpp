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
    pipe,     // standard output or error: a pipe whose read end the caller owns
    last_line,  // standard error only: read on a thread of its own, its last line kept (last_error_line)
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
    friend class PipeStream;  // takes the handle over for reads on the runtime
    std::unique_ptr<Handle> handle_;
};

// How a child ended. Exactly one of the two is set.
struct ExitStatus {
    std::optional<int> code = std::nullopt;    // its exit status (on Windows its exit code; terminate() gives 1)
    std::optional<int> signal = std::nullopt;  // POSIX: the signal that ended it (terminate() gives SIGKILL)

    [[nodiscard]] bool success() const noexcept { return code == 0; }
    // "exit status 1" or "signal 9".
    [[nodiscard]] std::string describe() const;
    friend bool operator==(const ExitStatus&, const ExitStatus&) = default;
};

// A started child. It never outlives this object: destroying (or assigning
// over) a ChildProcess whose child still runs ends it as terminate() does.
// Should the whole program die first, the child dies with it (Linux: a
// death signal bound to the thread that started it, so start children from a
// thread that lives as long as the program; Windows: a job object).
class ChildProcess {
public:
    ChildProcess() noexcept;
    ChildProcess(ChildProcess&&) noexcept;
    ChildProcess& operator=(ChildProcess&&) noexcept;
    ~ChildProcess();

    // Forced termination (SIGKILL on POSIX, TerminateProcess on Windows), then
    // waits for the child to be gone and collects its status, so that no
    // zombie is left. A child that has already exited counts as terminated.
    Status terminate();

    // Does not wait: nullopt while the child runs, then how it ended. Once
    // known, the status is kept, and later calls (and terminate()) keep it.
    Result<std::optional<ExitStatus>> poll_exit();

    // The last non-empty line the child wrote to its standard error, at most
    // 4 KB, when started with err = Stdio::last_line; empty otherwise. Once the
    // child's end is known (poll_exit gave it, or terminate returned), first
    // waits for the rest of its output, so that the line is its last.
    [[nodiscard]] std::string last_error_line();

    // The process id; 0 when nothing was started.
    [[nodiscard]] long id() const noexcept;

    struct Handle;  // platform pid or process HANDLE, and the status once known
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
    PipeReader errors;  // open only when err is Stdio::pipe
};

// Whether start_process could start `program`: the error it would fail with
// (not found, permission denied), without starting anything.
Status check_program(std::string_view program);

// Starts `program` with `arguments` (not including the program itself), never
// through a shell. A bare name is looked up on the search path; a path names
// the file. Only this child inherits the pipe's write end, and the child gets
// no other handle of ours. A program that cannot be started is a system error
// (not found, permission denied), as is a NUL in any argument.
Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio);

}  // namespace lumaflick
