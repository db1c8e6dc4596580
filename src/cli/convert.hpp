#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "error.hpp"

namespace lumaflick {

struct SocketAddressV4 {
    std::array<std::uint8_t, 4> address{};
    std::uint16_t port = 0;
    friend bool operator==(const SocketAddressV4&, const SocketAddressV4&) = default;
};

// The strict conversions of command-line values. A refusal is a message error
// whose text is the reason, ready to follow "invalid value '...' for '...': ".

// An optional "+" and one or more decimal digits, at most 18446744073709551615.
Result<std::uint64_t> parse_u64(std::string_view text);

// An optional "+" or "-" and one or more decimal digits, within 64 bits.
Result<std::int64_t> parse_i64(std::string_view text);

struct Position {
    unsigned left = 0;
    unsigned top = 0;
    friend bool operator==(const Position&, const Position&) = default;
};

// "L,T": two numbers of plain digits with a comma between, each at most 65535.
Result<Position> parse_position(std::string_view text);

struct Resolution {
    unsigned columns = 0;
    unsigned rows = 0;
    friend bool operator==(const Resolution&, const Resolution&) = default;
};

// "COLSxROWS": two numbers of plain digits with an x between, each at most 65535.
Result<Resolution> parse_resolution(std::string_view text);

// "a.b.c.d:port": address numbers 0-255 without leading zeros, port 0-65535
// (leading zeros allowed), nothing else; no host names.
Result<SocketAddressV4> parse_socket_address_v4(std::string_view text);

bool is_valid_utf8(std::string_view text);

// The text with every byte that does not belong to a valid UTF-8 sequence
// replaced by U+FFFD, so that it can be shown on a console.
std::string lossy_utf8(std::string_view text);

}  // namespace lumaflick
