#include "cli/convert.hpp"

#include <limits>
#include <utility>

namespace lumaflick {

namespace {

constexpr std::string_view INVALID_DIGIT = "invalid digit found in string";
constexpr std::string_view EMPTY_NUMBER = "cannot parse integer from empty string";
constexpr std::string_view TOO_LARGE = "number too large to fit in target type";
constexpr std::string_view INVALID_ADDRESS = "invalid IPv4 socket address syntax";

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the decimal digits at the front of `text` into `value`, refusing a value
// above `max`; returns how many digits were read, or 0 on overflow.
std::size_t read_decimal(std::string_view text, std::uint64_t max, std::uint64_t& value)
{
    value = 0;
    std::size_t n = 0;
    for (; n < text.size() && is_digit(text[n]); ++n) {
        const auto digit = static_cast<std::uint64_t>(text[n] - '0');
        if (value > (max - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return n;
}

// Length of the valid UTF-8 sequence at the front of `text`, 0 when there is none.
// Overlong forms, surrogates and code points above U+10FFFF are not valid.
std::size_t utf8_sequence_length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;

    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

Result<std::uint64_t> parse_u64(std::string_view text)
{
    if (text.empty()) return Error::message(std::string(EMPTY_NUMBER));
    if (text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return Error::message(std::string(INVALID_DIGIT));

    std::uint64_t value = 0;
    const std::size_t digits = read_decimal(text, std::numeric_limits<std::uint64_t>::max(), value);
    if (digits == 0) {
        // Overflow, unless the digit run stopped at once on a non-digit.
        return Error::message(std::string(is_digit(text.front()) ? TOO_LARGE : INVALID_DIGIT));
    }
    if (digits != text.size()) return Error::message(std::string(INVALID_DIGIT));
    return value;
}

Result<std::int64_t> parse_i64(std::string_view text)
{
    const bool negative = text.starts_with('-');
    if (negative) {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '+') return Error::message(std::string(INVALID_DIGIT));
    }
    auto magnitude = parse_u64(text);
    if (!magnitude) return std::move(magnitude).error();
    constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (*magnitude > most + (negative ? 1 : 0)) {
        return Error::message(negative ? "number too small to fit in target type" : std::string(TOO_LARGE));
    }
    if (negative) return static_cast<std::int64_t>(0 - *magnitude);
    return static_cast<std::int64_t>(*magnitude);
}

Result<Position> parse_position(std::string_view text)
{
    const std::size_t comma = text.find(',');
    Position position;
    std::uint64_t left = 0;
    std::uint64_t top = 0;
    const std::string_view l = text.substr(0, comma);
    const std::string_view t = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (comma == std::string_view::npos || l.empty() || t.empty() || read_decimal(l, 65535, left) != l.size() ||
        read_decimal(t, 65535, top) != t.size()) {
        return Error::message("expected L,T: two numbers with a comma between, such as 100,0");
    }
    position.left = static_cast<unsigned>(left);
    position.top = static_cast<unsigned>(top);
    return position;
}

Result<Resolution> parse_resolution(std::string_view text)
{
    const std::size_t x = text.find('x');
    std::uint64_t columns = 0;
    std::uint64_t rows = 0;
    const std::string_view c = text.substr(0, x);
    const std::string_view r = x == std::string_view::npos ? std::string_view() : text.substr(x + 1);
    if (x == std::string_view::npos || c.empty() || r.empty() || read_decimal(c, 65535, columns) != c.size() ||
        read_decimal(r, 65535, rows) != r.size()) {
        return Error::message("expected COLSxROWS: two numbers with an x between, such as 160x60");
    }
    return Resolution{static_cast<unsigned>(columns), static_cast<unsigned>(rows)};
}

Result<SocketAddressV4> parse_socket_address_v4(std::string_view text)
{
    SocketAddressV4 result;
    for (std::size_t i = 0; i < result.address.size(); ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.') return Error::message(std::string(INVALID_ADDRESS));
            text.remove_prefix(1);
        }
        std::uint64_t number = 0;
        const std::size_t digits = read_decimal(text.substr(0, 3), 255, number);
        const bool leading_zero = digits > 1 && text.front() == '0';
        if (digits == 0 || leading_zero) return Error::message(std::string(INVALID_ADDRESS));
        result.address[i] = static_cast<std::uint8_t>(number);
        text.remove_prefix(digits);
    }

    if (text.empty() || text.front() != ':') return Error::message(std::string(INVALID_ADDRESS));
    text.remove_prefix(1);
    std::uint64_t port = 0;
    const std::size_t digits = read_decimal(text, std::numeric_limits<std::uint16_t>::max(), port);
    if (digits == 0 || digits != text.size()) return Error::message(std::string(INVALID_ADDRESS));
    result.port = static_cast<std::uint16_t>(port);
    return result;
}

bool is_valid_utf8(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t length = utf8_sequence_length(text);
        if (length == 0) return false;
        text.remove_prefix(length);
    }
    return true;
}

std::string lossy_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8_sequence_length(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace lumaflick
