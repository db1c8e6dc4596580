#include <gtest/gtest.h>

#include <string>

#include "packet_decoder.hpp"
#include "packet_stream.hpp"

namespace {

using namespace insim_screen;
using namespace screen_test;

Bytes from_hex(std::string_view hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

TEST(PacketDecoder, ReadsAnInitPacketAsAnIndependentClientPacksIt)
{
    // node-insim 6.0.0's IS_ISI {ReqI 1, Admin "secret", IName "Lumaflick", Flags ISF_LOCAL, InSimVer 9}.
    const Bytes packet =
        from_hex("0b0101000000040009000000736563726574000000000000000000004c756d61666c69636b00000000000000");
    const auto decoded = decode_packet(packet);
    ASSERT_TRUE(std::holds_alternative<InitPacket>(decoded));
    const auto& init = std::get<InitPacket>(decoded);
    EXPECT_EQ(init.ReqI, 1);
    EXPECT_EQ(init.Flags, 4);
    EXPECT_EQ(init.InSimVer, 9);
    EXPECT_EQ(init.IName, "Lumaflick");
    const std::array<std::uint8_t, 16> admin{'s', 'e', 'c', 'r', 'e', 't'};
    EXPECT_EQ(init.Admin, admin);
}

TEST(PacketDecoder, ReadsButtonTextsUpToTheirZeroOrTheFieldsEnd)
{
    struct Case {
        const char* name;
        Bytes packet;
        std::string text;
    };
    const std::string full(240, 'x');
    const std::vector<Case> cases{
        {"player's full-size packet", button_packet(7, 36, "^3_^0_"), "^3_^0_"},
        {"240-byte text without a zero", button_packet(1, 0, full + "ignored"), full},
        {"shortened packet", short_button_packet(2, 6, "^7_"), "^7_"},
        {"head only", raw_packet(3, 45), ""},
        {"empty text", button_packet(1, 0, ""), ""},
    };
    for (const auto& c : cases) {
        const auto decoded = decode_packet(c.packet);
        ASSERT_TRUE(std::holds_alternative<ButtonPacket>(decoded)) << c.name;
        EXPECT_EQ(std::get<ButtonPacket>(decoded).Text, c.text) << c.name;
    }
    const auto button = std::get<ButtonPacket>(decode_packet(button_packet(7, 36, "a")));
    EXPECT_EQ(button.ClickID, 7);
    EXPECT_EQ(button.T, 36);
    EXPECT_EQ(button.W, 240);
    EXPECT_EQ(button.H, 6);
    EXPECT_EQ(button.BStyle, 32);
    EXPECT_EQ(button.UCID, 255);
}

TEST(PacketDecoder, ReadsALocalMessage)
{
    const auto local = std::get<LocalMessagePacket>(decode_packet(local_message_packet("Paused", 1)));
    EXPECT_EQ(local.Sound, 1);
    EXPECT_EQ(local.Msg, "Paused");
}

TEST(PacketDecoder, CallsWhatItCannotTakeMalformed)
{
    struct Case {
        const char* name;
        Bytes packet;
        std::string problem;
    };
    const std::vector<Case> cases{
        {"button text over 240", raw_packet(64, 45), "IS_BTN text of 244 bytes is over 240"},
        {"longest size", raw_packet(255, 45), "IS_BTN text of 1008 bytes is over 240"},
        {"button without its head", raw_packet(2, 45), "IS_BTN of 8 bytes is shorter than its 12-byte head"},
        {"init too short", raw_packet(10, 1), "IS_ISI of 40 bytes, expected 44"},
        {"message too long", raw_packet(18, 13), "IS_MST of 72 bytes, expected 68"},
        {"tiny too long", raw_packet(2, 3), "IS_TINY of 8 bytes, expected 4"},
        {"local message as long as an IS_MSO", raw_packet(34, 40), "IS_MSL of 136 bytes, expected 132"},
        {"unknown type", raw_packet(1, 99), "unknown packet type 99"},
        {"type 0", raw_packet(1, 0), "unknown packet type 0"},
        {"a host's packet", raw_packet(5, 2), "unknown packet type 2"},
        {"fewer than 4 bytes", Bytes{1, 3}, "packet of 2 bytes"},
    };
    for (const auto& c : cases) {
        const auto decoded = decode_packet(c.packet);
        ASSERT_TRUE(std::holds_alternative<MalformedPacket>(decoded)) << c.name;
        EXPECT_EQ(std::get<MalformedPacket>(decoded).problem, c.problem) << c.name;
    }
}

}  // namespace
