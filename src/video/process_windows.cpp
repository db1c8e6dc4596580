#include "video/process_windows.hpp"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "video/process.hpp"

namespace lumaflick {

namespace {

// Like Linux's default pipe capacity, so that a frame (2400 bytes) goes
// through in one piece and a briefly slow reader does not stall the decoder.
constexpr DWORD PIPE_BUFFER_SIZE = 64 * 1024;

class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) noexcept : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    [[nodiscard]] HANDLE get() const noexcept { return handle_; }
    [[nodiscard]] explicit operator bool() const noexcept { return handle_ != nullptr; }
    HANDLE release() noexcept { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) noexcept
    {
        if (handle_ != nullptr) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

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
        case Stdio::pipe: return pipe_write_end();
        }
        return Error::message("Unknown standard stream setup");
    }

    OwnedHandle take_pipe_read_end() noexcept { return std::move(pipe_read_); }

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

    // Both ends start uninheritable; only the write end is then marked, and the
    // handle list keeps it out of any other child started meanwhile.
    Result<HANDLE> pipe_write_end()
    {
        if (!pipe_write_) {
            HANDLE read_end = nullptr;
            HANDLE write_end = nullptr;
            if (!::CreatePipe(&read_end, &write_end, nullptr, PIPE_BUFFER_SIZE)) return Error::last_system_error();
            pipe_read_.reset(read_end);
            pipe_write_.reset(write_end);
            if (!::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
                return Error::last_system_error();
            }
        }
        return pipe_write_.get();
    }

    OwnedHandle null_;
    OwnedHandle pipe_read_;
    OwnedHandle pipe_write_;
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

struct PipeReader::Handle {
    OwnedHandle pipe;
};

struct ChildProcess::Handle {
    OwnedHandle process;
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
    DWORD got = 0;
    if (!::ReadFile(handle_->pipe.get(), buffer.data(), wanted, &got, nullptr)) {
        // The writer closed its end: that is the end of the output.
        if (::GetLastError() == ERROR_BROKEN_PIPE) return std::size_t{0};
        return Error::last_system_error();
    }
    return std::size_t{got};
}

void PipeReader::close() noexcept { handle_.reset(); }

bool PipeReader::is_open() const noexcept { return handle_ != nullptr; }

ChildProcess::ChildProcess() noexcept = default;
ChildProcess::ChildProcess(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

Status ChildProcess::terminate()
{
    // Nothing started: nothing to end.
    if (!handle_) return ok();
    HANDLE process = handle_->process.get();
    if (::TerminateProcess(process, 1)) return ok();
    const Error failure = Error::last_system_error();
    // A process that has exited, or is still exiting, refuses termination
    // with access denied; the latter is gone a moment later.
    constexpr DWORD EXIT_GRACE_MS = 2000;
    if (failure.code().value() == static_cast<int>(ERROR_ACCESS_DENIED) &&
        ::WaitForSingleObject(process, EXIT_GRACE_MS) == WAIT_OBJECT_0) {
        return ok();
    }
    return failure;
}

Result<StartedProcess> start_process(std::string_view program, std::span<const std::string> arguments,
                                     StdioSetup stdio)
{
    if (stdio.in == Stdio::pipe || stdio.err == Stdio::pipe) {
        return Error::message("Only standard output can be a pipe");
    }
    auto line = windows_command_line(program, arguments);
    if (!line) return std::move(line).error();
    auto wide_line = utf8_to_wide(*line);
    if (!wide_line) return std::move(wide_line).error();

    ChildStdio streams;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    const std::pair<Stdio, DWORD> setups[] = {
        {stdio.in, STD_INPUT_HANDLE}, {stdio.out, STD_OUTPUT_HANDLE}, {stdio.err, STD_ERROR_HANDLE}};
    HANDLE* targets[] = {&startup.StartupInfo.hStdInput, &startup.StartupInfo.hStdOutput,
                         &startup.StartupInfo.hStdError};
    std::vector<HANDLE> inherited;
    for (std::size_t i = 0; i < 3; ++i) {
        auto handle = streams.handle_for(setups[i].first, setups[i].second);
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

    // No application name: Windows takes the program from the command line and
    // looks a bare name up on its search path, adding ".exe".
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, wide_line->data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE, flags,
                          nullptr, nullptr, &startup.StartupInfo, &info)) {
        return Error::last_system_error();
    }
    OwnedHandle thread{info.hThread};

    StartedProcess started;
    started.child = ChildProcess(std::make_unique<ChildProcess::Handle>(OwnedHandle{info.hProcess}));
    if (OwnedHandle read_end = streams.take_pipe_read_end()) {
        started.output = PipeReader(std::make_unique<PipeReader::Handle>(std::move(read_end)));
    }
    // Our copies of the child's ends close with `streams`, so that the pipe
    // reports its end once the child is gone.
    return started;
}

}  // namespace lumaflick
