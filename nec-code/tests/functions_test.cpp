// Codes worked out by hand from NEC's byte order, and checked against codes LIRC
// configuration files carry (0x00FFA25D: address 0, command 0x45; 0x20DF10EF: LG's
// power key, address 4, command 8).
#include "nec_code.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>

TEST(ParseNumber, AcceptsDecimalAndHexOnly)
{
    const struct Case {
        const char* text;
        unsigned long max;
        int status;
        unsigned long value;
    } cases[] = {
        {"0", 0xFF, 0, 0},
        {"255", 0xFF, 0, 255},
        {"0x45", 0xFF, 0, 0x45},
        {"0X45", 0xFF, 0, 0x45},
        {"0xfF", 0xFF, 0, 0xFF},
        {"010", 0xFF, 0, 10},
        {"0x0045", 0xFF, 0, 0x45},
        {"65535", 0xFFFF, 0, 0xFFFF},
        {"256", 0xFF, -1, 0},
        {"0x10000", 0xFFFF, -1, 0},
        {"99999999999999999999999", ULONG_MAX, -1, 0},
        {"", 0xFF, -1, 0},
        {"0x", 0xFF, -1, 0},
        {"+1", 0xFF, -1, 0},
        {"-1", 0xFF, -1, 0},
        {" 1", 0xFF, -1, 0},
        {"1 ", 0xFF, -1, 0},
        {"0x-1", 0xFF, -1, 0},
        {"0x 1", 0xFF, -1, 0},
        {"0x0x1", 0xFF, -1, 0},
        {"12a", 0xFF, -1, 0},
        {"ff", 0xFF, -1, 0},
        {"0x1g", 0xFF, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        unsigned long value = 0;
        EXPECT_EQ(parseNumber(c.text, c.max, &value), c.status);
        EXPECT_EQ(value, c.value);
    }
}

TEST(ParseRaw, AcceptsOneToEightHexDigits)
{
    const struct Case {
        const char* text;
        int status;
        std::uint32_t code;
    } cases[] = {
        {"0x00FFA25D", 0, 0x00FFA25D},
        {"00ffa25d", 0, 0x00FFA25D},
        {"0XFFFFFFFF", 0, 0xFFFFFFFF},
        {"5", 0, 5},
        {"0x5", 0, 5},
        {"0x123456789", -1, 0},
        {"000000000", -1, 0},
        {"", -1, 0},
        {"0x", -1, 0},
        {"+5", -1, 0},
        {"-5", -1, 0},
        {" 5", -1, 0},
        {"5 ", -1, 0},
        {"0x0x5", -1, 0},
        {"0xFFA25DZ", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t code = 0;
        EXPECT_EQ(parseRaw(c.text, &code), c.status);
        EXPECT_EQ(code, c.code);
    }
}

TEST(NecCode, SendsBytesLsbFirstWithInversesOrExtendedAddress)
{
    const struct Case {
        std::uint16_t address;
        std::uint8_t command;
        std::uint32_t code;
    } cases[] = {
        {0x00, 0x45, 0x00FFA25D},
        {0x04, 0x08, 0x20DF10EF},
        {0x01, 0x80, 0x807F01FE},
        {0x0A, 0x00, 0x50AF00FF},
        {0xFF, 0x00, 0xFF0000FF},
        {0xFF, 0xFF, 0xFF00FF00},
        {0x0100, 0x00, 0x008000FF},
        {0x1234, 0x56, 0x2C486A95},
        {0xFFFF, 0xFF, 0xFFFFFF00},
        // An extended address whose high byte is the inverse of its low byte is on air
        // the same as the plain address 0x80.
        {0x7F80, 0x45, 0x01FEA25D},
        {0x80, 0x45, 0x01FEA25D},
    };
    for (const Case& c : cases)
        EXPECT_EQ(necCode(c.address, c.command), c.code) << c.address << ' ' << +c.command;
}
