#include "cli/convert.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace lumaflick {
namespace {

constexpr const char* INVALID_DIGIT = "invalid digit found in string";
constexpr const char* EMPTY = "cannot parse integer from empty string";
constexpr const char* TOO_LARGE = "number too large to fit in target type";

struct U64Case {
    std::string text;
    std::uint64_t value;  // when `reason` is empty
    std::string reason;
};

TEST(ParseU64, AcceptsOnlyPlainDecimal)
{
    const U64Case cases[] = {
        {"0", 0, ""},
        {"30", 30, ""},
        {"010", 10, ""},  // decimal, not octal
        {"+7", 7, ""},
        {"+0", 0, ""},
        {"00000000000000000000000042", 42, ""},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max(), ""},
        {"", 0, EMPTY},
        {"+", 0, INVALID_DIGIT},
        {"++7", 0, INVALID_DIGIT},
        {"+-7", 0, INVALID_DIGIT},
        {"-5", 0, INVALID_DIGIT},
        {"-0", 0, INVALID_DIGIT},
        {"0x10", 0, INVALID_DIGIT},
        {"2.5", 0, INVALID_DIGIT},
        {"1e3", 0, INVALID_DIGIT},
        {" 5", 0, INVALID_DIGIT},
        {"5 ", 0, INVALID_DIGIT},
        {"5\n", 0, INVALID_DIGIT},
        {"\xd9\xa3", 0, INVALID_DIGIT},  // ARABIC-INDIC DIGIT THREE
        {"18446744073709551616", 0, TOO_LARGE},
        {"99999999999999999999", 0, TOO_LARGE},
        {"+184467440737095516150", 0, TOO_LARGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        const auto result = parse_u64(c.text);
        if (c.reason.empty()) {
            ASSERT_TRUE(result.has_value());
            EXPECT_EQ(*result, c.value);
        } else {
            ASSERT_FALSE(result.has_value());
            EXPECT_EQ(result.error().text(), c.reason);
        }
    }
}

TEST(ParseI64, SignedDecimalWithinSixtyFourBits)
{
    const struct {
        std::string text;
        std::optional<std::int64_t> value;
    } cases[] = {
        {"-40", -40}, {"+40", 40}, {"0", 0}, {"-0", 0},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::nullopt}, {"-9223372036854775809", std::nullopt},
        {"-", std::nullopt}, {"--5", std::nullopt}, {"-+5", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        const auto result = parse_i64(c.text);
        EXPECT_EQ(result.has_value(), c.value.has_value());
        if (result && c.value) {
            EXPECT_EQ(*result, *c.value);
        }
    }
}

TEST(ParseSocketAddressV4, AcceptsStrictDottedQuadWithPort)
{
    const struct {
        std::string text;
        SocketAddressV4 address;
    } cases[] = {
        {"127.0.0.1:11000", {{127, 0, 0, 1}, 11000}},
        {"0.0.0.0:0", {{0, 0, 0, 0}, 0}},
        {"255.255.255.255:65535", {{255, 255, 255, 255}, 65535}},
        {"192.168.1.5:29999", {{192, 168, 1, 5}, 29999}},
        {"10.20.30.40:029999", {{10, 20, 30, 40}, 29999}},  // leading zeros are fine in the port
        {"1.2.3.4:000000000000000000080", {{1, 2, 3, 4}, 80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto result = parse_socket_address_v4(c.text);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, c.address);
    }
}

TEST(ParseSocketAddressV4, RefusesEverythingElse)
{
    const std::string refused[] = {
        "",
        "localhost:29999",
        "192.168.1.5",
        "192.168.1.5:",
        "192.168.1.5:70000",
        "192.168.1.5:65536",
        "192.168.1.5:000065536",
        "192.168.1.5:99999999999999999999999",
        "010.0.0.1:80",  // leading zeros in the address numbers
        "1.2.3.00:80",
        "00.0.0.0:80",
        "256.0.0.1:80",
        "1000.0.0.1:80",
        "1.2.3:80",
        "1.2.3.4.5:80",
        "1..2.3:80",
        "1.2.3.4:+80",
        "1.2.3.4:-80",
        "+1.2.3.4:80",
        "1.2.3.4:80:81",
        " 1.2.3.4:80",
        "1.2.3.4:80 ",
        "1.2.3.4 :80",
        "0x7f.0.0.1:80",
        "[::1]:80",
        "::1",
        "[127.0.0.1]:80",
        "127.1:80",
    };
    for (const auto& text : refused) {
        SCOPED_TRACE(text);
        const auto result = parse_socket_address_v4(text);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().text(), "invalid IPv4 socket address syntax");
    }
}

TEST(Utf8, ValidityAndLossyDisplay)
{
    const struct {
        std::string text;
        bool valid;
        std::string shown;
    } cases[] = {
        {"", true, ""},
        {"^0_", true, "^0_"},
        {"p\xc3\xa4ss", true, "p\xc3\xa4ss"},                  // ä
        {"\xe2\x82\xac", true, "\xe2\x82\xac"},                // €
        {"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},        // U+1F600
        {"\xf4\x8f\xbf\xbf", true, "\xf4\x8f\xbf\xbf"},        // U+10FFFF
        {"a\xff" "b", false, "a\xef\xbf\xbd" "b"},
        {"\x80", false, "\xef\xbf\xbd"},                       // lone continuation byte
        {"\xc3", false, "\xef\xbf\xbd"},                       // cut short
        {"a\xe2\x82", false, "a\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xc0\xaf", false, "\xef\xbf\xbd\xef\xbf\xbd"},       // overlong "/"
        {"\xe0\x80\xaf", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xed\xa0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // unpaired surrogate, as WTF-8
        {"\xf4\x90\x80\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(is_valid_utf8(c.text), c.valid);
        EXPECT_EQ(lossy_utf8(c.text), c.shown);
    }
}

}  // namespace
}  // namespace lumaflick
