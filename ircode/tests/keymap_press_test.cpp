#include "codes.h"
#include "protocols.h"
#include "sources.h"

#include "files.h"
#include "ir_ctl_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string times(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

// Bits in their order on air, '0' and '1', each as its mark and space.
std::string onAir(const std::string& bits, const char* zero, const char* one)
{
    std::string out;
    for (const char c : bits)
        out += c == '1' ? one : zero;
    return out;
}

std::vector<Signal> keymap(const std::string& text)
{
    std::vector<Signal> signals;
    Failure failure;
    EXPECT_EQ(readKeymap(text, &signals, &failure), 0) << failure.line << ": " << failure.what;
    return signals;
}

TEST(KeymapReader, KeepsTheTable)
{
    const std::vector<Signal> signals = keymap("[[protocols]]\n"
                                               "name = 'Dish Network'\n"
                                               "protocol = 'pulse_distance'\n"
                                               "header_pulse = 525\n"
                                               "bits = 16\n"
                                               "[protocols.scancodes]\n"
                                               "0x0400 = 'KEY_SAT'\n"
                                               "[[protocols]]\n"
                                               "protocol = \"rc6\"\n"
                                               "variant = \"rc6_mce\"\n"
                                               "[protocols.scancodes]\n"
                                               "0x800f040c = \"KEY_POWER\"\n");
    ASSERT_EQ(signals.size(), 2u);
    const Definition& d = signals[0].definition;
    EXPECT_EQ(d.source, Definition::Source::keymap);
    EXPECT_EQ(d.protocol, "pulse_distance");
    EXPECT_EQ(d.scancode, 0x400u);
    const std::vector<std::pair<std::string, std::string>> parameters{{"header_pulse", "525"},
                                                                      {"bits", "16"}};
    EXPECT_EQ(d.parameters, parameters);
    EXPECT_FALSE(signals[0].sendable);
    EXPECT_EQ(signals[1].definition.protocol, "rc6_mce");
    EXPECT_TRUE(signals[1].definition.parameters.empty());
}

TEST(KeymapReader, ReadsRawEntries)
{
    const std::vector<Signal> signals = keymap("[[protocols]]\n"
                                               "name = 'raw'\n"
                                               "protocol = 'raw'\n"
                                               "carrier = 36000\n"
                                               "[[protocols.raw]]\n"
                                               "keycode = 'KEY_A'\n"
                                               "raw = '+2400 -600 1200'\n"
                                               "[[protocols.raw]]\n"
                                               "raw = '889 -889 889'\n"
                                               "keycode = 'KEY_B'\n");
    ASSERT_EQ(signals.size(), 2u);
    EXPECT_TRUE(signals[0].definition.raw);
    EXPECT_EQ(signals[0].name, "KEY_A");
    EXPECT_EQ(durationText(signals[0].definition.durations), "+2400 -600 +1200");
    EXPECT_EQ(signals[0].definition.carrierHz, 36000);
    EXPECT_EQ(signals[1].name, "KEY_B");
    EXPECT_EQ(durationText(signals[1].definition.durations), "+889 -889 +889");
    std::vector<Signal> none;
    Failure failure;
    EXPECT_EQ(readKeymap("[[protocols]]\nprotocol = 'raw'\n[[protocols.raw]]\nkeycode = 'KEY_A'\n"
                         "raw = '100 200'\n",
                         &none, &failure),
              -1);
}

Definition bpf(const char* protocol, std::uint64_t scancode,
               std::vector<std::pair<std::string, std::string>> parameters)
{
    Definition d;
    d.source = Definition::Source::keymap;
    d.protocol = protocol;
    d.scancode = scancode;
    d.parameters = std::move(parameters);
    return d;
}

struct KeyCase {
    const char* name;
    Definition d;
    int repeats;
    std::string text;
    std::int32_t carrierHz;
};

class KeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyTest, SendsWhatTheKeymapMeans)
{
    const KeyCase& c = GetParam();
    PressRequest r;
    r.repeats = c.repeats;
    Press press;
    std::string error;
    ASSERT_EQ(keymapPress(c.d, r, &press, &error), 0) << error;
    EXPECT_EQ(durationText(press.durations), c.text);
    EXPECT_EQ(press.carrierHz, c.carrierHz);
    EXPECT_EQ(press.frames, 1 + c.repeats);
}

