#pragma once

// The platform's handle of a child's output pipe, shared by PipeReader (in
// process_*.cpp) and PipeStream, which takes it over.

#include "video/process.hpp"

#ifdef _WIN32
#include "video/process_windows.hpp"
#else
#include "video/unique_fd.hpp"
#endif

namespace lumaflick {

#ifdef _WIN32
struct PipeReader::Handle {
    OwnedHandle pipe;   // the overlapped read end of the named pipe
    OwnedHandle event;  // signals the completion of PipeReader's own reads
};
#else
struct PipeReader::Handle {
    Fd fd;
};
#endif

}  // namespace lumaflick
