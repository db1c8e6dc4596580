#include "transcript.hpp"

#include <cerrno>
#include <cstring>
#include <variant>

#include "lfs_text.hpp"

namespace insim_screen {

namespace {

template <typename... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <typename... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

std::string seconds(SessionTime at)
{
    char time[32];
    std::snprintf(time, sizeof time, "%.3f ", std::chrono::duration<double>(at).count());
    return time;
}

}  // namespace

std::string quote_text(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            constexpr const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string quote_unicode(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            out += quote_text(std::string_view(&c, 1)).substr(1, 4);
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string transcript_line(SessionTime at, const Event& event)
{
    return seconds(at) + "event " + describe(event);
}

std::string transcript_line(SessionTime at, const DecodedPacket& packet, ButtonUcid ucid)
{
    return seconds(at) + std::visit(Overloaded{
                                 [](const InitPacket& p) {
                                     return "IS_ISI - " + quote_text(p.IName) + " ReqI=" + std::to_string(p.ReqI) +
                                            " Flags=" + std::to_string(p.Flags) +
                                            " InSimVer=" + std::to_string(p.InSimVer);
                                 },
                                 [ucid](const ButtonPacket& p) {
                                     return "IS_BTN " + std::to_string(p.ClickID) + " " + quote_text(p.Text) +
                                            (ucid == ButtonUcid::shown ? " UCID=" + std::to_string(p.UCID) : "") +
                                            (has_code_pages(p.Text) ? " text=" + quote_unicode(lfs_to_utf8(p.Text))
                                                                    : "");
                                 },
                                 [](const MessagePacket& p) { return "IS_MST - " + quote_text(p.Msg); },
                                 [](const LocalMessagePacket& p) {
                                     return "IS_MSL - " + quote_text(p.Msg) +
                                            (p.Sound != 0 ? " Sound=" + std::to_string(p.Sound) : "");
                                 },
                                 [](const TinyPacket& p) {
                                     return "IS_TINY - SubT=" + std::to_string(p.SubT) +
                                            (p.ReqI != 0 ? " ReqI=" + std::to_string(p.ReqI) : "");
                                 },
                                 [](const ButtonFunctionPacket& p) {
                                     return "IS_BFN " + std::to_string(p.ClickID) + " SubT=" + std::to_string(p.SubT) +
                                            " UCID=" + std::to_string(p.UCID) +
                                            " ClickMax=" + std::to_string(p.ClickMax);
                                 },
                                 [](const MalformedPacket& p) {
                                     return packet_type_name(p.Type) + " - malformed: " + p.problem;
                                 },
                             },
                             packet);
}

Result<Transcript> Transcript::open(const std::string& path)
{
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "w"));
    if (!file) return Failure{"cannot write the transcript " + path + ": " + std::strerror(errno)};
    return Transcript(std::move(file), path);
}

void Transcript::write_line(std::string_view line) noexcept
{
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fputc('\n', file_.get());
}

Status Transcript::finish() noexcept
{
    if (std::fflush(file_.get()) != 0 || std::ferror(file_.get())) {
        return Failure{"writing the transcript " + path_ + " failed"};
    }
    return {};
}

}  // namespace insim_screen