const std::vector<std::pair<std::string, std::string>> dish{
    {"trailer_pulse", "450"}, {"header_optional", "1"}, {"header_pulse", "525"},
    {"header_space", "6045"}, {"bits", "16"},           {"bit_pulse", "440"},
    {"bit_1_space", "1645"},  {"bit_0_space", "2780"}};
const std::string dishSat =
    "+525 -6045" + onAir("0000010000000000", " +440 -2780", " +440 -1645") + " +450";

// Expected frames from v4l-utils' encoders and defaults; the carrier a keymap
// leaves out is 38000 Hz (ir-ctl's 0 would send no carrier at all).
INSTANTIATE_TEST_SUITE_P(
    Keymap, KeyTest,
    ::testing::Values(
        KeyCase{"dish_network", bpf("pulse_distance", 0x400, dish), 0, dishSat, 38000},
        KeyCase{"dish_held", bpf("pulse_distance", 0x400, dish), 1, dishSat + " -125000 " + dishSat,
                38000},
        KeyCase{"pulse_distance_defaults", bpf("pulse_distance", 0x9, {}), 0,
                "+2125 -1875 +625 -1625 +625 -375 +625 -375 +625 -1625 +625", 38000},
        KeyCase{"pulse_distance_reversed",
                bpf("pulse_distance", 0x1, {{"reverse", "1"}, {"carrier", "36000"}}), 0,
                "+2125 -1875 +625 -1625" + times(" +625 -375", 3) + " +625", 36000},
        // Bits by their pulses, the spaces fixed, no trailer: the names as meant.
        KeyCase{"pulse_length_defaults", bpf("pulse_length", 0xa, {}), 0,
                "+2125 -1875 +1625 -625 +375 -625 +1625 -625 +375", 38000},
        KeyCase{"pulse_length_sony_like",
                bpf("pulse_length", 0x5,
                    {{"header_pulse", "2400"},
                     {"header_space", "600"},
                     {"bits", "3"},
                     {"bit_0_pulse", "600"},
                     {"bit_1_pulse", "1200"},
                     {"bit_space", "600"},
                     {"trailer_pulse", "900"},
                     {"carrier", "40000"}}),
                0, "+2400 -600 +1200 -600 +600 -600 +1200", 40000},
        // A 1 is pulse then space, a 0 space then pulse: a frame starting with a 0 bit
        // starts with its pulse.
        KeyCase{"manchester_defaults", bpf("manchester", 0x2000, {}), 0,
                "+888 -1776 +888" + times(" -888 +888", 12), 38000},
        KeyCase{"manchester_header",
                bpf("manchester", 0x1,
                    {{"header_pulse", "2000"}, {"header_space", "1000"}, {"bits", "2"}}),
                0, "+2000 -1888 +1776", 38000},
        // 12 bits then their complement, a 1 the short space (as ir-ctl sends 0xa0b).
        KeyCase{"xbox_dvd", bpf("xbox_dvd", 0xa0b, {}), 0,
                "+4000 -3900" + onAir("101000001011010111110100", " +550 -1900", " +550 -900") +
                    " +550",
                38000}),
    [](const ::testing::TestParamInfo<KeyCase>& test) { return test.param.name; });

struct MaskCase {
    const char* protocol;
    std::uint64_t scancode;
    std::uint32_t sent;
    int toggle;
};

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

// As ir-ctl sends them, measured: bits the layout has no place for are not sent
// (lme2510.toml's nec 0xef12bc43 goes out as bc 43 43 bc), an MCE scancode's bit 15
// is its toggle (imon_mce.toml's 0x800ff40c), and a layout the kernel refuses is sent
// as laid out (tivo.toml's nec32 0x3085d02f as 85 30 2f d0).
TEST_P(MaskTest, SendsAsIrCtl)
{
    const MaskCase& c = GetParam();
    std::vector<std::uint32_t> expected;
    findKernelProtocol(c.protocol)->encode(kernelTimings(), c.sent, c.toggle, &expected);
    Press press;
    std::string error;
    ASSERT_EQ(keymapPress(bpf(c.protocol, c.scancode, {}), PressRequest{}, &press, &error), 0)
        << error;
    EXPECT_EQ(durationText(press.durations), durationText(expected));
}

