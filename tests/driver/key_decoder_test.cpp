#include "control/key_decoder.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace lumaflick {
namespace {

using enum Key;

std::vector<Key> decode(KeyDecoder& decoder, std::string_view bytes)
{
    std::vector<Key> keys;
    decoder.feed({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, keys);
    return keys;
}

// Each row is decoded whole, cut in two at every position, and byte by byte.
TEST(KeyDecoder, FindsTheKeysWhereverTheReadsAreCut)
{
    struct Case {
        const char* name;
        std::string_view bytes;
        std::vector<Key> keys;
    };
    const std::vector<Case> cases{
        {"space and q", " qQ", {play_pause, stop, stop}},
        {"other characters", "a\t\r\n\x7f\xc3\xa9Z", {}},
        {"arrows", "\x1b[A\x1b[B\x1b[C\x1b[D", {forward_60, back_60, forward_10, back_10}},
        {"arrows in application mode", "\x1bOA\x1bOB\x1bOC\x1bOD", {forward_60, back_60, forward_10, back_10}},
        {"arrows with modifiers", "\x1b[1;5C\x1b[1;2D\x1bO5A", {forward_10, back_10, forward_60}},
        {"function keys skipped whole", "\x1b[15~q\x1bOP \x1b[[A", {stop, play_pause}},
        {"a mouse report hides no keys", "\x1b[<0;32;20Mq", {stop}},
        {"space and q inside a sequence", "\x1b[2 q\x1b[?1;2 A", {}},
        {"the escape key then a key", "\x1bq\x1b \x1b\x1b[C", {stop, play_pause, forward_10}},
        {"a sequence broken off by another", "\x1b[1;\x1bOD", {back_10}},
        {"a sequence broken off by text", "\x1b[1\xc3\xa9 ", {play_pause}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyDecoder whole;
        EXPECT_EQ(decode(whole, c.bytes), c.keys);
        for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
            SCOPED_TRACE(cut);
            KeyDecoder decoder;
            std::vector<Key> keys = decode(decoder, c.bytes.substr(0, cut));
            for (const Key key : decode(decoder, c.bytes.substr(cut))) keys.push_back(key);
            EXPECT_EQ(keys, c.keys);
        }
        KeyDecoder single;
        std::vector<Key> keys;
        for (const char byte : c.bytes) {
            for (const Key key : decode(single, std::string_view(&byte, 1))) keys.push_back(key);
        }
        EXPECT_EQ(keys, c.keys);
    }
}

TEST(KeyDecoder, MapsConsoleKeys)
{
    struct Case {
        std::uint16_t vk;
        char32_t ch;
        std::optional<Key> key;
    };
    const std::vector<Case> cases{
        {0x20, U' ', play_pause}, {0x51, U'q', stop},      {0x51, U'Q', stop},       {0x25, 0, back_10},
        {0x26, 0, forward_60},    {0x27, 0, forward_10},    {0x28, 0, back_60},
        {0x51, 0x11, std::nullopt},  // Ctrl+Q, as the terminal ignores it
        {0x51, U'й', std::nullopt},  // a layout whose Q key types another letter
        {0x41, U'a', std::nullopt},  {0x70, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.vk << ' ' << static_cast<std::uint32_t>(c.ch));
        EXPECT_EQ(key_from_virtual_key(c.vk, c.ch), c.key);
    }
}

}  // namespace
}  // namespace lumaflick
