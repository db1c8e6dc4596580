#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumaflick {

// What a key on the terminal asks of the playback.
enum class Key { play_pause, back_10, forward_10, back_60, forward_60, stop };

// Turns the bytes a terminal sends into keys: space, q or Q, and the arrows
// (ESC [ A..D, ESC O A..D, with or without modifier parameters such as
// ESC [ 1 ; 5 C, which count as the plain arrow). Everything else is skipped:
// an unknown escape sequence up to its final byte. A sequence may be cut
// anywhere between reads; the decoder carries its state over.
class KeyDecoder {
public:
    // Appends the keys that `bytes` complete to `out`; allocates only when
    // `out` has to grow.
    void feed(std::span<const std::uint8_t> bytes, std::vector<Key>& out);

private:
    enum class State : std::uint8_t { ground, escape, csi, ss3 };
    State state_ = State::ground;
    // A CSI with a private marker or intermediate bytes is never an arrow.
    bool plain_ = true;
};

// A key-down record of a Windows console: its virtual-key code and the
// character it types (0 for none). Space and q go by the character, so that
// they are what the layout types; a key that types none (the arrows) by the
// code. nullopt for any other key.
std::optional<Key> key_from_virtual_key(std::uint16_t vk, char32_t ch);

}  // namespace lumaflick
