// The kernel-VM stage compares lines; these check that the lines say what arrived:
// the kinds of the samples, the frame's bounds, and a trace's frame as NEC timing.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <linux/lirc.h>

#include "case_name.h"
#include "files.h"
#include "lirc_text.h"
#include "run_program.h"

namespace {

using Samples = std::vector<uint32_t>;

struct Mode2Case {
    const char* what;
    Samples samples;
    const char* durations;
    const char* carriers;
};

const Mode2Case mode2Cases[] = {
    {"frame after an earlier one",
     {LIRC_SPACE(912345), LIRC_PULSE(8892), LIRC_SPACE(4500), LIRC_PULSE(546), LIRC_SPACE(1688),
      LIRC_FREQUENCY(38462), LIRC_PULSE(546), LIRC_TIMEOUT(125000)},
     "8892 4500 546 1688 546",
     "38462"},
    {"first frame since boot", {LIRC_PULSE(546), LIRC_TIMEOUT(125000)}, "546", ""},
    {"two pulses in a row",
     {LIRC_PULSE(8892), LIRC_PULSE(4500), LIRC_SPACE(546), LIRC_TIMEOUT(125000)},
     "8892 pulse:4500 546 timeout:125000 unended",
     ""},
    {"no timeout marker", {LIRC_PULSE(8892), LIRC_SPACE(4500)}, "8892 4500 unended", ""},
    {"timeout after a space",
     {LIRC_PULSE(8892), LIRC_SPACE(4500), LIRC_TIMEOUT(9)},
     "8892 4500 timeout:9 unended",
     ""},
    {"overflow and unknown kinds",
     {LIRC_PULSE(1), LIRC_OVERFLOW(0), 0x05000002, LIRC_TIMEOUT(9)},
     "1 overflow 0x05000002 timeout:9 unended",
     ""},
    {"nothing", {}, "", ""},
    {"only a gap", {LIRC_SPACE(700)}, "", ""},
};

class Mode2Text : public testing::TestWithParam<Mode2Case> {};

TEST_P(Mode2Text, ShowsDurationsAndKinds)
{
    const lircText::Mode2 text = lircText::mode2Text(GetParam().samples);
    EXPECT_EQ(text.durations, GetParam().durations);
    EXPECT_EQ(text.carriers, GetParam().carriers);
}

INSTANTIATE_TEST_SUITE_P(Samples, Mode2Text, testing::ValuesIn(mode2Cases), caseName<Mode2Case>);

TEST(ScancodeText, ShowsProtocolAndFlags)
{
    EXPECT_EQ(lircText::scancodeText(0x45, 9, 0), "0x45 proto 9");
    EXPECT_EQ(lircText::scancodeText(0xffffffff, 11, 0), "0xffffffff proto 11");
    EXPECT_EQ(lircText::scancodeText(0x847a15, 10, LIRC_SCANCODE_FLAG_REPEAT),
              "0x847a15 proto 10 repeat");
    EXPECT_EQ(lircText::scancodeText(0x1, 2, LIRC_SCANCODE_FLAG_TOGGLE), "0x1 proto 2 toggle");
}

TEST(Escaped, KeepsEveryByteOnOneLine)
{
    EXPECT_EQ(lircText::escaped(std::string("Result: 67\n\\ \r\t\0\xff", 17)),
              "Result: 67\\n\\\\ \\r\\t\\x00\\xff");
    EXPECT_EQ(lircText::escaped(""), "");
}

// A VCD trace as the stand-in writes it: one wire, changes by time.
std::string vcd(const std::vector<std::pair<long, int>>& changes)
{
    std::string text = "$timescale 1us $end\n$scope module gpio $end\n"
                       "$var wire 1 9 gpio24 $end\n$upscope $end\n$enddefinitions $end\n"
                       "#0\n$dumpvars\n09\n$end\n";
    for (const auto& [at, level] : changes) {
        text += "#" + std::to_string(at) + "\n" + std::to_string(level) + "9\n";
    }
    return text;
}

// `periods` carrier periods of 13 us on and 13 us off from `at`.
void burst(std::vector<std::pair<long, int>>& changes, long at, int periods)
{
    for (int i = 0; i < periods; ++i) {
        changes.emplace_back(at + 26L * i, 1);
        changes.emplace_back(at + 26L * i + 13, 0);
    }
}

TEST(TraceFrame, PulsesAreWholeCarrierPeriods)
{
    std::vector<std::pair<long, int>> changes;
    burst(changes, 20, 342);
    burst(changes, 20 + 8892 + 4500, 21);
    burst(changes, 20 + 8892 + 4500 + 546 + 1688, 21);
    const lircText::TraceFrame frame = lircText::traceFrame(vcd(changes), "gpio24");
    EXPECT_EQ(frame.error, "");
    EXPECT_EQ(frame.durations, (std::vector<uint32_t>{8892, 4500, 546, 1688, 546}));
    EXPECT_EQ(frame.carrierHz, 38462U);
}

TEST(TraceFrame, SilenceOfThreePeriodsEndsAPulse)
{
    std::vector<std::pair<long, int>> changes;
    burst(changes, 0, 4);   // rises 0..78, last fall at 91
    burst(changes, 155, 4); // 64 us later: the same pulse, rises up to 233, last fall at 246
    burst(changes, 500, 4); // 254 us later: the next pulse, last fall at 591
    burst(changes, 669, 2); // exactly 3 periods (78 us) later: the next pulse
    const lircText::TraceFrame frame = lircText::traceFrame(vcd(changes), "gpio24");
    ASSERT_EQ(frame.error, "");
    EXPECT_EQ(frame.durations, (std::vector<uint32_t>{233 + 26, 500 - 259, 104, 669 - 604, 52}));
}

TEST(TraceFrame, UnmodulatedPulseLastsWhileHigh)
{
    std::vector<std::pair<long, int>> changes;
    burst(changes, 0, 2);
    changes.emplace_back(1000, 1);
    changes.emplace_back(1500, 0);
    const lircText::TraceFrame frame = lircText::traceFrame(vcd(changes), "gpio24");
    ASSERT_EQ(frame.error, "");
    EXPECT_EQ(frame.durations, (std::vector<uint32_t>{52, 948, 500}));
}

TEST(TraceFrame, RefusesWhatIsNoFrame)
{
    EXPECT_EQ(lircText::traceFrame(vcd({{5, 1}}), "gpio24").error,
              "the trace ends with gpio24 high");
    EXPECT_EQ(lircText::traceFrame(vcd({}), "gpio24").error, "no pulse on gpio24");
    EXPECT_EQ(lircText::traceFrame(vcd({{5, 1}, {6, 0}}), "gpio23").error,
              "no wire gpio23 in the trace");
}

// The stand-in's trace of the installed beamfile, read as the stage reads it.
TEST(TraceFrame, OfTheExampleCodeIsItsNecFrame)
{
    const std::string code = "00000000111111111010001001011101";
    TempDir dir;
    dir.write("expected_message.txt", code);
    const Outcome run = runProgram(installedProgram("beamfile"), dir.path(),
                                   {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_VCD=trace.vcd"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::vector<uint32_t> expected = {8892, 4500};
    for (const char bit : code) {
        expected.push_back(546);
        expected.push_back(bit == '1' ? 1688 : 562);
    }
    expected.push_back(546);
    const lircText::TraceFrame frame = lircText::traceFrame(dir.read("trace.vcd"), "gpio24");
    EXPECT_EQ(frame.error, "");
    EXPECT_EQ(frame.durations, expected);
    EXPECT_EQ(frame.carrierHz, 38462U);
}

} // namespace
