#include "parse.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "protocols.h"

namespace {

// A learned NEC-like code at 006D (26.295814 us): 0156 00AB 0015 0040 are 8993.17,
// 4496.58 (rounds up: truncating would give 4496), 552.21 and 1682.93 us; the
// repeat 0156 0055 is 8993 and 2235.14.
const char* const necLike = "0000 006D 0002 0001 0156 00AB 0015 0040 0156 0055";

std::string repeatOnly(int pairs)
{
    std::string text = "0000 006D 0000 " + std::to_string(pairs);
    for (int i = 0; i < pairs; ++i)
        text += " 0015 0040";
    return text;
}

struct ProntoCase {
    const char* name;
    std::string text;
    int repeats;
    std::int32_t carrierHz;
    const char* durations;
    int frames;
};

class ProntoRead : public ::testing::TestWithParam<ProntoCase> {};

TEST_P(ProntoRead, Durations)
{
    const ProntoCase& c = GetParam();
    Press press;
    press.dutyCycle = 0.33;
    std::string error;
    ASSERT_EQ(parsePronto(c.text, c.repeats, &press, &error), 0) << error;
    EXPECT_EQ(press.carrierHz, c.carrierHz);
    EXPECT_EQ(durationText(press.durations), c.durations);
    EXPECT_EQ(press.frames, c.frames);
    EXPECT_EQ(press.dutyCycle, 0.33); // Pronto has no duty cycle: the caller's stays
}

INSTANTIATE_TEST_SUITE_P(
    Pronto, ProntoRead,
    ::testing::Values(
        ProntoCase{"intro_only", necLike, 0, 38029, "+8993 -4497 +552", 1},
        ProntoCase{"intro_then_repeats", necLike, 2, 38029,
                   "+8993 -4497 +552 -1683 +8993 -2235 +8993", 3},
        ProntoCase{"repeat_stands_in_then_repeats", "0000 006D 0000 0001 0156 0055", 1, 38029,
                   "+8993 -2235 +8993", 2},
        ProntoCase{"nothing_to_repeat", "0000 006D 0001 0000 0156 0055", 3, 38029, "+8993", 1},
        ProntoCase{"unmodulated", "0100 006D 0001 0000 0156 00AB", 0, 0, "+8993", 1},
        ProntoCase{"short_lowercase_words_any_blanks", "\n0000\t6d 0 1\r\n 156  ab \n", 0, 38029,
                   "+8993", 1},
        ProntoCase{"carrier_006C", "0000 006C 0001 0000 0001 0001", 0, 38381, "+26", 1},
        ProntoCase{"carrier_0073", "0000 0073 0001 0000 0001 0001", 0, 36045, "+28", 1},
        // 1e6 / (72 x 0.241246) = 57571.48
        ProntoCase{"carrier_0048", "0000 0048 0001 0000 0001 0001", 0, 57571, "+17", 1},
        ProntoCase{"shortest_unit_rounds_to_1", "0100 0003 0001 0000 0001 0001", 0, 0, "+1", 1},
        ProntoCase{"longest_duration", "0100 4242 0001 0000 1003 0001", 0, 0, "+16773168", 1}),
    [](const ::testing::TestParamInfo<ProntoCase>& test) { return test.param.name; });

// 512 frames of one pair, less the last off time: the most durations a press ending
// with a mark can have within maxDurations; one frame more is refused below.
TEST(Pronto, MostDurations)
{
    Press press;
    std::string error;
    ASSERT_EQ(parsePronto(repeatOnly(1), 511, &press, &error), 0) << error;
    ASSERT_EQ(press.durations.size(), maxDurations - 1);
    EXPECT_EQ(press.frames, 512);
    for (std::size_t i = 0; i < press.durations.size(); ++i)
        ASSERT_EQ(press.durations[i], i % 2 == 0 ? 552U : 1683U) << i;
}

struct ProntoError {
    const char* name;
    std::string text;
    int repeats;
    std::string message;
};

class ProntoRefused : public ::testing::TestWithParam<ProntoError> {};

TEST_P(ProntoRefused, OneLineNamingTheFault)
{
    const ProntoError& c = GetParam();
    Press press;
    press.durations = {7};
    std::string error;
    ASSERT_EQ(parsePronto(c.text, c.repeats, &press, &error), -1);
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(press.durations, std::vector<std::uint32_t>{7}); // untouched on failure
}

INSTANTIATE_TEST_SUITE_P(
    Pronto, ProntoRefused,
    ::testing::Values(
        ProntoError{"empty", " \n\t", 0, "no Pronto words"},
        ProntoError{"too_few", "0000 006D 0000", 0, "only 3 words: a Pronto code has at least 4"},
        ProntoError{"odd", "0000 006D 0001 0000 0010", 0,
                    "5 words: a Pronto code has an even count"},
        ProntoError{"count_disagrees", "0000 006D 0002 0000 0010 0020", 0,
                    "6 words, but words 2 and 3 (2 + 0 pairs) call for 8"},
        ProntoError{"not_hex", "0000 006D 0001 0000 00G0 0020", 0,
                    "word 4 '00G0' is not a hex number"},
        ProntoError{"five_digits", "0000 006D 0001 0000 00010 0020", 0,
                    "word 4 '00010' has more than 4 hex digits"},
        ProntoError{"control_bytes", "0000 006D 0001 0000 \x01\x7f 0020", 0,
                    "word 4 '\\x01\\x7f' is not a hex number"},
        ProntoError{"long_junk", "0000 " + std::string(50, 'z'), 0,
                    "word 1 '" + std::string(40, 'z') + "...' is not a hex number"},
        ProntoError{"no_unit", "0000 0000 0001 0000 0010 0020", 0,
                    "word 1: frequency code 0000 gives no time unit"},
        ProntoError{"carrier_too_high", "0000 0001 0001 0000 0010 0020", 0,
                    "word 1 0001 is a carrier of 4145146 Hz, not 10000..500000"},
        ProntoError{"carrier_too_low", "0000 0200 0001 0000 0010 0020", 0,
                    "word 1 0200 is a carrier of 8096 Hz, not 10000..500000"},
        ProntoError{"no_pairs", "0000 006D 0000 0000", 0,
                    "words 2 and 3 are both 0: the code holds no signal"},
        ProntoError{"zero_on", "0000 006D 0001 0000 0000 0020", 0,
                    "word 4 0000 is a zero duration"},
        ProntoError{"zero_off", "0000 006D 0001 0000 0010 0000", 0,
                    "word 5 0000 is a zero duration"},
        ProntoError{"rounds_to_0", "0100 0002 0001 0000 0001 0001", 0,
                    "word 4 0001 rounds to 0 us"},
        ProntoError{"too_long", "0100 4242 0001 0000 1004 0001", 0,
                    "word 4 1004 is 16777260 us, more than 16777214"},
        ProntoError{"too_many", repeatOnly(1), 512, "the press has 1025 durations, more than 1024"},
        ProntoError{"repeats_wide", repeatOnly(2), INT_MAX,
                    "the press has 8589934591 durations, more than 1024"},
        ProntoError{"negative_repeats", necLike, -1, "repeats -1 is negative"},
        ProntoError{"unknown_type", "1234 006D 0001 0000 0010 0020", 0,
                    "word 0 1234 is no Pronto type (0000, 0100, 5000, 5001, 6000, 900A)"},
        ProntoError{"rc5", "5000 0073 0000 0001 0001 0001", 0,
                    "Pronto type 5000 (RC5 short form) is not supported: give the learned form "
                    "(0000)"},
        ProntoError{"nec1", "900a 006C 0000 0001 04FB 08F7", 0,
                    "Pronto type 900A (NEC1 short form) is not supported: give the learned form "
                    "(0000)"}),
    [](const ::testing::TestParamInfo<ProntoError>& test) { return test.param.name; });

} // namespace

