#include "codes.h"
#include "protocols.h"
#include "sources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

Definition row(const char* protocol, std::uint64_t device, std::int64_t subdevice,
               std::uint64_t function)
{
    Definition d;
    d.source = Definition::Source::irdb;
    d.protocol = protocol;
    d.address = device;
    d.subdevice = subdevice;
    d.command = function;
    return d;
}

// Bits written as the IRP sends them, '0' and '1' in order on air, each as its
// bit form's mark and space.
std::string pd(const std::string& onAir, const char* zero, const char* one)
{
    std::string out;
    for (const char c : onAir)
        out += c == '1' ? one : zero;
    return out;
}

std::string times(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

struct IrpCase {
    const char* name;
    Definition d;
    PressRequest r;
    std::string text;
    std::int32_t carrierHz;
    double dutyCycle;
    int toggle;
};

class IrpTest : public ::testing::TestWithParam<IrpCase> {};

// Every expected press is written from the IRP by hand: its units multiplied out, its
// bits in their order, its extent's space what is left of the extent.
TEST_P(IrpTest, RendersTheIrp)
{
    const IrpCase& c = GetParam();
    Press press;
    std::string error;
    ASSERT_EQ(irdbPress(c.d, c.r, &press, &error), 0) << error;
    EXPECT_EQ(durationText(press.durations), c.text);
    EXPECT_EQ(press.carrierHz, c.carrierHz);
    EXPECT_DOUBLE_EQ(press.dutyCycle, c.dutyCycle);
    EXPECT_EQ(press.toggle, c.toggle);
    EXPECT_EQ(press.frames, 1 + c.r.repeats);
}

const char* n0 = " +564 -564";
const char* n1 = " +564 -1692";
// D 4 (S 255-4 = 251), F 8, ~F: 04 FB 08 F7, each least significant bit first; 16
// ones and 16 zeros make 68244 us, and the extent leaves 39756.
const std::string nec1Frame = "+9024 -4512" + pd("00100000", n0, n1) + pd("11011111", n0, n1) +
                              pd("00010000", n0, n1) + pd("11101111", n0, n1) + " +564";

INSTANTIATE_TEST_SUITE_P(
    Irdb, IrpTest,
    ::testing::Values(
        IrpCase{"nec1", row("NEC1", 4, -1, 8), {}, nec1Frame + " -39756", 38400, 0.4, -1},
        IrpCase{"nec_is_nec1", row("nec", 4, 251, 8), {}, nec1Frame + " -39756", 38400, 0.4, -1},
        // The ditto: 16,-4,1 then 108 ms less its 11844.
        IrpCase{"nec1_held",
                row("NEC1", 4, -1, 8),
                {1, -1, 0},
                nec1Frame + " -39756 +9024 -2256 +564 -96156",
                38400,
                0.4,
                -1},
        // NEC2 repeats its whole frame.
        IrpCase{"nec2_held",
                row("NEC2", 4, -1, 8),
                {1, -1, 0},
                nec1Frame + " -39756 " + nec1Frame + " -39756",
                38400,
                0.4,
                -1},
        // F:8,E:8 with E = 255-F: the same bytes as NEC1.
        IrpCase{"nec1_f16", row("NEC1-f16", 4, -1, 8), {}, nec1Frame + " -39756", 38400, 0.4, -1},
        // NECx1: an 8,-8 lead; D 7 S 7 F 2: 07 07 02 FD, 14 ones and 18 zeros:
        // 9024 + 14 x 2256 + 18 x 1128 + 564 = 61476.
        IrpCase{"necx1",
                row("NECx1", 7, 7, 2),
                {},
                "+4512 -4512" + pd("11100000", n0, n1) + pd("11100000", n0, n1) +
                    pd("01000000", n0, n1) + pd("10111111", n0, n1) + " +564 -46524",
                38400,
                0.4,
                -1},
        // The kernel's sony12:0x10015 (D 1, F 0x15) with the extent's space: 19200 us
        // of marks and spaces before it, 25800 after the last mark.
        IrpCase{"sony12",
                row("Sony12", 1, -1, 0x15),
                {},
                "+2400 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 "
                "+600 -600 +1200 -600 +600 -600 +600 -600 +600 -600 +600 -25800",
                40000,
                0.4,
                -1},
        // The kernel's rc5:0x1e0c: 23114 us of frame, 90886 of the 114 ms left.
        IrpCase{"rc5",
                row("RC5", 30, -1, 12),
                {},
                "+889 -889 +1778 -1778 +889 -889 +889 -889 +889 -889 +1778 -889 +889 -889 +889 "
                "-1778 +889 -889 +1778 -889 +889 -90886",
                36000,
                0.4,
                0},
        // LIRC's RC5 example 0x100C, its toggle set: the second press of a remote.
        IrpCase{"rc5_second_press",
                row("RC5", 0, -1, 12),
                {0, -1, 1},
                "+889 -889 +889 -889 +1778 -889 +889 -889 +889 -889 +889 -889 +889 -889 +889 "
                "-889 +889 -1778 +889 -889 +1778 -889 +889 -90886",
                36000,
                0.4,
                1},
        IrpCase{"rc5_toggle_asked",
                row("RC5", 0, -1, 12),
                {0, 1, 0},
                "+889 -889 +889 -889 +1778 -889 +889 -889 +889 -889 +889 -889 +889 -889 +889 "
                "-889 +889 -1778 +889 -889 +1778 -889 +889 -90886",
                36000,
                0.4,
                1},
        // JVC at 527 us, 33 %: D 1 is 10000000 on air, F 0; 31093 us, 27987 left of 59.08 ms.
        IrpCase{"jvc",
                row("JVC", 1, -1, 0),
                {},
                "+8432 -4216 +527 -1581" + times(" +527 -527", 15) + " +527 -27987",
                37900,
                0.33,
                -1},
        // Its repeat has no lead: 46.42 ms less 18445.
        IrpCase{"jvc_held",
                row("JVC", 1, -1, 0),
                {1, -1, 0},
                "+8432 -4216 +527 -1581" + times(" +527 -527", 15) + " +527 -27987 +527 -1581" +
                    times(" +527 -527", 15) + " +527 -27975",
                37900,
                0.33,
                -1},
        // 2.6 x 289 = 751.4 rounds to 751, and ten of them leave 25300 - 10693 = 14607.
        IrpCase{"akai",
                row("Akai", 0, -1, 0),
                {},
                times("+289 -751 ", 10) + "+289 -14607",
                38000,
                0.4,
                -1},
        // Mitsubishi has no lead: D 1, F 0, then 1,-80.
        IrpCase{"mitsubishi",
                row("Mitsubishi", 1, -1, 0),
                {},
                "+300 -2100" + times(" +300 -900", 15) + " +300 -24000",
                32600,
                0.4,
                -1},
        // RCA, most significant bit first: D 0 F 0 then ~D 1111, ~F 11111111.
        IrpCase{"rca",
                row("RCA", 0, -1, 0),
                {},
                "+3680 -3680" + times(" +460 -920", 12) + times(" +460 -1840", 12) + " +460 -7360",
                58000,
                0.4,
                -1}),
    [](const ::testing::TestParamInfo<IrpCase>& test) { return test.param.name; });

struct KernelCase {
    const char* irdb;
    std::uint64_t device;
    std::int64_t subdevice;
    std::uint64_t function;
    int toggle;
    const char* kernel;
    std::uint32_t scancode;
};

class IrpKernelLayoutTest : public ::testing::TestWithParam<KernelCase> {};

// Where the IRP and the kernel lay a frame out alike, the kernel's encoder in the IRP's
// units must give the same frame: the IRP's only has the extent's space after it.
TEST_P(IrpKernelLayoutTest, MatchesTheKernelsEncoder)
{
    const KernelCase& c = GetParam();
    ProtocolTimings irp = kernelTimings();
    irp.nec = {9024, 4512, 564, 564, 1692};
    std::vector<std::uint32_t> expected;
    findKernelProtocol(c.kernel)->encode(irp, c.scancode, c.toggle, &expected);
    PressRequest r;
    r.toggle = c.toggle;
    Press press;
    std::string error;
    ASSERT_EQ(irdbPress(row(c.irdb, c.device, c.subdevice, c.function), r, &press, &error), 0)
        << error;
    ASSERT_EQ(press.durations.size(), expected.size() + 1) << c.irdb;
    press.durations.pop_back();
    EXPECT_EQ(durationText(press.durations), durationText(expected)) << c.irdb;
}

INSTANTIATE_TEST_SUITE_P(
    Irdb, IrpKernelLayoutTest,
    ::testing::Values(KernelCase{"NEC1", 4, -1, 8, 0, "nec", 0x0408},
                      KernelCase{"NEC1", 0, -1, 0, 0, "nec", 0},
                      KernelCase{"NEC1", 255, -1, 255, 0, "nec", 0xffff},
                      KernelCase{"NEC1", 0xb8, 0, 0x12, 0, "necx", 0xb80012},
                      KernelCase{"NEC2", 0x7f, 0x80, 0x55, 0, "necx", 0x7f8055},
                      KernelCase{"RC5", 30, -1, 12, 0, "rc5", 0x1e0c},
                      KernelCase{"RC5", 31, -1, 127, 1, "rc5", 0x1f7f},
                      KernelCase{"RC5", 0, -1, 64, 0, "rc5", 0x40},
                      KernelCase{"RC6", 4, -1, 12, 0, "rc6_0", 0x040c},
                      KernelCase{"RC6", 255, -1, 255, 1, "rc6_0", 0xffff},
                      KernelCase{"Sony12", 1, -1, 0x15, 0, "sony12", 0x10015},
                      KernelCase{"Sony15", 0xa5, -1, 0x7f, 0, "sony15", 0xa5007f},
                      KernelCase{"Sony20", 3, 0x5a, 0x11, 0, "sony20", 0x35a11}));

// MCE's scancode is 0x80<<24 | S<<16 | T<<15 | D<<8 | F: irdb's MCE,4,15,12.
TEST(Irdb, MceIsTheKernelsRc6Mce)
{
    std::vector<std::uint32_t> expected;
    findKernelProtocol("rc6_mce")->encode(kernelTimings(), 0x800f040c, 0, &expected);
    Press press;
    std::string error;
    ASSERT_EQ(irdbPress(row("MCE", 4, 15, 12), PressRequest{}, &press, &error), 0) << error;
    ASSERT_GT(press.durations.size(), expected.size());
    press.durations.resize(expected.size());
    EXPECT_EQ(durationText(press.durations), durationText(expected));
}

struct RefusalCase {
    Definition d;
    int repeats;
    const char* words;
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, SaysWhy)
{
    const RefusalCase& c = GetParam();
    PressRequest r;
    r.repeats = c.repeats;
    Press press;
    std::string error;
    EXPECT_EQ(irdbPress(c.d, r, &press, &error), -1);
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Irdb, RefusalTest,
    ::testing::Values(RefusalCase{row("XMP-1", 1, 2, 3), 0, "XMP-1: not one beam can send (yet)"},
                      RefusalCase{row("Pioneer", 1, -1, 3), 0, "not one beam can send"},
                      RefusalCase{row("NECx1", 7, -1, 2), 0, "gives no subdevice"},
                      RefusalCase{row("NEC1-f16", 4, -1, 256), 0, "F 0..255"},
                      RefusalCase{row("RC5", 32, -1, 1), 0, "D 0..31"},
                      RefusalCase{row("Sony12", 1, -1, 128), 0, "F 0..127"},
                      RefusalCase{row("NEC1", 4, -1, 8), -1, "negative"},
                      // A frame and 92 dittos, 108 ms each, pass 10 s; 91 do not.
                      RefusalCase{row("NEC1", 4, -1, 8), 92, "longer than 10 s"}));

// Every row whose numbers read keeps them, NEC or not; nec-code's judgement is untouched.
TEST(IrdbReader, DefinesEveryRow)
{
    std::vector<Signal> signals;
    Failure failure;
    ASSERT_EQ(readIrdb("functionname,protocol,device,subdevice,function\n"
                       "POWER,NEC1,4,-1,8\n"
                       "PLAY,RC5,30,-1,12\n"
                       "ODD,Sony20,3,90,-2\n",
                       &signals, &failure),
              0)
        << failure.what;
    ASSERT_EQ(signals.size(), 3u);
    const Definition& nec = signals[0].definition;
    EXPECT_EQ(nec.source, Definition::Source::irdb);
    EXPECT_EQ(nec.protocol, "NEC1");
    EXPECT_EQ(nec.address, 4u);
    EXPECT_EQ(nec.subdevice, -1);
    EXPECT_EQ(nec.command, 8u);
    EXPECT_TRUE(signals[0].sendable);
    EXPECT_EQ(signals[1].definition.protocol, "RC5");
    EXPECT_EQ(signals[1].definition.address, 30u);
    EXPECT_FALSE(signals[1].sendable);
    EXPECT_EQ(signals[1].note, "RC5: not NEC");
    EXPECT_EQ(signals[2].definition.source, Definition::Source::none);
}

TEST(Irdb, TogglesFromPressToPress)
{
    for (unsigned earlier = 0; earlier < 4; ++earlier) {
        PressRequest r;
        r.earlierPresses = earlier;
        Press press;
        std::string error;
        ASSERT_EQ(irdbPress(row("RC6", 4, -1, 12), r, &press, &error), 0) << error;
        EXPECT_EQ(press.toggle, static_cast<int>(earlier % 2));
    }
}

} // namespace
