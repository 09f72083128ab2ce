#include "codes.h"
#include "protocols.h"
#include "sources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Every expected press below is written from Flipper's own timings
// (its firmware's protocol definitions): their leads, bit units and field layouts,
// spelled out with the small writers here rather than taken from the encoder.
namespace {

std::string times(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

// Pulse-distance fields, each least significant bit first: " +mark -space" per bit.
struct Field {
    std::uint64_t value;
    int bits;
};

std::string pd(int mark, int zero, int one, const std::vector<Field>& fields)
{
    std::string out;
    for (const Field& f : fields) {
        for (int i = 0; i < f.bits; ++i) {
            const int s = ((f.value >> i) & 1u) != 0 ? one : zero;
            out += " +" + std::to_string(mark) + " -" + std::to_string(s);
        }
    }
    return out;
}

std::string necBytes(const std::vector<Field>& bytes)
{
    return "+9000 -4500" + pd(560, 560, 1690, bytes) + " +560";
}

std::uint64_t sumOf(const std::string& text)
{
    std::uint64_t total = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t end = text.find(' ', i);
        const std::string word = text.substr(i + 1, end == std::string::npos ? end : end - i - 1);
        total += std::stoul(word);
        if (end == std::string::npos)
            break;
        i = end + 1;
    }
    return total;
}

Definition parsed(const char* protocol, std::uint64_t address, std::uint64_t command)
{
    Definition d;
    d.source = Definition::Source::flipper;
    d.protocol = protocol;
    d.address = address;
    d.command = command;
    return d;
}

Definition raw(std::int32_t hz, double duty, std::vector<std::uint32_t> durations)
{
    Definition d;
    d.source = Definition::Source::flipper;
    d.raw = true;
    d.carrierHz = hz;
    d.dutyCycle = duty;
    d.durations = std::move(durations);
    return d;
}

std::string pressText(const Definition& d, int repeats = 0, unsigned earlier = 0, int toggle = -1)
{
    PressRequest r;
    r.repeats = repeats;
    r.earlierPresses = earlier;
    r.toggle = toggle;
    Press press;
    std::string error;
    if (pressOf(d, r, &press, &error) != 0)
        return "refused: " + error;
    return durationText(press.durations);
}

// sony12:0x10015, as the kernel encodes it: Flipper's SIRC units are the same 600/1200/2400.
const std::string sircD1F15 =
    "+2400 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +600 -600 "
    "+1200 -600 +600 -600 +600 -600 +600 -600 +600";

// RC5 address 0 command 0x0C: bits 1 S2 T 00000 001100, 888 halves; with toggle 1 it
// is LIRC's 0x180C as irsimsend sends it, in 888 halves.
std::string rc5Command12(bool rc5x, bool toggle)
{
    const std::string command = "+888 -888 +888 -1776 +888 -888 +1776 -888 +888";
    if (!rc5x && toggle) // S1 S2 T all 1
        return "+888 -888 +888 -888 +1776 -888" + times(" +888 -888", 4) + " " + command;
    if (!rc5x) // 1 1 0
        return "+888 -888 +1776 -888" + times(" +888 -888", 5) + " " + command;
    if (toggle) // 1 0 1: S2's mark joins S1's, T's space follows S2's
        return "+1776 -1776 +1776 -888" + times(" +888 -888", 4) + " " + command;
    return "+1776 -888 +888 -888" + times(" +888 -888", 5) + " " + command; // 1 0 0
}

struct PressCase {
    const char* name;
    Definition d;
    int repeats;
    unsigned earlier;
    std::string text;
};

class FlipperPressTest : public ::testing::TestWithParam<PressCase> {};

TEST_P(FlipperPressTest, SendsAsFlipper)
{
    const PressCase& c = GetParam();
    EXPECT_EQ(pressText(c.d, c.repeats, c.earlier), c.text);
}

const std::string necPower = necBytes({{0x04, 8}, {0xFB, 8}, {0x08, 8}, {0xF7, 8}});
const std::string samsung =
    "+4500 -4500" + pd(550, 550, 1650, {{0x07, 8}, {0x07, 8}, {0x07, 8}, {0xF8, 8}}) + " +550";
const std::string samsungHeld = "+4500 -4500 +550 -1650 +550";
const std::string pioneer =
    "+8500 -4225" + pd(500, 500, 1500, {{0xAA, 8}, {0x55, 8}, {0x1C, 8}, {0xE3, 8}}) + " +500";
const std::string ditto = "+9000 -2250 +560";

INSTANTIATE_TEST_SUITE_P(
    Flipper, FlipperPressTest,
    ::testing::Values(
        PressCase{"nec", parsed("NEC", 0x04, 0x08), 0, 0, necPower},
        // Dittos at a 110 ms period, the first one counted from the frame's start.
        PressCase{"nec_held", parsed("NEC", 0x04, 0x08), 2, 0,
                  necPower + " -" + std::to_string(110000 - sumOf(necPower)) + " " + ditto +
                      " -" + std::to_string(110000 - 9000 - 2250 - 560) + " " + ditto},
        PressCase{"necext", parsed("NECext", 0xEE, 0xA25D), 0, 0,
                  necBytes({{0xEE, 8}, {0x00, 8}, {0x5D, 8}, {0xA2, 8}})},
        PressCase{"nec42", parsed("NEC42", 0x1004, 0x43), 0, 0,
                  necBytes({{0x1004, 13}, {0x0FFB, 13}, {0x43, 8}, {0xBC, 8}})},
        PressCase{"nec42ext", parsed("NEC42ext", 0x2ABCDEF, 0x8421), 0, 0,
                  necBytes({{0x2ABCDEF, 26}, {0x8421, 16}})},
        PressCase{"samsung32", parsed("Samsung32", 0x07, 0x07), 0, 0, samsung},
        PressCase{"samsung32_held", parsed("Samsung32", 0x07, 0x07), 2, 0,
                  samsung + " -46000 " + samsungHeld + " -97000 " + samsungHeld},
        // Three frames at least, 45 ms from start to start.
        PressCase{"sirc", parsed("SIRC", 0x01, 0x15), 0, 0,
                  times(sircD1F15 + " -" + std::to_string(45000 - sumOf(sircD1F15)) + " ", 2) +
                      sircD1F15},
        PressCase{"sirc15", parsed("SIRC15", 0xA5, 0x15), 0, 0,
                  [] {
                      // Command 0x15 then address 0xA5, a 600 space before each mark.
                      std::string f = "+2400";
                      const std::uint32_t data = 0x15u | 0xA5u << 7;
                      for (int i = 0; i < 15; ++i)
                          f += ((data >> i) & 1u) != 0 ? " -600 +1200" : " -600 +600";
                      const std::string gap = " -" + std::to_string(45000 - sumOf(f)) + " ";
                      return f + gap + f + gap + f;
                  }()},
        PressCase{"rc5_first_press", parsed("RC5", 0x00, 0x0C), 0, 0, rc5Command12(false, false)},
        PressCase{"rc5_second_press", parsed("RC5", 0x00, 0x0C), 0, 1, rc5Command12(false, true)},
        PressCase{"rc5_third_press", parsed("RC5", 0x00, 0x0C), 0, 2, rc5Command12(false, false)},
        PressCase{"rc5x", parsed("RC5X", 0x00, 0x0C), 0, 0, rc5Command12(true, false)},
        PressCase{"rc5x_toggled", parsed("RC5X", 0x00, 0x0C), 0, 1, rc5Command12(true, true)},
        // The kernel's rc5:0x1e0c example, in Flipper's 888 halves.
        PressCase{"rc5_example", parsed("RC5", 0x1E, 0x0C), 0, 0,
                  "+888 -888 +1776 -1776 +888 -888 +888 -888 +888 -888 +1776 -888 +888 -888 "
                  "+888 -1776 +888 -888 +1776 -888 +888"},
        // Held: the toggle stays; the last bit's half, the 27 ms silence and the
        // first start bit's silent half make the gap.
        PressCase{"rc5_held", parsed("RC5", 0x00, 0x0C), 1, 1,
                  rc5Command12(false, true) + " -" + std::to_string(888 + 27000 + 888) + " " +
                      rc5Command12(false, true)},
        // Leader, start 1, mode 000, TR 0 in 888 halves, address 0x80, command 0x01.
        PressCase{"rc6", parsed("RC6", 0x80, 0x01), 0, 0,
                  "+2666 -889 +444 -888 +444 -444 +444 -444 +444 -888 +1332 -888 +444" +
                      times(" -444 +444", 12) + " -444 +888"},
        // irdb Panasonic D=160 S=0 F=61 through the Kaseikyo-Panasonic mapping: on air
        // 02 20 A0 00 3D and their check D^S^F.
        PressCase{"kaseikyo", parsed("Kaseikyo", 0x2002A0, 0x3D0), 1, 0,
                  [] {
                      const std::string f =
                          "+3456 -1728" +
                          pd(432, 432, 1296,
                             {{0x02, 8}, {0x20, 8}, {0xA0, 8}, {0x00, 8}, {0x3D, 8}, {0x9D, 8}}) +
                          " +432";
                      return f + " -130000 " + f;
                  }()},
        PressCase{"rca", parsed("RCA", 0x0A, 0x5C), 1, 0,
                  [] {
                      const std::string f =
                          "+4000 -4000" +
                          pd(500, 1000, 2000, {{0xA, 4}, {0x5C, 8}, {0x5, 4}, {0xA3, 8}}) +
                          " +500";
                      return f + " -8000 " + f;
                  }()},
        // Two frames at least: the 33rd bit's 500 space and 26 ms of silence between.
        PressCase{"pioneer", parsed("Pioneer", 0xAA, 0x1C), 0, 0, pioneer + " -26500 " + pioneer},
        PressCase{"raw", raw(38000, 0.33, {9000, 4500, 560}), 0, 0, "+9000 -4500 +560"},
        PressCase{"raw_held", raw(38000, 0.33, {9000, 4500, 560}), 2, 0,
                  "+9000 -4500 +560 -180000 +9000 -4500 +560 -180000 +9000 -4500 +560"},
        PressCase{"raw_even", raw(38000, 0.33, {9000, 4500, 560, 40000}), 0, 0,
                  "+9000 -4500 +560"},
        PressCase{"raw_even_held", raw(38000, 0.33, {9000, 4500, 560, 40000}), 1, 0,
                  "+9000 -4500 +560 -220000 +9000 -4500 +560"}),
    [](const ::testing::TestParamInfo<PressCase>& each) { return std::string(each.param.name); });

struct RefusalCase {
    const char* name;
    Definition d;
    const char* reason; // a word the one-line reason holds
};

class FlipperRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(FlipperRefusalTest, SaysWhy)
{
    const RefusalCase& c = GetParam();
    Press press;
    std::string error;
    EXPECT_EQ(flipperPress(c.d, PressRequest{}, &press, &error), -1);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Flipper, FlipperRefusalTest,
    ::testing::Values(
        RefusalCase{"nec_address", parsed("NEC", 0x100, 0x08), "8 address bits"},
        RefusalCase{"nec_command", parsed("NEC", 0x04, 0x100), "8 command bits"},
        RefusalCase{"necext_command", parsed("NECext", 0x04, 0x10000), "16 command bits"},
        RefusalCase{"nec42_address", parsed("NEC42", 0x2000, 0x08), "13 address bits"},
        RefusalCase{"nec42ext_address", parsed("NEC42ext", 0x4000000, 0x08), "26 address bits"},
        RefusalCase{"samsung_address", parsed("Samsung32", 0x100, 0x07), "8 address bits"},
        RefusalCase{"sirc_address", parsed("SIRC", 0x20, 0x15), "5 address bits"},
        RefusalCase{"sirc_command", parsed("SIRC", 0x01, 0x80), "7 command bits"},
        RefusalCase{"sirc15_address", parsed("SIRC15", 0x100, 0x15), "8 address bits"},
        RefusalCase{"sirc20_address", parsed("SIRC20", 0x2000, 0x15), "13 address bits"},
        RefusalCase{"rc5_command", parsed("RC5", 0x00, 0x40), "6 command bits"},
        RefusalCase{"rc5_address", parsed("RC5", 0x20, 0x0C), "5 address bits"},
        RefusalCase{"rc6_address", parsed("RC6", 0x100, 0x0C), "8 address bits"},
        RefusalCase{"kaseikyo_command", parsed("Kaseikyo", 0x2002A0, 0x400), "10 command bits"},
        RefusalCase{"kaseikyo_address", parsed("Kaseikyo", 0x4000000, 0x3D0), "26 address bits"},
        RefusalCase{"rca_address", parsed("RCA", 0x10, 0x5C), "4 address bits"},
        RefusalCase{"pioneer_command", parsed("Pioneer", 0xAA, 0x100), "8 command bits"},
        RefusalCase{"unknown", parsed("Sharp", 0x01, 0x01), "no protocol 'Sharp'"},
        RefusalCase{"case", parsed("nec", 0x04, 0x08), "names it 'NEC'"},
        RefusalCase{"no_frequency", raw(0, 0.33, {9000, 4500, 560}), "without a frequency"},
        RefusalCase{"low_frequency", raw(9999, 0.33, {9000, 4500, 560}), "10000..56000"},
        RefusalCase{"high_frequency", raw(56001, 0.33, {9000, 4500, 560}), "10000..56000"},
        RefusalCase{"no_duty", raw(38000, 0, {9000, 4500, 560}), "duty_cycle"},
        RefusalCase{"duty_above_1", raw(38000, 1.5, {9000, 4500, 560}), "duty_cycle"},
        RefusalCase{"duty_1", raw(38000, 1, {9000, 4500, 560}), "carrier bursts"},
        RefusalCase{"zero_duration", raw(38000, 0.33, {9000, 0, 560}), "duration 2 is 0"},
        RefusalCase{"no_data", raw(38000, 0.33, {}), "0 durations"},
        RefusalCase{"too_many", raw(38000, 0.33, std::vector<std::uint32_t>(1025, 500)),
                    "1025 durations"}),
    [](const ::testing::TestParamInfo<RefusalCase>& each) { return std::string(each.param.name); });

TEST(FlipperPress, FrequencyLimitsAreInclusive)
{
    EXPECT_EQ(pressText(raw(10000, 0.5, {100})), "+100");
    EXPECT_EQ(pressText(raw(56000, 0.5, {100})), "+100");
}

TEST(FlipperPress, CarrierDutyFramesAndToggle)
{
    struct Case {
        Definition d;
        int repeats;
        std::int32_t hz;
        double duty;
        int frames;
        int toggle;
    };
    const Case cases[] = {
        {parsed("NEC", 4, 8), 0, 38000, 0.33, 1, -1},
        {parsed("Samsung32", 7, 7), 2, 38000, 0.33, 3, -1},
        {parsed("SIRC20", 1, 1), 0, 40000, 0.33, 3, -1},
        {parsed("SIRC", 1, 1), 1, 40000, 0.33, 4, -1},
        {parsed("RC5", 1, 1), 0, 36000, 0.33, 1, 0},
        {parsed("RC6", 1, 1), 0, 36000, 0.33, 1, 0},
        {parsed("Kaseikyo", 0x2002A0, 1), 0, 38000, 0.33, 1, -1},
        {parsed("RCA", 1, 1), 0, 38000, 0.33, 1, -1},
        {parsed("Pioneer", 1, 1), 3, 40000, 0.33, 5, -1},
        {raw(36000, 0.5, {900, 450, 300}), 2, 36000, 0.5, 3, -1},
    };
    for (const Case& c : cases) {
        PressRequest r;
        r.repeats = c.repeats;
        Press press;
        std::string error;
        ASSERT_EQ(flipperPress(c.d, r, &press, &error), 0) << c.d.protocol << ": " << error;
        EXPECT_EQ(press.carrierHz, c.hz) << c.d.protocol;
        EXPECT_DOUBLE_EQ(press.dutyCycle, c.duty) << c.d.protocol;
        EXPECT_EQ(press.frames, c.frames) << c.d.protocol;
        EXPECT_EQ(press.toggle, c.toggle) << c.d.protocol;
        EXPECT_EQ(press.durations.size() % 2, 1u) << c.d.protocol << ": ends with a mark";
    }
}

TEST(FlipperPress, AskedToggleWinsOverThePressCount)
{
    EXPECT_EQ(pressText(parsed("RC5", 0, 0x0C), 0, 0, 1), rc5Command12(false, true));
    EXPECT_EQ(pressText(parsed("RC5", 0, 0x0C), 0, 1, 0), rc5Command12(false, false));
    Press press;
    std::string error;
    PressRequest r;
    r.toggle = 1;
    ASSERT_EQ(flipperPress(parsed("RC6", 1, 1), r, &press, &error), 0);
    EXPECT_EQ(press.toggle, 1);
    r.toggle = 2;
    EXPECT_EQ(flipperPress(parsed("RC6", 1, 1), r, &press, &error), -1);
    r.toggle = -1;
    r.repeats = -1;
    EXPECT_EQ(flipperPress(parsed("NEC", 1, 1), r, &press, &error), -1);
    EXPECT_NE(error.find("negative"), std::string::npos) << error;
}

TEST(FlipperPress, HoldsTooLongAreRefused)
{
    // A hundred dittos at 110 ms last 11 s; 601 durations twice are 1203.
    EXPECT_EQ(pressText(parsed("NEC", 4, 8), 100).rfind("refused: 100 repeats", 0), 0u);
    EXPECT_EQ(pressText(raw(38000, 0.33, std::vector<std::uint32_t>(601, 500)), 1)
                  .rfind("refused: 1 repeats", 0),
              0u);
}

// Each duration as a count of its protocol's unit: Flipper's and the kernel's
// roundings differ (560 / 563, 888 / 889) but the layout of marks and spaces must not.
std::vector<std::uint32_t> units(const std::vector<std::uint32_t>& durations, std::uint32_t unit)
{
    std::vector<std::uint32_t> out;
    out.reserve(durations.size());
    for (const std::uint32_t d : durations)
        out.push_back((d + unit / 2) / unit);
    return out;
}

struct KernelPair {
    const char* flipperName;
    const char* kernelName;
    std::uint32_t address;
    std::uint32_t command;
    std::uint32_t scancode;
    std::uint32_t flipperUnit;
    std::uint32_t kernelUnit;
};

class FlipperKernelLayoutTest : public ::testing::TestWithParam<KernelPair> {};

TEST_P(FlipperKernelLayoutTest, SameBitsAsTheKernel)
{
    const KernelPair& c = GetParam();
    const KernelProtocol* kernel = findKernelProtocol(c.kernelName);
    ASSERT_NE(kernel, nullptr);
    for (const int toggle : {0, 1}) {
        std::vector<std::uint32_t> expected;
        kernel->encode(kernelTimings(), c.scancode, toggle, &expected);
        PressRequest r;
        r.toggle = kernel->hasToggle ? toggle : -1;
        Press press;
        std::string error;
        ASSERT_EQ(flipperPress(parsed(c.flipperName, c.address, c.command), r, &press, &error), 0)
            << error;
        std::vector<std::uint32_t> first(press.durations.begin(),
                                         press.durations.begin() +
                                             static_cast<std::ptrdiff_t>(expected.size()));
        EXPECT_EQ(units(first, c.flipperUnit), units(expected, c.kernelUnit))
            << c.flipperName << " " << durationText(first) << " / " << durationText(expected);
        if (press.frames == 1) {
            EXPECT_EQ(press.durations.size(), expected.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flipper, FlipperKernelLayoutTest,
    ::testing::Values(KernelPair{"NEC", "nec", 0x04, 0x08, 0x0408, 560, 563},
                      KernelPair{"NEC", "nec", 0xFF, 0x00, 0xFF00, 560, 563},
                      KernelPair{"NEC", "nec", 0x5A, 0xC3, 0x5AC3, 560, 563},
                      KernelPair{"RC5", "rc5", 0x1E, 0x0C, 0x1E0C, 888, 889},
                      KernelPair{"RC5", "rc5", 0x00, 0x3F, 0x003F, 888, 889},
                      KernelPair{"RC5", "rc5", 0x15, 0x2A, 0x152A, 888, 889},
                      // RC5X's commands are RC5's plus 64.
                      KernelPair{"RC5X", "rc5", 0x15, 0x2A, 0x156A, 888, 889},
                      KernelPair{"RC6", "rc6_0", 0x80, 0x01, 0x8001, 444, 444},
                      KernelPair{"RC6", "rc6_0", 0x0C, 0xF3, 0x0CF3, 444, 444},
                      KernelPair{"RC6", "rc6_0", 0xFF, 0x00, 0xFF00, 444, 444},
                      KernelPair{"SIRC", "sony12", 0x01, 0x15, 0x010015, 1, 1},
                      KernelPair{"SIRC", "sony12", 0x1F, 0x40, 0x1F0040, 1, 1},
                      KernelPair{"SIRC15", "sony15", 0xA5, 0x15, 0xA50015, 1, 1},
                      // SIRC20's address: the device below the extension.
                      KernelPair{"SIRC20", "sony20", 0x3A << 5 | 0x01, 0x15, 0x013A15, 1, 1},
                      KernelPair{"SIRC20", "sony20", 0xC3 << 5 | 0x1E, 0x7F, 0x1EC37F, 1, 1}),
    [](const ::testing::TestParamInfo<KernelPair>& each) {
        return std::string(each.param.flipperName) + "_" + std::to_string(each.index);
    });

// A file of every kind of case, read as beam reads it.
TEST(FlipperPress, SampleFile)
{
    std::string text;
    std::string error;
    ASSERT_EQ(readTextFile(IRCODE_SAMPLES "/flipper.ir", &text, &error), 0) << error;
    std::vector<Signal> signals;
    Failure failure;
    ASSERT_EQ(readSignals(text, &signals, &failure), 0) << failure.line << ": " << failure.what;
    struct Expected {
        const char* name;
        const char* pressOrRefusal;
    };
    const std::string sirc3 =
        times(sircD1F15 + " -" + std::to_string(45000 - sumOf(sircD1F15)) + " ", 2) + sircD1F15;
    const std::string rc5 = "+888 -888 +1776 -1776 +888 -888 +888 -888 +888 -888 +1776 -888 +888 "
                            "-888 +888 -1776 +888 -888 +1776 -888 +888";
    const Expected expected[] = {
        {"Power", necPower.c_str()},
        {"Too_wide", "refused: NEC address 0x104 command 0x8: Flipper takes 8 address bits and 8 "
                     "command bits"},
        {"Vol_up", sirc3.c_str()},
        {"Next", rc5.c_str()},
        {"Lowercase", "refused: Flipper has no protocol 'samsung32' (it names it 'Samsung32')"},
        {"Short", "+900 -450 +300"},
        {"No_frequency",
         "refused: raw signal without a frequency: (Flipper requires one, 10000..56000 Hz)"},
        {"Steady",
         "refused: duty_cycle 1 is a steady mark, which cannot be sent as carrier bursts"},
        {"Zero", "refused: raw duration 2 is 0"},
    };
    ASSERT_EQ(signals.size(), sizeof expected / sizeof expected[0]);
    for (std::size_t i = 0; i < signals.size(); ++i) {
        EXPECT_EQ(signals[i].name, expected[i].name);
        EXPECT_EQ(pressText(signals[i].definition), expected[i].pressOrRefusal) << signals[i].name;
    }
    const Definition& power = signals[0].definition;
    EXPECT_EQ(power.source, Definition::Source::flipper);
    EXPECT_EQ(power.protocol, "NEC");
    EXPECT_EQ(power.address, 0x04u);
    EXPECT_EQ(power.command, 0x08u);
    EXPECT_EQ(signals[1].definition.address, 0x104u); // "04 01 00 00", little-endian
    const Definition& shortRaw = signals[5].definition;
    EXPECT_TRUE(shortRaw.raw);
    EXPECT_EQ(shortRaw.carrierHz, 36000);
    EXPECT_DOUBLE_EQ(shortRaw.dutyCycle, 0.5);
    EXPECT_EQ(shortRaw.durations, (std::vector<std::uint32_t>{900, 450, 300, 8000}));
    EXPECT_EQ(signals[6].definition.carrierHz, 0);
    // What nec-code makes of them is unchanged: only the NEC frame is sendable.
    EXPECT_TRUE(signals[0].sendable);
    EXPECT_FALSE(signals[2].sendable);
}

} // namespace
