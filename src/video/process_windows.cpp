#include "video/process_windows.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <limits>
#include <utility>
#include <vector>

#include "video/error_tail.hpp"
#include "video/pipe_stream_native.hpp"
#include "video/process.hpp"

namespace lumaflick {

namespace {

// Like Linux's default pipe capacity, so that a frame (2400 bytes) goes
// through in one piece and a briefly slow reader does not stall the decoder.
constexpr DWORD PIPE_BUFFER_SIZE = 64 * 1024;

class AttributeList {
public:
    AttributeList() = default;
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    ~AttributeList()
    {
        if (initialized_) ::DeleteProcThreadAttributeList(get());
    }

    // A list with one attribute: the handles the child alone may inherit.
    Status init(std::span<const HANDLE> inherited)
    {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!::InitializeProcThreadAttributeList(get(), 1, 0, &size)) return Error::last_system_error();
        initialized_ = true;
        // The attribute keeps a pointer to the handles; the caller's span
        // outlives the process creation.
        if (!::UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         const_cast<HANDLE*>(inherited.data()), inherited.size_bytes(), nullptr,
                                         nullptr)) {
            return Error::last_system_error();
        }
        return ok();
    }

    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST get() noexcept
    {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    }

private:
    std::vector<std::byte> storage_;
    bool initialized_ = false;
};

Error windows_error(DWORD code) { return Error::system({static_cast<int>(code), std::system_category()}); }

// The handles the child gets as its three standard streams, owned here until
// the child has been created.
class ChildStdio {
public:
    Result<HANDLE> handle_for(Stdio mode, DWORD std_id)
    {
        switch (mode) {
        case Stdio::null: return null_device();
        case Stdio::inherit: return inherited(std_id);
        case Stdio::pipe:
        case Stdio::last_line: return pipe_write_end(std_id == STD_ERROR_HANDLE ? ERRORS : OUTPUT);
        }
        return Error::message("Unknown standard stream setup");
    }

    static constexpr std::size_t OUTPUT = 0;
    static constexpr std::size_t ERRORS = 1;

    // The read end with the event of its blocking reads; empty when there is no pipe.
    std::unique_ptr<PipeReader::Handle> take_pipe_read_end(std::size_t which) noexcept
    {
        Pipe& pipe = pipes_[which];
        if (!pipe.read) return nullptr;
        return std::make_unique<PipeReader::Handle>(PipeReader::Handle{std::move(pipe.read), std::move(pipe.event)});
    }

    void close_write_end(std::size_t which) noexcept { pipes_[which].write.reset(); }

private:
    Result<HANDLE> null_device()
    {
        if (!null_) {
            SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
            HANDLE handle = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE) return Error::last_system_error();
            null_.reset(handle);
        }
        return null_.get();
    }

    // Our own handle is often not inheritable; the child gets an inheritable
    // duplicate. A process without that stream passes on none.
    Result<HANDLE> inherited(DWORD std_id)
    {
        HANDLE ours = ::GetStdHandle(std_id);
        if (ours == nullptr || ours == INVALID_HANDLE_VALUE) return HANDLE{nullptr};
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(::GetCurrentProcess(), ours, ::GetCurrentProcess(), &copy, 0, TRUE,
                               DUPLICATE_SAME_ACCESS)) {
            return Error::last_system_error();
        }
        duplicates_.emplace_back(copy);
        return copy;
    }

    // A named pipe, so that our end can be overlapped (read on the runtime)
    // while the child's is a plain synchronous one. Both ends start
    // uninheritable; only the write end is then marked, and the handle list
    // keeps it out of any other child started meanwhile.
    Result<HANDLE> pipe_write_end(std::size_t which)
    {
        Pipe& pipe = pipes_[which];
        if (pipe.write) return pipe.write.get();
        static std::atomic<unsigned long> serial{0};
        const std::wstring name = L"\\\\.\\pipe\\lumaflick-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(serial.fetch_add(1));
        // The first instance, or it fails: nobody can have made this name before us.
        HANDLE read_end = ::CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, PIPE_BUFFER_SIZE, PIPE_BUFFER_SIZE, 0, nullptr);
        if (read_end == INVALID_HANDLE_VALUE) return Error::last_system_error();
        pipe.read.reset(read_end);
        HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) return Error::last_system_error();
        pipe.event.reset(event);
        // Opening the client end connects the pipe.
        HANDLE write_end = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (write_end == INVALID_HANDLE_VALUE) return Error::last_system_error();
        pipe.write.reset(write_end);
        if (!::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            return Error::last_system_error();
        }
        return pipe.write.get();
    }

    struct Pipe {
        OwnedHandle read;
        OwnedHandle event;
        OwnedHandle write;
    };
    OwnedHandle null_;
    std::array<Pipe, 2> pipes_;
    std::vector<OwnedHandle> duplicates_;
};

}  // namespace

