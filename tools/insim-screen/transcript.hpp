#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "session.hpp"

namespace insim_screen {

// One line for a packet: seconds since the connection opened, type, ClickID
// ("-" for packets without one) and text, e.g. `1.234 IS_BTN 3 "^0_^3_"`.
std::string transcript_line(SessionTime at, const DecodedPacket& packet);

// Texts in double quotes, with `"`, `\` and bytes outside printable ASCII escaped.
std::string quote_text(std::string_view text);

class Transcript {
public:
    static Result<Transcript> open(const std::string& path);

    void write_line(std::string_view line) noexcept;
    // Flushes, and reports a write that went wrong at any point.
    Status finish() noexcept;

private:
    struct Closer {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    Transcript(std::unique_ptr<std::FILE, Closer> file, std::string path)
        : file_(std::move(file)), path_(std::move(path)) {}

    std::unique_ptr<std::FILE, Closer> file_;
    std::string path_;
};

}  // namespace insim_screen
