#include "control/key_decoder.hpp"

namespace lumaflick {

namespace {

constexpr std::uint8_t ESC = 0x1b;

std::optional<Key> arrow(std::uint8_t final_byte)
{
    switch (final_byte) {
    case 'A': return Key::forward_60;
    case 'B': return Key::back_60;
    case 'C': return Key::forward_10;
    case 'D': return Key::back_10;
    default: return std::nullopt;
    }
}

bool is_parameter(std::uint8_t byte) { return byte >= 0x30 && byte <= 0x3f; }
bool is_intermediate(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x2f; }
bool is_final(std::uint8_t byte) { return byte >= 0x40 && byte <= 0x7e; }

}  // namespace

void KeyDecoder::feed(std::span<const std::uint8_t> bytes, std::vector<Key>& out)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        switch (state_) {
        case State::ground:
            if (byte == ' ') out.push_back(Key::play_pause);
            else if (byte == 'q' || byte == 'Q') out.push_back(Key::stop);
            else if (byte == ESC) state_ = State::escape;
            break;
        case State::escape:
            if (byte == '[') {
                state_ = State::csi;
                plain_ = true;
            } else if (byte == 'O') {
                state_ = State::ss3;
            } else if (byte != ESC) {
                // The ESC key alone (or Alt with a key): the byte after it is a key of its own.
                state_ = State::ground;
                --i;
            }
            break;
        case State::csi:
            if (byte == ESC) {
                state_ = State::escape;
            } else if (is_final(byte)) {
                if (const auto key = arrow(byte); key && plain_) out.push_back(*key);
                state_ = State::ground;
            } else if (is_intermediate(byte) || (is_parameter(byte) && byte >= '<')) {
                plain_ = false;
            } else if (byte >= 0x80) {
                // No terminal puts these inside a sequence: it was cut off.
                state_ = State::ground;
            }
            // Digits, separators and stray controls continue the sequence.
            break;
        case State::ss3:
            if (byte == ESC) {
                state_ = State::escape;
            } else if (is_final(byte)) {
                if (const auto key = arrow(byte)) out.push_back(*key);
                state_ = State::ground;
            } else if (!is_parameter(byte)) {
                state_ = State::ground;
                --i;
            }
            break;
        }
    }
}

std::optional<Key> key_from_virtual_key(std::uint16_t vk, char32_t ch)
{
    if (ch == U' ') return Key::play_pause;
    if (ch == U'q' || ch == U'Q') return Key::stop;
    if (ch != 0) return std::nullopt;
    switch (vk) {
    case 0x20: return Key::play_pause;  // VK_SPACE
    case 0x25: return Key::back_10;     // VK_LEFT
    case 0x26: return Key::forward_60;  // VK_UP
    case 0x27: return Key::forward_10;  // VK_RIGHT
    case 0x28: return Key::back_60;     // VK_DOWN
    case 'Q': return Key::stop;
    default: return std::nullopt;
    }
}

}  // namespace lumaflick