std::string quote_windows_argument(std::string_view argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only in front of a quote: double them
        // there, and escape the quote itself.
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    // The closing quote follows them.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

Result<std::string> windows_command_line(std::string_view program, std::span<const std::string> arguments)
{
    // A NUL would silently cut the command line short.
    if (program.find('\0') != std::string_view::npos) return windows_error(ERROR_INVALID_PARAMETER);
    // The program word has no escapes, so a quote cannot be carried; Windows
    // file names cannot hold one anyway.
    if (program.find('"') != std::string_view::npos) return windows_error(ERROR_INVALID_NAME);
    std::string line = "\"";
    line += program;
    line += '"';
    for (const std::string& argument : arguments) {
        if (argument.find('\0') != std::string::npos) return windows_error(ERROR_INVALID_PARAMETER);
        line += ' ';
        line += quote_windows_argument(argument);
    }
    return line;
}

Result<std::wstring> utf8_to_wide(std::string_view text)
{
    if (text.empty()) return std::wstring{};
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return windows_error(ERROR_INVALID_PARAMETER);
    }
    const int size = static_cast<int>(text.size());
    const int wide_size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wide_size == 0) return Error::last_system_error();
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wide_size) == 0) {
        return Error::last_system_error();
    }
    return wide;
}

namespace {

// Every child joins this job, which kills them all when its last handle
// closes: ours, which the system closes when this process ends in any way.
// Made once, never inheritable, and kept for the life of the process.
struct ChildJob {
    OwnedHandle job;
    DWORD error = ERROR_SUCCESS;
};

const ChildJob& child_job()
{
    static const ChildJob made = [] {
        ChildJob job;
        job.job.reset(::CreateJobObjectW(nullptr, nullptr));
        if (!job.job) {
            job.error = ::GetLastError();
            return job;
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!::SetInformationJobObject(job.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            job.error = ::GetLastError();
            job.job.reset();
        }
        return job;
    }();
    return made;
}

// How long terminate() waits for a killed child to be gone.
constexpr DWORD EXIT_WAIT_MS = 5000;

}  // namespace

std::string ExitStatus::describe() const
{
    if (signal) return "signal " + std::to_string(*signal);
    const auto value = static_cast<unsigned long>(static_cast<DWORD>(code.value_or(0)));
    // Crashes end with an NTSTATUS, which reads better in hex.
    if (value <= 0xFFFF) return "exit status " + std::to_string(value);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", value);
    return std::string("exit status ") + hex;
}

struct ChildProcess::Handle {
    OwnedHandle process;
    DWORD id = 0;
    std::optional<ExitStatus> status;
    // Last, so that it waits for the end of the output after end() has ended the child.
    std::unique_ptr<ErrorTail> error_tail;

    Handle(OwnedHandle started, DWORD process_id) noexcept : process(std::move(started)), id(process_id) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { (void)end(); }

    // Waits at most `ms` for the child to exit and records how it did.
    Result<bool> wait(DWORD ms) noexcept
    {
        switch (::WaitForSingleObject(process.get(), ms)) {
        case WAIT_OBJECT_0: break;
        case WAIT_TIMEOUT: return false;
        default: return Error::last_system_error();
        }
        DWORD code = 0;
        if (!::GetExitCodeProcess(process.get(), &code)) return Error::last_system_error();
        status = ExitStatus{.code = static_cast<int>(code), .signal = std::nullopt};
        return true;
    }

    Status end() noexcept
    {
        if (status) return ok();
        // A process that has exited, or is still exiting, refuses termination
        // with access denied; the wait tells which.
        if (!::TerminateProcess(process.get(), 1) && ::GetLastError() != ERROR_ACCESS_DENIED) {
            return Error::last_system_error();
        }
        auto gone = wait(EXIT_WAIT_MS);
        if (!gone) return std::move(gone).error();
        if (!*gone) return windows_error(WAIT_TIMEOUT);
        return ok();
    }
};

PipeReader::PipeReader() noexcept = default;
PipeReader::PipeReader(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
PipeReader::PipeReader(PipeReader&&) noexcept = default;
PipeReader& PipeReader::operator=(PipeReader&&) noexcept = default;
PipeReader::~PipeReader() = default;

Result<std::size_t> PipeReader::read(std::span<std::byte> buffer)
{
    if (!is_open()) return windows_error(ERROR_INVALID_HANDLE);
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), std::numeric_limits<DWORD>::max()));
    // Our end is overlapped: start the read, then wait for it.
    OVERLAPPED overlapped{};
    overlapped.hEvent = handle_->event.get();
    DWORD got = 0;
    if (!::ReadFile(handle_->pipe.get(), buffer.data(), wanted, nullptr, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        // The writer closed its end: that is the end of the output.
        if (::GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};
        return Error::last_system_error();
    }
    if (!::GetOverlappedResult(handle_->pipe.get(), &overlapped, &got, TRUE)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};
        return Error::last_system_error();
    }
    return std::size_t{got};
}

void PipeReader::close() noexcept { handle_.reset(); }

