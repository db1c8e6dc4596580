#pragma once

// Hand-made InSim byte streams, built from the packet records' wire images.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace screen_test {

using Bytes = std::vector<std::uint8_t>;

// Flags 4 is ISF_LOCAL, as the player sends it to 127.0.0.1.
Bytes init_packet(std::string_view password = "", std::uint8_t version = 9, std::uint8_t reqi = 1,
                  std::uint16_t flags = 4);
// As the player sends it: always 252 bytes.
Bytes button_packet(std::uint8_t click_id, std::uint8_t t, std::string_view text, std::uint8_t ucid = 255);
// As other clients send it: cut after the text's terminating zero, to a multiple of 4.
Bytes short_button_packet(std::uint8_t click_id, std::uint8_t t, std::string_view text);
Bytes message_packet(std::string_view text);
// IS_MSL: always 132 bytes.
Bytes local_message_packet(std::string_view text, std::uint8_t sound = 0);
Bytes tiny_packet(std::uint8_t subt = 0, std::uint8_t reqi = 0);
// `size` × 4 bytes (at least 4) of the given type, the rest `fill`.
Bytes raw_packet(std::uint8_t size, std::uint8_t type, std::uint8_t fill = 0);

Bytes join(std::initializer_list<Bytes> parts);

// Where a player puts its picture: row k is ClickID first_click_id + k at
// T top + k × row_height, as wide as its 80 glyphs.
struct Placement {
    std::uint8_t first_click_id = 1;
    std::uint8_t left = 0;
    std::uint8_t top = 0;
    std::uint8_t row_height = 6;
};

// A row of 80 glyphs "^d_" with the colour digit of column c taken from `colours` cyclically.
Bytes picture_row_button(std::uint8_t row, std::string_view colours, std::uint8_t ucid = 255, Placement at = {});
// All 30 rows of such buttons.
Bytes full_frame(std::string_view colours, std::uint8_t ucid = 255, Placement at = {});

}  // namespace screen_test