namespace {

// A press written as a learned Pronto code, as a remote's database would hold it:
// each duration a count of carrier periods, the last mark followed by a gap.
std::string asPronto(const Press& press, unsigned frequencyWord)
{
    const double unit = frequencyWord * 0.241246;
    char word[24];
    std::string text = "0000";
    (void)std::snprintf(word, sizeof word, " %04X", frequencyWord);
    text += word;
    const std::size_t pairs = (press.durations.size() + 1) / 2;
    (void)std::snprintf(word, sizeof word, " %04zX", pairs);
    text += word;
    text += " 0000";
    for (std::size_t i = 0; i < pairs * 2; ++i) {
        const double us = i < press.durations.size() ? press.durations[i] : 100000.0;
        (void)std::snprintf(word, sizeof word, " %04lX", std::lround(us / unit));
        text += word;
    }
    return text;
}

// The kernel's presses through Pronto and back: the carrier its frequency word
// names, and every duration within half a carrier period of what was written.
TEST(Pronto, KernelPressesRoundTrip)
{
    const struct {
        const char* scancode;
        unsigned frequencyWord; // the nearest to the protocol's carrier
        std::int32_t carrierHz;
    } cases[] = {{"nec:0x408", 0x6D, 38029},
                 {"rc5:0x1e0c", 0x73, 36045},
                 {"sony12:0x10015", 0x67, 40244},
                 {"rc6_mce:0x800f040c", 0x73, 36045}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scancode);
        const KernelProtocol* protocol = nullptr;
        std::uint32_t scancode = 0;
        std::string error;
        ASSERT_EQ(parseKernelScancode(c.scancode, &protocol, &scancode, &error), 0) << error;
        Press sent;
        ASSERT_EQ(kernelPress(*protocol, scancode, 0, 0, &sent, &error), 0) << error;
        Press read;
        const std::string text = asPronto(sent, c.frequencyWord);
        ASSERT_EQ(parsePronto(text, 0, &read, &error), 0) << error << "\n" << text;
        EXPECT_EQ(read.carrierHz, c.carrierHz);
        ASSERT_EQ(read.durations.size(), sent.durations.size()) << text;
        const double halfPeriod = c.frequencyWord * 0.241246 / 2;
        for (std::size_t i = 0; i < sent.durations.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_LE(std::abs(static_cast<double>(read.durations[i]) - sent.durations[i]),
                      halfPeriod + 1);
        }
    }
}

} // namespace