INSTANTIATE_TEST_SUITE_P(Keymap, MaskTest,
                         ::testing::Values(MaskCase{"nec", 0xef12bc43, 0xbc43, 0},
                                           MaskCase{"nec32", 0x3085d02f, 0x3085d02f, 0},
                                           MaskCase{"necx", 0x12ed34, 0x12ed34, 0},
                                           MaskCase{"rc6_mce", 0x800ff40c, 0x800f740c, 1},
                                           MaskCase{"sony12", 0xff1f00ff, 0x1f007f, 0}));

// A raw entry goes out as written, at the table's carrier, again after ir-ctl's gap.
TEST(Keymap, SendsRawEntriesAsWritten)
{
    const std::vector<Signal> signals = keymap("[[protocols]]\nprotocol = 'raw'\n"
                                               "carrier = 36000\n[[protocols.raw]]\n"
                                               "keycode = 'KEY_A'\nraw = '+889 -889 +1778'\n");
    ASSERT_EQ(signals.size(), 1u);
    PressRequest r;
    r.repeats = 1;
    Press press;
    std::string error;
    ASSERT_EQ(keymapPress(signals[0].definition, r, &press, &error), 0) << error;
    EXPECT_EQ(durationText(press.durations), "+889 -889 +1778 -125000 +889 -889 +1778");
    EXPECT_EQ(press.carrierHz, 36000);
    EXPECT_EQ(press.frames, 2);
}

TEST(Keymap, KernelProtocolsGoThroughTheKernelsEncoder)
{
    const std::vector<Signal> signals = keymap("[[protocols]]\nprotocol = 'nec'\nvariant = 'necx'\n"
                                               "[protocols.scancodes]\n0x866b00 = 'KEY_A'\n"
                                               "[[protocols]]\nprotocol = 'rc-5-sz'\n"
                                               "[protocols.scancodes]\n0x2801 = 'KEY_B'\n"
                                               "[[protocols]]\nprotocol = 'rc6'\n"
                                               "variant = 'rc6_mce'\n[protocols.scancodes]\n"
                                               "0x800f040c = 'KEY_C'\n");
    ASSERT_EQ(signals.size(), 3u);
    const char* kernelNames[] = {"necx", "rc5_sz", "rc6_mce"};
    for (std::size_t i = 0; i < signals.size(); ++i) {
        Press expected;
        std::string error;
        ASSERT_EQ(kernelPress(*findKernelProtocol(kernelNames[i]),
                              static_cast<std::uint32_t>(signals[i].definition.scancode), 0, 2,
                              &expected, &error),
                  0)
            << error;
        PressRequest r;
        r.repeats = 2;
        Press press;
        ASSERT_EQ(keymapPress(signals[i].definition, r, &press, &error), 0) << error;
        EXPECT_EQ(durationText(press.durations), durationText(expected.durations)) << i;
        EXPECT_EQ(press.carrierHz, expected.carrierHz) << i;
    }
}

struct RefusedCase {
    Definition d;
    const char* words;
};

class RefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTest, SaysWhy)
{
    Press press;
    std::string error;
    EXPECT_EQ(keymapPress(GetParam().d, PressRequest{}, &press, &error), -1);
    EXPECT_NE(error.find(GetParam().words), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Keymap, RefusedTest,
    ::testing::Values(RefusedCase{bpf("samsung36", 1, {}), "no encoder"},
                      RefusedCase{bpf("unknown", 1, {}), "no protocol"},
                      RefusedCase{bpf("rc6", 1, {}), "not one ir-ctl can send"},
                      RefusedCase{bpf("nec32", 0x100000000, {}), "32 bits"},
                      RefusedCase{bpf("pulse_distance", 1, {{"bits", "65"}}), "1 to 64 bits"},
                      RefusedCase{bpf("pulse_distance", 1, {{"bit_pulse", "x"}}), "bit_pulse"}));

#ifdef FAKE_LIRC_TRANSMITTER
constexpr const char* keymapFolder = "/lib/udev/rc_keymaps";

std::vector<std::string> keymapFiles()
{
    std::vector<std::string> files;
    for (const std::string& file : filesIn(keymapFolder, false)) {
        if (file.size() > 5 && file.compare(file.size() - 5, 5, ".toml") == 0)
            files.push_back(file);
    }
    return files;
}

struct Tally {
    int compared = 0;
    int matched = 0;
    int differing = 0;
    int carrierZero = 0;                    // ir-ctl's carrier 0 for a keymap without one
    std::map<std::string, int> irCtlCannot; // sent by us, not by ir-ctl 1.22.1: by protocol
    std::map<std::string, int> bothRefuse;  // by our reason
    std::map<std::string, int> onlyWeRefuse;
};

bool sent(const IrCtlRun& run)
{
    return run.status == 0 && !run.durations.empty();
}

// One key: ours against what ir-ctl sends for it.  ir-ctl encodes the kernel's
// protocols in its own timings here (the fake transmitter takes no scancodes), so for
// those the same layout in v4l-utils' timings is what it must send.
void compareKey(const std::string& file, const Signal& s, Tally* t)
{
    const Definition& d = s.definition;
    Press press;
    std::string error;
    const int status = keymapPress(d, PressRequest{}, &press, &error);
    const IrCtlRun run = runIrCtl({"-k", file, "-K", s.name});
    if (status != 0) {
        ++(sent(run) ? t->onlyWeRefuse : t->bothRefuse)[error];
        EXPECT_FALSE(sent(run)) << file << " " << s.name << ": we refuse: " << error;
        return;
    }
    if (!sent(run)) {
        ++t->irCtlCannot[d.protocol];
        return;
    }
    ++t->compared;
    std::string expected = durationText(press.durations);
    std::int32_t carrierHz = press.carrierHz;
    if (const KernelProtocol* kernel = findKernelProtocol(d.protocol)) {
        std::vector<std::uint32_t> frame;
        kernel->encode(v4lUtilsTimings(), static_cast<std::uint32_t>(d.scancode), 0, &frame);
        expected = durationText(frame);
    } else if (run.carrierHz == 0 && press.carrierHz == 38000) {
        ++t->carrierZero;
        carrierHz = 0;
    }
    const bool same = durationText(run.durations) == expected && run.carrierHz == carrierHz;
    ++(same ? t->matched : t->differing);
    EXPECT_TRUE(same) << file << " " << s.name << " (" << d.protocol << "): ir-ctl "
                      << run.carrierHz << " Hz " << durationText(run.durations) << "; ours "
                      << press.carrierHz << " Hz " << expected;
}

// In the test's own folder: tests run at once, and as other users.
std::string writeKeymap(const TempDir& dir, const char* name, const std::string& table)
{
    std::string path = dir.file(name);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file != nullptr) {
        (void)std::fputs(
            ("[[protocols]]\nname = 'x'\n" + table + "[protocols.scancodes]\n0x9 = 'KEY_A'\n")
                .c_str(),
            file);
        (void)std::fclose(file);
    }
    return path;
}

Press pressOf(const std::string& table)
{
    std::vector<Signal> signals =
        keymap("[[protocols]]\n" + table + "[protocols.scancodes]\n0x9 = 'KEY_A'\n");
    Press press;
    std::string error;
    EXPECT_EQ(signals.size(), 1u);
    if (!signals.empty()) {
        EXPECT_EQ(keymapPress(signals[0].definition, PressRequest{}, &press, &error), 0) << error;
    }
    return press;
}

