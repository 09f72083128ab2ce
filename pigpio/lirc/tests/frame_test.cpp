// The records of a wave as the kernel takes them: pulses and spaces, a carrier
// and a duty cycle, or a refusal that says why.
#include <gtest/gtest.h>

#include "case_name.h"
#include "lirc_core.h"
#include "lirc_test.h"

using pigpio_lirc::Frame;
using pigpio_lirc::toFrame;

namespace {

Frame frameOf(const Records& records)
{
    return toFrame(records.data(), records.size());
}

// ---- waves the kernel can send ------------------------------------------------------

struct Sendable {
    const char* what;
    Records records;
    Durations durations;
    uint32_t carrierHz;
    uint32_t dutyCycle;
    uint64_t leadingMicros;
    uint64_t trailingMicros;
};

Records burstsAround(uint32_t onUs, uint32_t offUs, const std::vector<uint32_t>& silences)
{
    Records records;
    addBurst(records, 24, 10, onUs, offUs);
    for (const uint32_t us : silences) {
        addSilence(records, us);
    }
    addBurst(records, 24, 5, onUs, offUs);
    return records;
}

Records withEdges(uint32_t leadingUs, uint32_t trailingUs)
{
    Records records;
    addSilence(records, leadingUs);
    addBurst(records, 7, 3, 13, 13);
    addSilence(records, trailingUs);
    return records;
}

// pigpio sets a line in both masks and then clears it: it ends low, as after an off.
Records bothMasks()
{
    Records records{{1u << 24, 0, 13}, {1u << 24, 1u << 24, 13}};
    addSilence(records, 100);
    addBurst(records, 24, 1, 13, 13);
    return records;
}

// An off record for a line that is already off changes nothing: a silence.
Records offWhileOff()
{
    Records records;
    addBurst(records, 24, 2, 13, 13);
    records.push_back({0, 1u << 24, 300});
    addSilence(records, 0);
    addBurst(records, 24, 2, 13, 13);
    return records;
}

std::vector<Sendable> sendable()
{
    const std::string example = "00000000111111111010001001011101";
    return {
        {"example_code", necRecords(example), necDurations(example), 38462, 50, 0, 0},
        {"all_ones", necRecords(std::string(32, '1')), necDurations(std::string(32, '1')), 38462,
         50, 0, 0},
        {"all_zeros", necRecords(std::string(32, '0')), necDurations(std::string(32, '0')), 38462,
         50, 0, 0},
        {"empty_code", necRecords(""), necDurations(""), 38462, 50, 0, 0},
        {"on_gpio_0", necRecords("10", 0), necDurations("10"), 38462, 50, 0, 0},
        {"duty_cycle_35", burstsAround(9, 17, {1000}), {260, 1000, 130}, 38462, 35, 0, 0},
        {"duty_cycle_77", burstsAround(20, 6, {1000}), {260, 1000, 130}, 38462, 77, 0, 0},
        // 1/299 us is a third of a percent; the kernel takes 1 at the least.
        {"duty_cycle_under_1", burstsAround(1, 299, {1000}), {3000, 1000, 1500}, 3333, 1, 0, 0},
        {"carrier_36_khz", burstsAround(14, 14, {900}), {280, 900, 140}, 35714, 50, 0, 0},
        {"carrier_40_khz", burstsAround(12, 13, {900}), {250, 900, 125}, 40000, 48, 0, 0},
        {"carrier_56_khz", burstsAround(9, 9, {900}), {180, 900, 90}, 55556, 50, 0, 0},
        {"silences_merge",
         burstsAround(13, 13, {100, 0, 250, 1}),
         {260, 351, 130},
         38462,
         50,
         0,
         0},
        {"leading_and_trailing_silence", withEdges(3000, 7000), {78}, 38462, 50, 3000, 7000},
        // Nothing between two bursts, or a silence of no time, leaves one burst on the line.
        {"bursts_joined", burstsAround(13, 13, {}), {390}, 38462, 50, 0, 0},
        {"bursts_joined_by_no_time", burstsAround(13, 13, {0, 0}), {390}, 38462, 50, 0, 0},
        {"line_in_both_masks", bothMasks(), {26, 100, 26}, 38462, 50, 0, 0},
        {"off_while_off", offWhileOff(), {52, 300, 52}, 38462, 50, 0, 0},
    };
}

class SendableTest : public ::testing::TestWithParam<Sendable> {};

TEST_P(SendableTest, BecomesPulsesAndSpaces)
{
    const Sendable& wave = GetParam();
    const Frame frame = frameOf(wave.records);
    ASSERT_EQ(frame.status, 0) << frame.reason;
    EXPECT_EQ(frame.durations, wave.durations);
    EXPECT_EQ(frame.durations.size() % 2, 1u); // starts and ends with a pulse
    EXPECT_EQ(frame.carrierHz, wave.carrierHz);
    EXPECT_EQ(frame.dutyCycle, wave.dutyCycle);
    EXPECT_EQ(frame.leadingMicros, wave.leadingMicros);
    EXPECT_EQ(frame.trailingMicros, wave.trailingMicros);
}

INSTANTIATE_TEST_SUITE_P(Waves, SendableTest, ::testing::ValuesIn(sendable()), caseName<Sendable>);

TEST(FrameTest, ExampleCodeIs67DurationsOnItsGpio)
{
    const Frame frame = frameOf(necRecords("00000000111111111010001001011101", 24));
    EXPECT_EQ(frame.durations.size(), 67u);
    EXPECT_EQ(frame.gpio, 24u);
}

// ---- waves it cannot send -------------------------------------------------------------

struct Refused {
    const char* what;
    Records records;
    int status;
    const char* reason; // a part of the reason
};

Records twoLines()
{
    Records records;
    addBurst(records, 24, 2, 13, 13);
    addBurst(records, 4, 2, 13, 13);
    return records;
}

Records irregular(size_t index, uint32_t us)
{
    Records records;
    addBurst(records, 24, 4, 13, 13);
    records[index].usDelay = us;
    return records;
}

// irrp-style carriers track 38 kHz with off times of 13 and 14 us.
Records trackingCarrier()
{
    Records records;
    addBurst(records, 24, 2, 13, 13);
    addBurst(records, 24, 2, 13, 14);
    return records;
}

Records leftHigh()
{
    Records records;
    addBurst(records, 24, 3, 13, 13);
    records.push_back({1u << 24, 0, 13});
    return records;
}

Records onTwice()
{
    Records records{{1u << 24, 0, 13}, {1u << 24, 0, 13}};
    addBurst(records, 24, 1, 13, 13);
    return records;
}

Records silenceWhileOn()
{
    Records records{{1u << 24, 0, 13}};
    addSilence(records, 500);
    records.push_back({0, 1u << 24, 13});
    return records;
}

Records onlyOffs()
{
    return Records{{0, 1u << 24, 100}, {0, 0, 100}};
}

// n pulses and n - 1 spaces.
Records pulses(int n, uint32_t spaceUs = 10)
{
    Records records;
    for (int i = 0; i < n; ++i) {
        if (i > 0) {
            addSilence(records, spaceUs);
        }
        addBurst(records, 24, 1, 13, 13);
    }
    return records;
}

Records lasting(uint32_t spaceUs)
{
    return pulses(2, spaceUs);
}

std::vector<Refused> refused()
{
    return {
        {"empty", {}, PI_EMPTY_WAVEFORM, "empty"},
        {"two_lines", twoLines(), PI_BAD_PARAM, "more than one line (GPIO 4, 24)"},
        {"only_silence", Records{{0, 0, 100}}, PI_BAD_PARAM, "never switches a line on"},
        {"only_offs", onlyOffs(), PI_BAD_PARAM, "never switches GPIO 24 on"},
        {"irregular_on_time", irregular(4, 14), PI_BAD_PARAM, "irregular carrier"},
        {"irregular_off_time", irregular(5, 12), PI_BAD_PARAM, "irregular carrier"},
        {"space_folded_into_off", irregular(7, 4513), PI_BAD_PARAM, "irregular carrier"},
        {"on_twice", onTwice(), PI_BAD_PARAM, "on while it is on"},
        {"silence_while_on", silenceWhileOn(), PI_BAD_PARAM, "silence of 500 us while GPIO 24"},
        {"tracking_carrier", trackingCarrier(), PI_BAD_PARAM, "irregular carrier"},
        {"bursts_of_two_carriers",
         [] {
             Records r = burstsAround(13, 13, {500});
             addSilence(r, 500);
             addBurst(r, 24, 3, 12, 12);
             return r;
         }(),
         PI_BAD_PARAM, "different carriers: 13/13 us on/off (38462 Hz), then 12/12 us (41667 Hz)"},
        {"left_high", leftHigh(), PI_BAD_PARAM, "leaves GPIO 24 high"},
        {"zero_on_time", irregular(0, 0), PI_BAD_PARAM, "zero duration"},
        {"zero_off_time", irregular(1, 0), PI_BAD_PARAM, "zero duration"},
        {"1025_durations", pulses(513), PI_TOO_MANY_PULSES, "1025 durations"},
        {"over_500_ms", lasting(500000 - 52 + 1), PI_BAD_PARAM, "500001 us long"},
    };
}

class RefusedTest : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedTest, SaysWhy)
{
    const Refused& wave = GetParam();
    const Frame frame = frameOf(wave.records);
    EXPECT_EQ(frame.status, wave.status);
    EXPECT_NE(frame.reason.find(wave.reason), std::string::npos) << frame.reason;
    EXPECT_TRUE(frame.durations.empty());
}

INSTANTIATE_TEST_SUITE_P(Waves, RefusedTest, ::testing::ValuesIn(refused()), caseName<Refused>);

// The limits themselves go through.
TEST(FrameTest, TakesTheKernelsLimitsExactly)
{
    EXPECT_EQ(frameOf(pulses(512)).durations.size(), 1023u);
    const Frame longest = frameOf(lasting(500000 - 52));
    ASSERT_EQ(longest.status, 0) << longest.reason;
    EXPECT_EQ(longest.durations, (Durations{26, 500000 - 52, 26}));
}

} // namespace
