#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "events.hpp"
#include "failure.hpp"
#include "session.hpp"

namespace insim_screen {

// A host with guests adds each button's UCID to its line: ` UCID=255`.
enum class ButtonUcid { left_out, shown };

// One line for a packet: seconds since the connection opened, type, ClickID
// ("-" for packets without one) and text, e.g. `1.234 IS_BTN 3 "^0_^3_"`; a
// button text in LFS's code pages also as it reads: ` text="Dobrý den"`.
std::string transcript_line(SessionTime at, const DecodedPacket& packet, ButtonUcid ucid = ButtonUcid::left_out);

// An event among the packets: `2.500 event join 1 "guest1"`.
std::string transcript_line(SessionTime at, const Event& event);

// Texts in double quotes, with `"`, `\` and bytes outside printable ASCII escaped.
std::string quote_text(std::string_view text);
// UTF-8 text in double quotes, with `"`, `\` and control characters escaped.
std::string quote_unicode(std::string_view text);

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
