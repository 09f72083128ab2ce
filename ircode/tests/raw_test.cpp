#include "parse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string alternating(int values)
{
    std::string text;
    for (int i = 0; i < values; ++i)
        text += std::string(i > 0 ? " " : "") + (i % 2 == 0 ? "+1" : "-2");
    return text;
}

std::string keywordLines(int values)
{
    std::string text;
    for (int i = 0; i < values; ++i)
        text += i % 2 == 0 ? "pulse 1\n" : "space 2\n";
    return text;
}

struct RawCase {
    const char* name;
    std::string text;
    std::string durations;
    std::int32_t carrierHz;
    std::uint32_t droppedUs;
};

class RawRead : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawRead, Durations)
{
    const RawCase& c = GetParam();
    Press press;
    press.carrierHz = 38000;
    std::uint32_t dropped = 99;
    std::string error;
    ASSERT_EQ(parseRaw(c.text, &press, &dropped, &error), 0) << error;
    EXPECT_EQ(durationText(press.durations), c.durations);
    EXPECT_EQ(press.carrierHz, c.carrierHz);
    EXPECT_EQ(dropped, c.droppedUs);
}

INSTANTIATE_TEST_SUITE_P(
    Raw, RawRead,
    ::testing::Values(
        RawCase{"signed", "+9000 -4500 +560", "+9000 -4500 +560", 38000, 0},
        RawCase{"bare_commas_lines", "9000,4500\n560 , -1690 +560", "+9000 -4500 +560 -1690 +560",
                38000, 0},
        RawCase{"trailing_space", "+9000 -4500 +560 -40000\n", "+9000 -4500 +560", 38000, 40000},
        RawCase{"comments", "# nec\n\n  +9000 -4500 // lead\n+560#end", "+9000 -4500 +560", 38000,
                0},
        RawCase{"largest", "+16777214", "+16777214", 38000, 0},
        RawCase{"keywords", "pulse 9000\nspace 4500\r\npulse 560\n", "+9000 -4500 +560", 38000, 0},
        RawCase{"keywords_add_up", "pulse 500\npulse 400\nspace 100\ntimeout 200\npulse 1",
                "+900 -300 +1", 38000, 0},
        RawCase{"leading_space", "space 5000\n  pulse 100", "+100", 38000, 0},
        RawCase{"trailing_timeout", "pulse 100\nspace 5\ntimeout 125000", "+100", 38000, 125005},
        RawCase{"adds_up_to_largest", "pulse 16777213\npulse 1", "+16777214", 38000, 0},
        RawCase{"carrier", "// x\ncarrier 36000\npulse 889", "+889", 36000, 0},
        RawCase{"most_values", alternating(1024), alternating(1023), 38000, 2},
        RawCase{"most_keyword_values", keywordLines(1024), alternating(1023), 38000, 2}),
    [](const ::testing::TestParamInfo<RawCase>& test) { return test.param.name; });

struct RawError {
    const char* name;
    std::string text;
    std::string message;
};

class RawRefused : public ::testing::TestWithParam<RawError> {};

TEST_P(RawRefused, OneLineNamingTheFault)
{
    const RawError& c = GetParam();
    Press press;
    press.durations = {7};
    std::uint32_t dropped = 99;
    std::string error;
    ASSERT_EQ(parseRaw(c.text, &press, &dropped, &error), -1);
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(press.durations, std::vector<std::uint32_t>{7}); // untouched on failure
    EXPECT_EQ(press.carrierHz, 38000);
}

INSTANTIATE_TEST_SUITE_P(
    Raw, RawRefused,
    ::testing::Values(
        RawError{"empty", "", "no pulse in the text"},
        RawError{"space_only", "space 100\ntimeout 5", "no pulse in the text"},
        RawError{"zero", "+0", "line 1, value 1: '+0' is 0 us"},
        RawError{"two_pulses", "+9000 +4500",
                 "line 1, value 2: '+4500' has the sign of a pulse "
                 "where a space comes"},
        RawError{"space_first", "-9000",
                 "line 1, value 1: '-9000' has the sign of a space "
                 "where a pulse comes"},
        RawError{"above_largest", "+16777215",
                 "line 1, value 1: '+16777215' is more than 16777214 us"},
        RawError{"huge", "1 2 +99999999999999999999999",
                 "line 1, value 3: '+99999999999999999999999' is more than 16777214 us"},
        RawError{"not_a_number", "+9000\n-4500\n+5a0", "line 3, value 3: '+5a0' is not a number"},
        RawError{"double_sign", "+-5", "line 1, value 1: '+-5' is not a number"},
        RawError{"too_many_values", alternating(1025),
                 "line 1, value 1025: '+1' is more than 1024 values"},
        RawError{"negative", "pulse 100\nspace -5", "line 2: space '-5' is negative"},
        RawError{"keyword_zero", "pulse 0", "line 1: pulse '0' is 0 us"},
        RawError{"no_number", "pulse", "line 1: 'pulse' takes one number, not 0"},
        RawError{"unknown", "pluse 5",
                 "line 1: 'pluse' is no keyword (pulse, space, timeout, "
                 "carrier)"},
        RawError{"scancode", "scancode nec:0x408", "line 1: 'scancode' is not supported here"},
        RawError{"duty_cycle", "pulse 5\nduty_cycle 50",
                 "line 2: 'duty_cycle' is not supported here"},
        RawError{"carrier_low", "carrier 5000", "line 1: carrier 5000 is not 10000..500000 Hz"},
        RawError{"adds_up_too_far", "pulse 16777214\npulse 1",
                 "line 2: pulse '1' adds up to 16777215 us, more than 16777214"},
        RawError{"too_many_keywords", keywordLines(1025),
                 "line 1025: pulse '1' is more than 1024 durations"}),
    [](const ::testing::TestParamInfo<RawError>& test) { return test.param.name; });

} // namespace