// Where ir-ctl 1.22.1 errs we send what the file means; these hold the difference to
// exactly the known faults, so that the sweep's silence about them is no blind spot.
TEST(IrCtlOracle, DiffersOnlyByTheKnownFaults)
{
    if (access(IR_CTL, X_OK) != 0)
        GTEST_SKIP() << IR_CTL << " not found: no oracle (Debian's v4l-utils has it)";
    const TempDir dir;
    // pulse_length: 1.22.1 takes its bit pulses from bit_0_space/bit_1_space and its
    // space from bit_pulse, and keeps the last space.
    const std::string meant = "protocol = 'pulse_length'\nbits = 4\ncarrier = 40000\n"
                              "bit_0_pulse = 600\nbit_1_pulse = 1200\nbit_space = 700\n";
    const std::string crossed = "protocol = 'pulse_length'\nbits = 4\ncarrier = 40000\n"
                                "bit_0_space = 600\nbit_1_space = 1200\nbit_pulse = 700\n";
    const IrCtlRun length =
        runIrCtl({"-k", writeKeymap(dir, "crossed.toml", crossed), "-K", "KEY_A"});
    ASSERT_EQ(length.status, 0);
    EXPECT_EQ(durationText(length.durations), durationText(pressOf(meant).durations) + " -700");
    EXPECT_EQ(length.carrierHz, 40000);
    // manchester: 1.22.1 drops the header and adds to a first slot it never cleared.
    const std::string header = "protocol = 'manchester'\nbits = 4\n"
                               "header_pulse = 2000\nheader_space = 1000\n";
    const IrCtlRun manchester =
        runIrCtl({"-k", writeKeymap(dir, "header.toml", header), "-K", "KEY_A"});
    ASSERT_EQ(manchester.status, 0);
    std::vector<std::uint32_t> ours = pressOf(header).durations;
    ASSERT_GT(ours.size(), 3u);
    EXPECT_EQ(durationText(ours).substr(0, 11), "+2000 -1000");
    ours.erase(ours.begin(), ours.begin() + 3);
    std::vector<std::uint32_t> theirs = manchester.durations;
    ASSERT_FALSE(theirs.empty());
    theirs.erase(theirs.begin());
    EXPECT_EQ(durationText(theirs), durationText(ours));
    // No carrier in the keymap: 1.22.1 asks for 0, unmodulated.
    EXPECT_EQ(manchester.carrierHz, 0);
    EXPECT_EQ(pressOf(header).carrierHz, 38000);
}

void print(const char* title, const std::map<std::string, int>& counts)
{
    for (const auto& each : counts)
        std::printf("  %s: %d x %s\n", title, each.second, each.first.c_str());
}

// Every key of every keymap Debian ships, against ir-ctl -k FILE -K KEY.  A refusal
// is checked once per file and reason (Debian's 70 "unknown" tables would otherwise
// be most of the run).
TEST(IrCtlOracle, SendsEveryDebianKeymapKeyAsIrCtl)
{
    if (access(IR_CTL, X_OK) != 0)
        GTEST_SKIP() << IR_CTL << " not found: no oracle (Debian's v4l-utils has it)";
    const std::vector<std::string> files = keymapFiles();
    if (files.empty())
        GTEST_SKIP() << keymapFolder << " holds no keymaps (Debian's ir-keytable has them)";
    const auto start = std::chrono::steady_clock::now();
    Tally t;
    int keys = 0;
    for (const std::string& file : files) {
        std::string text;
        std::string error;
        ASSERT_EQ(readTextFile(file.c_str(), &text, &error), 0) << error;
        std::vector<Signal> signals;
        Failure failure;
        ASSERT_EQ(readKeymap(text, &signals, &failure), 0) << file << ": " << failure.what;
        std::set<std::string> seen;
        std::set<std::string> refusalsChecked;
        for (const Signal& s : signals) {
            if (!seen.insert(s.name).second)
                continue; // ir-ctl sends a key's first entry
            ++keys;
            Press press;
            if (keymapPress(s.definition, PressRequest{}, &press, &error) != 0 &&
                !refusalsChecked.insert(error).second) {
                ++t.bothRefuse[error + " (not run again)"];
                continue;
            }
            compareKey(file, s, &t);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d keymaps, %d keys in %.1f s: %d compared with ir-ctl, %d matched, %d "
                "differing (%d of the matches: ir-ctl's carrier 0 where we send 38000)\n",
                static_cast<int>(files.size()), keys, seconds, t.compared, t.matched, t.differing,
                t.carrierZero);
    print("sent, ir-ctl 1.22.1 cannot", t.irCtlCannot);
    print("refused, ir-ctl too", t.bothRefuse);
    print("refused, ir-ctl sends", t.onlyWeRefuse);
    EXPECT_EQ(t.differing, 0);
    EXPECT_TRUE(t.onlyWeRefuse.empty());
    EXPECT_GT(t.matched, 1000);
}
#else
TEST(IrCtlOracle, SendsEveryDebianKeymapKeyAsIrCtl)
{
    GTEST_SKIP() << "a cross build has no fake transmitter to run ir-ctl on";
}
#endif

} // namespace
