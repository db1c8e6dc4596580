// Byte images checked against vectors written out by hand from the protocol tables.
#include "insim/packets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes to_vector(std::span<const std::byte, N> image)
{
    Bytes out;
    for (const std::byte b : image) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

Bytes from_hex(std::string_view hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// `text` followed by zero bytes up to `width`.
Bytes field(std::string_view text, std::size_t width)
{
    Bytes out(text.begin(), text.end());
    out.resize(width, 0);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const auto lumaflick_name = insim::display_name("Lumaflick");

// 300 bytes of a to z, over and over.
const std::string long_text = [] {
    std::string s;
    for (int i = 0; i < 300; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}();

// Every head byte a different mark, from 0xc2 at offset 2 to 0xcb at 11.
insim::IS_BTN marked_head()
{
    insim::IS_BTN head;
    head.ReqI = 0xc2;
    head.UCID = 0xc3;
    head.ClickID = 0xc4;
    head.Inst = 0xc5;
    head.BStyle = 0xc6;
    head.TypeIn = 0xc7;
    head.L = 0xc8;
    head.T = 0xc9;
    head.W = 0xca;
    head.H = 0xcb;
    return head;
}

TEST(InitPacket, ByteImages)
{
    const std::uint16_t local[] = {insim::ISF_LOCAL};
    const std::uint16_t none[1] = {};
    const std::uint16_t high_and_low[] = {0x0100, insim::ISF_LOCAL};
    const auto image = [](std::uint8_t low, std::uint8_t high, std::string_view password) {
        return concat({{11, 1, 1, 0, 0, 0, low, high, 9, 0, 0, 0}, field(password, 16), field("Lumaflick", 16)});
    };
    struct Case {
        const char* name;
        std::span<const std::uint16_t> flags;
        std::string_view password;
        Bytes expected;
    };
    const Case cases[] = {
        // The same vector as node-insim produces.
        {"local secret", local, "secret",
         from_hex("0b0101000000040009000000736563726574000000000000000000004c756d61666c69636b00000000000000")},
        {"no flags, empty password", std::span(none, 0), "", image(0, 0, "")},
        {"zero flag", none, "x", image(0, 0, "x")},
        {"15 characters fill bytes 12 to 26", local, "abcdefghijklmno", image(4, 0, "abcdefghijklmno")},
        {"flags are little-endian", high_and_low, "pw", image(4, 1, "pw")},
        {"DEL and punctuation are ASCII", local, "a\x7f\"^ \\", image(4, 0, "a\x7f\"^ \\")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto packet = insim::make_init_packet(c.flags, c.password, lumaflick_name);
        ASSERT_TRUE(packet) << packet.error().debug();
        const Bytes bytes = to_vector(insim::image(*packet));
        ASSERT_EQ(bytes.size(), 44U);
        EXPECT_EQ(bytes, c.expected);
        EXPECT_EQ(bytes[27], 0);
    }
}

TEST(InitPacket, RefusedPasswords)
{
    constexpr std::string_view ascii = "Given admin password is not typed in ASCII!";
    constexpr std::string_view too_long = "Admin password cannot be longer than 15 characters!";
    struct Case {
        const char* name;
        std::string password;
        std::string_view message;
    };
    const Case cases[] = {
        {"16 ASCII characters", "abcdefghijklmnop", too_long},
        {"40 ASCII characters", std::string(40, 'a'), too_long},
        {"short, one non-ASCII character", "p\xc3\xa4ss", ascii},
        {"20 bytes with a non-ASCII character: ASCII comes first", "abcdefghijklmnopqr\xc3\xa4", ascii},
        {"byte 0x80 alone", "\x80", ascii},
        {"byte 0xff at the end of 15", std::string(14, 'a') + "\xff", ascii},
        {"8 two-byte characters are 16 bytes", "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4",
         ascii},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto packet = insim::make_init_packet({}, c.password, lumaflick_name);
        ASSERT_FALSE(packet);
        EXPECT_TRUE(packet.error().is_message());
        EXPECT_EQ(packet.error().text(), c.message);
    }
}

TEST(Flags, CombineFlags)
{
    EXPECT_EQ(insim::combine_flags({}), 0);
    EXPECT_EQ(insim::combine_flags({insim::ISF_LOCAL}), 4);
    EXPECT_EQ(insim::combine_flags({insim::ISF_LOCAL, insim::ISF_LOCAL}), 4);
    EXPECT_EQ(insim::combine_flags({insim::ISF_LOCAL, insim::ISB_DARK, 0x8000}), 0x8024);
    const std::vector<std::uint16_t> list{insim::ISB_DARK};
    EXPECT_EQ(insim::combine_flags(list), 32);
    EXPECT_EQ(insim::combine_flags(std::span<const std::uint16_t>{}), 0);
}

TEST(InitPacket, DisplayNameField)
{
    const auto empty = insim::display_name("");
    EXPECT_EQ(Bytes(empty.begin(), empty.end()), field("", 16));
    // Longer names are cut so that the field stays zero-terminated.
    const auto long_name = insim::display_name("abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(Bytes(long_name.begin(), long_name.end()), field("abcdefghijklmno", 16));
}

TEST(MessagePacket, ByteImages)
{
    const std::string max(63, 'm');
    // 31 two-byte characters and one ASCII byte: 63 bytes, copied as they are.
    std::string utf8;
    for (int i = 0; i < 31; ++i) utf8 += "\xc3\xa9";
    utf8 += '!';
    struct Case {
        const char* name;
        std::string message;
        Bytes expected;
    };
    const Case cases[] = {
        {"statistics line, as node-insim packs it", "Read bytes: 70kB, Skipped 0 frames (0%)",
         concat({from_hex("110d0000526561642062797465733a2037306b422c20536b69707065642030206672616d6573202830252"
                          "9"),
                 Bytes(25, 0)})},
        {"empty", "", concat({{17, 13, 0, 0}, Bytes(64, 0)})},
        {"63 bytes leave one zero", max, concat({{17, 13, 0, 0}, field(max, 64)})},
        {"63 bytes of UTF-8", utf8, concat({{17, 13, 0, 0}, field(utf8, 64)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto packet = insim::make_message_packet(c.message);
        ASSERT_TRUE(packet) << packet.error().debug();
        const Bytes bytes = to_vector(insim::image(*packet));
        ASSERT_EQ(bytes.size(), 68U);
        EXPECT_EQ(bytes, c.expected);
        EXPECT_EQ(bytes[67], 0);
    }
}

TEST(MessagePacket, RefusedMessages)
{
    std::string two_byte;
    for (int i = 0; i < 32; ++i) two_byte += "\xc3\xa9";
    for (const std::string& message : {std::string(64, 'm'), std::string(200, 'm'), two_byte}) {
        SCOPED_TRACE(message.size());
        auto packet = insim::make_message_packet(message);
        ASSERT_FALSE(packet);
        EXPECT_EQ(packet.error().debug(), "\"Message length too long for IS_MST!\"");
    }
}

TEST(ButtonPacket, EveryHeadFieldAtItsOffset)
{
    insim::IS_BTN button;
    EXPECT_EQ(to_vector(insim::image(button)), concat({{63, 45, 1, 255, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(240, 0)}));

    button = marked_head();
    button.Text.front() = 'A';
    button.Text.back() = 'Z';
    Bytes expected = concat({{63, 45, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xcb}, Bytes(240, 0)});
    expected[12] = 'A';
    expected[251] = 'Z';
    EXPECT_EQ(to_vector(insim::image(button)), expected);
}

TEST(ButtonPacket, SetButtonText)
{
    struct Case {
        const char* name;
        std::size_t length;
        std::size_t zeros;
    };
    const Case cases[] = {
        {"0 bytes", 0, 240},
        {"239 bytes leave one zero", 239, 1},
        {"240 bytes leave no zero", 240, 0},
        {"300 bytes keep the first 240", 300, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        insim::IS_BTN button;
        // The template is reused, so a shorter text must wipe the longer one before it.
        button.Text.fill('#');
        insim::set_button_text(button, std::string_view(long_text).substr(0, c.length));
        const Bytes text(button.Text.begin(), button.Text.end());
        EXPECT_EQ(text, field(long_text.substr(0, 240 - c.zeros), 240));
        EXPECT_EQ(to_vector(insim::image(button)).size(), 252U);
        EXPECT_EQ(button.Size, 63);
    }

    // A multi-byte character at the cut is cut too.
    insim::IS_BTN button;
    insim::set_button_text(button, std::string(239, 'x') + "\xc3\xa9");
    EXPECT_EQ(button.Text[239], 0xc3);
}

TEST(ButtonPacket, ShortPacking)
{
    insim::IS_BTN head = marked_head();
    head.Text.fill('#');  // never read
    // {text length, total}: at least one zero after the text, unless it fills all 240 bytes.
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 16},     {1, 16},     {3, 16},     {4, 20},
                                                         {236, 252},  {237, 252},  {239, 252},  {240, 252},
                                                         {241, 252},  {300, 252}};
    for (const auto& [length, total] : cases) {
        SCOPED_TRACE(length);
        std::array<std::byte, 252> out;
        out.fill(std::byte{0xee});
        ASSERT_EQ(insim::write_short_button(head, std::string_view(long_text).substr(0, length), out), total);
        const Bytes bytes = to_vector(std::span<const std::byte, 252>(out));
        const std::size_t kept = std::min<std::size_t>(length, 240);
        const auto size = static_cast<std::uint8_t>(total / 4);
        EXPECT_EQ(bytes, concat({{size, 45, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xcb},
                                 field(long_text.substr(0, kept), total - 12), Bytes(252 - total, 0xee)}));
    }
}

TEST(ColourCodes, DropRepeated)
{
    const std::string glyphs = [] {
        std::string s;
        for (int i = 0; i < 80; ++i) s += "^6_";
        return s;
    }();
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"default glyph line", "^6_^6_^6_", "^6___"},
        {"alternating codes", "^0_^3_^0_^3_", "^0_^3_^0_^3_"},
        {"^8 and ^9 are distinct codes", "^8_^9_^9_^8_", "^8_^9__^8_"},
        {"escaped caret before a digit", "^^6_^6_", "^^6_^6_"},
        {"an escaped caret keeps the colour in force", "^6^^6^6", "^6^^6"},
        {"escaped caret, then a code", "^^^6^6", "^^^6"},
        {"other carets are text", "^L^6a^Lb^6c^", "^L^6a^Lbc^"},
        {"lone caret at the end", "_^", "_^"},
        {"line cut after the caret of a code", glyphs.substr(0, 237) + "__^", "^6" + std::string(81, '_') + "^"},
        {"repeated code in the last two bytes", glyphs.substr(0, 237) + "_^6", "^6" + std::string(80, '_')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Room for exactly the text; the marks after it must stay.
        std::string out(c.text.size() + 4, '#');
        const std::size_t n = insim::drop_repeated_colour_codes(c.text, std::span(out).first(c.text.size()));
        EXPECT_EQ(out.substr(0, n), c.expected);
        EXPECT_EQ(out.substr(c.text.size()), "####");
        // In place, as the caller may run it over its own line.
        std::string line = c.text;
        EXPECT_EQ(line.substr(0, insim::drop_repeated_colour_codes(line, line)), c.expected);
    }
}

TEST(Packets, KeepAlive)
{
    EXPECT_EQ(to_vector(insim::image(insim::IS_TINY{})), (Bytes{1, 3, 0, 0}));
}

}  // namespace
