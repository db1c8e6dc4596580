#pragma once

namespace lumaflick {

// Our console text is UTF-8. A Windows console shows bytes in its output code
// page, so for as long as the program runs that page is UTF-8 (ffmpeg, which
// shares the console and also writes UTF-8, profits too); the user's page
// comes back on every way out: return, exit, Ctrl+C, closing the window,
// abort. Does nothing without a console, or where consoles take UTF-8 anyway.
void use_utf8_console() noexcept;

}  // namespace lumaflick
