// Bytes on the InSim stream per shown frame when some of a host's
// connections have cleared our buttons, and the size of a whole picture sent
// to one connection, for raw 80 x 30 frames read from a file.
//   guest-bytes FRAMES [--colour] [--compact]
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "frame.hpp"
#include "picture/frame_update.hpp"
#include "picture/screens.hpp"

namespace {

using lumaflick::FrameUpdate;
using lumaflick::Packing;
using lumaflick::Screens;

FrameUpdate make_update(bool colour, bool compact)
{
    const Packing packing = compact ? Packing::shortest : Packing::full;
    return colour ? FrameUpdate::colour(packing) : FrameUpdate::grey({"^0_", "^3_", "^6_", "^7_"}, packing);
}

insim::IS_NCN connection(std::uint8_t ucid, std::uint8_t total, std::uint8_t reqi)
{
    insim::IS_NCN packet;
    packet.ReqI = reqi;
    packet.UCID = ucid;
    packet.Total = total;
    return packet;
}

insim::IS_BFN buttons(std::uint8_t subt, std::uint8_t ucid)
{
    insim::IS_BFN packet;
    packet.SubT = subt;
    packet.UCID = ucid;
    return packet;
}

// A host with `total` connections (UCID 0 the host), of which the last
// `cleared` cleared before the first frame, and LFS listed them all.
Screens host(std::uint8_t total, std::uint8_t cleared)
{
    Screens screens(false);
    for (std::uint8_t ucid = 0; ucid < total; ++ucid) screens.hear(connection(ucid, ucid + 1, 0));
    for (std::uint8_t ucid = total - cleared; ucid < total; ++ucid) {
        screens.hear(buttons(insim::BFN_USER_CLEAR, ucid));
    }
    for (std::uint8_t ucid = 0; ucid < total; ++ucid) {
        screens.hear(connection(ucid, total, Screens::LIST_REQUEST_ID));
    }
    (void)screens.take_due();
    screens.due_written();
    return screens;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: guest-bytes FRAMES [--colour] [--compact]\n", stderr);
        return 2;
    }
    bool colour = false;
    bool compact = false;
    for (int i = 2; i < argc; ++i) {
        colour = colour || std::string_view(argv[i]) == "--colour";
        compact = compact || std::string_view(argv[i]) == "--compact";
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> raw{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t frame_size = lumaflick::FRAME_SIZE * (colour ? 3 : 1);
    const std::size_t frames = raw.size() / frame_size;
    if (frames == 0) {
        std::fputs("guest-bytes: no whole frame in the file\n", stderr);
        return 1;
    }
    const auto frame = [&](std::size_t i) { return std::span(raw).subspan(i * frame_size, frame_size); };

    // The whole picture to one connection, after each frame.
    double redraw = 0;
    {
        FrameUpdate update = make_update(colour, compact);
        Screens screens(false);
        for (std::size_t i = 0; i < frames; ++i) {
            const auto rows = update.show(frame(i));
            (void)screens.show(rows);
            screens.written(rows);
            screens.hear(buttons(insim::BFN_REQUEST, 1));
            redraw += static_cast<double>(screens.take_due().size());
            screens.due_written();
        }
    }
    std::printf("%s, %s: %zu frames; a whole picture to one connection: %.0f bytes on average\n",
                colour ? "colour" : "grey", compact ? "--compact" : "full-size packets", frames,
                redraw / static_cast<double>(frames));
    std::printf("%-12s %10s %10s %10s   (bytes per shown frame, by connections that cleared)\n", "connections",
                "0", "1", "5");
    for (const std::uint8_t total : {std::uint8_t{1}, std::uint8_t{5}, std::uint8_t{20}}) {
        std::printf("%-12u", total);
        for (const std::uint8_t cleared : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{5}}) {
            if (cleared > total) {
                std::printf(" %10s", "-");
                continue;
            }
            FrameUpdate update = make_update(colour, compact);
            Screens screens = host(total, cleared);
            double bytes = 0;
            for (std::size_t i = 0; i < frames; ++i) {
                const auto rows = update.show(frame(i));
                bytes += static_cast<double>(screens.show(rows).size());
                screens.written(rows);
            }
            std::printf(" %10.0f", bytes / static_cast<double>(frames));
        }
        std::printf("\n");
    }
    return 0;
}