bool PipeReader::is_open() const noexcept { return handle_ != nullptr && handle_->pipe; }

ChildProcess::ChildProcess() noexcept = default;
ChildProcess::ChildProcess(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

Status ChildProcess::terminate()
{
    // Nothing started: nothing to end.
    if (!handle_) return ok();
    return handle_->end();
}

Result<std::optional<ExitStatus>> ChildProcess::poll_exit()
{
    if (!handle_) return windows_error(ERROR_INVALID_HANDLE);
    if (!handle_->status) {
        if (auto waited = handle_->wait(0); !waited) return std::move(waited).error();
    }
    return handle_->status;
}

std::string ChildProcess::last_error_line()
{
    if (!handle_ || !handle_->error_tail) return {};
    if (handle_->status) handle_->error_tail->finish();
    return handle_->error_tail->line();
}

long ChildProcess::id() const noexcept { return handle_ ? static_cast<long>(handle_->id) : 0; }

Status check_program(std::string_view program)
{
    if (program.find('\0') != std::string_view::npos) return windows_error(ERROR_INVALID_PARAMETER);
    auto wide = utf8_to_wide(program);
    if (!wide) return std::move(wide).error();
    // The search CreateProcessW makes for a program without a path, ".exe" added.
    std::wstring found(MAX_PATH, L'\0');
    if (::SearchPathW(nullptr, wide->c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr) == 0) {
        return Error::last_system_error();
    }
    return ok();
}

Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio)
{
    if (stdio.in == Stdio::pipe) return Error::message("Standard input cannot be a pipe");
    if (stdio.in == Stdio::last_line || stdio.out == Stdio::last_line) {
        return Error::message("Only standard error can keep its last line");
    }
    auto line = windows_command_line(program, arguments);
    if (!line) return std::move(line).error();
    auto wide_line = utf8_to_wide(*line);
    if (!wide_line) return std::move(wide_line).error();

    ChildStdio streams;
    // A pipe of its own for standard error, read by the error tail.
    ChildStdio error_stream;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    const std::pair<Stdio, DWORD> setups[] = {
        {stdio.in, STD_INPUT_HANDLE}, {stdio.out, STD_OUTPUT_HANDLE}, {stdio.err, STD_ERROR_HANDLE}};
    HANDLE* targets[] = {&startup.StartupInfo.hStdInput, &startup.StartupInfo.hStdOutput,
                         &startup.StartupInfo.hStdError};
    std::vector<HANDLE> inherited;
    for (std::size_t i = 0; i < 3; ++i) {
        auto handle = (i == 2 && stdio.err == Stdio::last_line ? error_stream : streams)
                          .handle_for(setups[i].first, setups[i].second);
        if (!handle) return std::move(handle).error();
        *targets[i] = *handle;
        // The list must name each handle once.
        if (*handle != nullptr && std::find(inherited.begin(), inherited.end(), *handle) == inherited.end()) {
            inherited.push_back(*handle);
        }
    }

    AttributeList attributes;
    DWORD flags = 0;
    if (!inherited.empty()) {
        if (auto status = attributes.init(inherited); !status) return std::move(status).error();
        startup.lpAttributeList = attributes.get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    const ChildJob& job = child_job();
    if (!job.job) return windows_error(job.error);

    // No application name: Windows takes the program from the command line and
    // looks a bare name up on its search path, adding ".exe". Suspended until
    // it is in the job, so that nothing it starts can escape it.
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, wide_line->data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE,
                          flags | CREATE_SUSPENDED, nullptr, nullptr, &startup.StartupInfo, &info)) {
        return Error::last_system_error();
    }
    const OwnedHandle thread{info.hThread};
    // Ends the child again on every way out below.
    auto handle = std::make_unique<ChildProcess::Handle>(OwnedHandle{info.hProcess}, info.dwProcessId);
    ChildProcess::Handle* const child_handle = handle.get();
    ChildProcess child(std::move(handle));
    if (!::AssignProcessToJobObject(job.job.get(), info.hProcess)) return Error::last_system_error();
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) return Error::last_system_error();
    if (auto read_end = error_stream.take_pipe_read_end(ChildStdio::ERRORS)) {
        // Our copy of the write end must go first, or the tail never sees the end.
        error_stream.close_write_end(ChildStdio::ERRORS);
        auto tail = ErrorTail::start(PipeReader(std::move(read_end)));
        if (!tail) return std::move(tail).error();
        child_handle->error_tail = std::move(*tail);
    }

    StartedProcess started;
    started.child = std::move(child);
    if (auto read_end = streams.take_pipe_read_end(ChildStdio::OUTPUT)) started.output = PipeReader(std::move(read_end));
    if (auto read_end = streams.take_pipe_read_end(ChildStdio::ERRORS)) started.errors = PipeReader(std::move(read_end));
    // Our copies of the child's ends close with `streams`, so that the pipe
    // reports its end once the child is gone.
    return started;
}

}  // namespace lumaflick
