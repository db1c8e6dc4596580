#include "driver/lfs_link.hpp"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

namespace lumaflick {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes VERSION = {5, 2, 1, 0, '0', '.', '7', 'F', 0, 0, 0, 0, 'S', '3', 0, 0, 0, 0, 9, 0};
const Bytes KEEPALIVE = {1, 3, 0, 0};

const std::string CLOSED = "\"LFS closed the InSim connection\"";
const std::string CLOSED_SILENT =
    "\"LFS closed the InSim connection before answering: is the admin password right?\"";

Error system(std::errc code) { return Error::system(std::make_error_code(code)); }

// What LFS sent, cut into reads, then how the stream ended: the error the run
// ends with, or the framing error on the way.
TEST(LfsLink, SaysHowLfsWentAway)
{
    struct Case {
        const char* name;
        std::vector<Bytes> reads;
        std::optional<Error> failure;  // nullopt: LFS closed its end
        std::string error;
        std::uint64_t packets = 0;
    };
    Bytes both = VERSION;
    both.insert(both.end(), KEEPALIVE.begin(), KEEPALIVE.end());
    const std::vector<Case> cases{
        {"closed before a word: the password", {}, std::nullopt, CLOSED_SILENT},
        {"reset before a word", {}, system(std::errc::connection_reset), CLOSED_SILENT},
        {"closed after answering", {VERSION}, std::nullopt, CLOSED, 1},
        {"reset after answering", {VERSION}, system(std::errc::connection_reset), CLOSED, 1},
        {"broken pipe on a write", {both}, system(std::errc::broken_pipe), CLOSED, 2},
        {"any other failure is its own", {}, system(std::errc::io_error), system(std::errc::io_error).debug()},
        // A packet cut anywhere still counts once, and half a packet is heard.
        {"cut inside packets", {Bytes(both.begin(), both.begin() + 3), Bytes(both.begin() + 3, both.end() - 1)},
         std::nullopt, CLOSED, 1},
        {"a size of 0", {Bytes{0, 3, 0, 0}}, std::nullopt,
         "\"LFS sent an InSim stream that cannot be read: a packet of size 0\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LfsLink link;
        Screens screens(true);
        Timeline timeline(std::nullopt, std::nullopt, 30);
        Controls controls(timeline);
        std::string error;
        for (const Bytes& read : c.reads) {
            if (auto taken = link.take(read, screens, controls); !taken) error = taken.error().debug();
        }
        if (error.empty()) error = (c.failure ? link.failed(*c.failure) : link.closed()).debug();
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(link.packets(), c.packets);
    }
}

}  // namespace
}  // namespace lumaflick
