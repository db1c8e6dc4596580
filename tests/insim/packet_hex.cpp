// Prints our packet bytes as hex for field values given on the command line,
// so that a script can compare them with another InSim implementation.
//   insim_packet_hex isi FLAGS ADMIN INAME
//   insim_packet_hex mst MESSAGE
//   insim_packet_hex btn CLICKID T TEXT     (the renderer's template: dark, W 240, H 6)
//   insim_packet_hex sbtn CLICKID T TEXT    (the same, packed at its shortest)
#include "insim/packets.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace {

void print_hex(std::span<const std::byte> bytes)
{
    for (const std::byte b : bytes) std::printf("%02x", static_cast<unsigned>(b));
    std::printf("\n");
}

int usage()
{
    std::fprintf(stderr,
                 "usage: insim_packet_hex isi FLAGS ADMIN INAME | mst MESSAGE | btn CLICKID T TEXT"
                 " | sbtn CLICKID T TEXT\n");
    return 2;
}

int refused(const insim::Error& error)
{
    std::fprintf(stderr, "%s\n", error.debug().c_str());
    return 1;
}

std::uint8_t byte_value(const char* text) { return static_cast<std::uint8_t>(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return usage();
    const std::string_view kind = argv[1];
    if (kind == "isi" && argc == 5) {
        const auto flags = static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 10));
        auto packet = insim::make_init_packet(std::span(&flags, 1), argv[3], insim::display_name(argv[4]));
        if (!packet) return refused(packet.error());
        print_hex(insim::image(*packet));
        return 0;
    }
    if (kind == "mst" && argc == 3) {
        auto packet = insim::make_message_packet(argv[2]);
        if (!packet) return refused(packet.error());
        print_hex(insim::image(*packet));
        return 0;
    }
    if ((kind == "btn" || kind == "sbtn") && argc == 5) {
        insim::IS_BTN button;
        button.BStyle = static_cast<std::uint8_t>(insim::combine_flags({insim::ISB_DARK}));
        button.W = 240;
        button.H = 6;
        button.ClickID = byte_value(argv[2]);
        button.T = byte_value(argv[3]);
        if (kind == "sbtn") {
            std::array<std::byte, sizeof(insim::IS_BTN)> out{};
            print_hex(std::span(out).first(insim::write_short_button(button, argv[4], out)));
            return 0;
        }
        insim::set_button_text(button, argv[4]);
        print_hex(insim::image(button));
        return 0;
    }
    return usage();
}
