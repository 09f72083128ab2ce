// What an independent receiver reads from the frames the programs send: sigrok's NEC
// decoder (sigrok-cli, ir_nec) on the stand-in's trace of GPIO 24, carrier and all.
// Skipped where sigrok-cli is not installed.
//
// sigrok's own check of a byte and its copy only asks that they share no set bit, so
// these tests compare every decoded byte, inverse included, with the one meant.
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

using Lines = std::vector<std::string>;

bool haveSigrok()
{
    return access(BEAM_SIGROK_CLI, X_OK) == 0;
}

// The stand-in on its virtual clock, leaving the trace in dir.
std::vector<std::string> simEnv(const TempDir& dir)
{
    return {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")};
}

// sigrok's field and warning annotations for the trace in dir, one per line, without
// the decoder's "ir_nec-1: " in front.  sigrok exits 0 also when it decodes nothing,
// so the lines themselves are what a test checks.
Lines necFields(const TempDir& dir)
{
    const Outcome run = runHostProgram(BEAM_SIGROK_CLI, dir.path(),
                                       {"-I", "vcd", "-i", dir.file("trace.vcd"), "-P",
                                        "ir_nec:ir=gpio24:polarity=active-high:cd_freq=38000", "-A",
                                        "ir_nec=fields:remote:warnings"});
    EXPECT_EQ(run.status, 0) << run.err;
    Lines lines;
    std::istringstream text(run.out);
    const std::string prefix = "ir_nec-1: ";
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size())
                                                                    : line);
    }
    return lines;
}

std::string field(const char* name, unsigned byte)
{
    char text[32];
    (void)std::snprintf(text, sizeof text, "%s: 0x%02X", name, byte);
    return text;
}

// A whole NEC frame as sigrok prints it: each byte followed by its inverse.
Lines goodFrame(unsigned address, unsigned command)
{
    return {"Leader code", field("Address", address), field("Address#", ~address & 0xFFu),
            field("Command", command), field("Command#", ~command & 0xFFu)};
}

class Decoded : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!haveSigrok()) {
            GTEST_SKIP() << "sigrok-cli not found (" << BEAM_SIGROK_CLI << ")";
        }
    }
};

// beamfile with the code in its message file.
struct SentCode {
    const char* what;
    const char* bits;
    unsigned address;
    unsigned command;
};

const SentCode sentCodes[] = {
    {"address 0x00 command 0x45", "00000000111111111010001001011101", 0x00, 0x45},
    {"address 0x04 command 0x08", "00100000110111110001000011101111", 0x04, 0x08},
    {"address 0xA5 command 0x0F", "10100101010110101111000000001111", 0xA5, 0x0F},
    {"address 0xFF command 0x00", "11111111000000000000000011111111", 0xFF, 0x00},
    {"address 0x01 command 0x80", "10000000011111110000000111111110", 0x01, 0x80},
};

class BeamfileDecoded : public Decoded, public testing::WithParamInterface<SentCode> {};

TEST_P(BeamfileDecoded, AsItsAddressAndCommand)
{
    const SentCode& c = GetParam();
    TempDir dir;
    dir.write("expected_message.txt", std::string(c.bits) + "\n");
    const Outcome sent = runProgram(installedProgram("beamfile"), dir.path(), simEnv(dir));
    ASSERT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(necFields(dir), goodFrame(c.address, c.command));
}

INSTANTIATE_TEST_SUITE_P(Codes, BeamfileDecoded, testing::ValuesIn(sentCodes), caseName<SentCode>);

// 0xFF and a copy of it cannot be inverses: sigrok stops at the address's copy.
TEST_F(Decoded, BeamonesIsAnAddressOf0xFFWithABadCopy)
{
    TempDir dir;
    const Outcome sent = runProgram(installedProgram("beamones"), dir.path(), simEnv(dir));
    ASSERT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(necFields(dir), (Lines{"Leader code", "Address: 0xFF", "Address# error: 0xFFFF"}));
}

// The transmitter's own emitCode, with beamfile's timing but for the changes listed,
// sending address 0x00 command 0x45.
struct Mistimed {
    const char* what;
    std::vector<std::string> changes;
    Lines fields;
};

const Mistimed mistimed[] = {
    {"beamfile timing", {}, goodFrame(0x00, 0x45)},
    // 9 ms and 2 ms look like a repeat frame's 9 ms and 2.25 ms.
    {"lead gap of 2000 us", {"leadGapUs=2000"}, {"Repeat code"}},
    {"lead burst of 4500 us", {"leadBurstUs=4500"}, {}},
    {"10 period bursts", {"oneBurstUs=263", "zeroBurstUs=263"}, {"Leader code"}},
    // The last bit ends only where the trailing burst starts.
    {"no trailing burst",
     {"trailBurst=0"},
     {"Leader code", "Address: 0x00", "Address#: 0xFF", "Command: 0x45"}},
    // Unreadable bits are skipped, so the readable ones make up other bytes.
    {"zero gaps of 300 us",
     {"zeroGapUs=300"},
     {"Leader code", "Address: 0xFF", "Address# error: 0xFFFF"}},
    {"one gaps of 1200 us", {"oneGapUs=1200"}, {"Leader code", "Address: 0x00", "Address#: 0x00"}},
};

class MistimedDecoded : public Decoded, public testing::WithParamInterface<Mistimed> {};

TEST_P(MistimedDecoded, OnlyWhenOnTime)
{
    const Mistimed& c = GetParam();
    TempDir dir;
    std::vector<std::string> args = {"00000000111111111010001001011101"};
    args.insert(args.end(), c.changes.begin(), c.changes.end());
    const Outcome sent = runProgram(BEAM_EMIT_FRAME, dir.path(), simEnv(dir), args);
    ASSERT_EQ(sent.status, 0) << sent.out << sent.err;
    EXPECT_EQ(necFields(dir), c.fields);
}

INSTANTIATE_TEST_SUITE_P(Frames, MistimedDecoded, testing::ValuesIn(mistimed), caseName<Mistimed>);

std::string sample(const char* name)
{
    return std::string(NEC_CODE_SAMPLES) + "/" + name;
}

// nec-code's line, sent by beamfile.
struct Named {
    const char* what;
    std::vector<std::string> args;
    Lines fields;
};

const Named named[] = {
    {"address and command", {"0x00", "0x45"}, goodFrame(0x00, 0x45)},
    {"decimal", {"4", "8"}, goodFrame(0x04, 0x08)},
    {"top address and command", {"0xFF", "0xFF"}, goodFrame(0xFF, 0xFF)},
    {"raw LIRC code", {"--raw", "0x00FFA25D"}, goodFrame(0x00, 0x45)},
    {"raw without 0x", {"--raw", "20DF10EF"}, goodFrame(0x04, 0x08)},
    // sigrok has no extended addresses: it reads the high byte as the low byte's
    // inverse, accepted when they share no set bit, else an error and nothing more.
    {"extended address, bytes apart",
     {"0xEF00", "0x03"},
     {"Leader code", "Address: 0x00", "Address#: 0xEF", "Command: 0x03", "Command#: 0xFC"}},
    {"extended address, bytes overlap",
     {"0x1234", "0x56"},
     {"Leader code", "Address: 0x34", "Address# error: 0x1234"}},
    // The kernel's scancodes and the databases' files: what each names comes back.
    {"nec scancode", {"-S", "nec:0x408"}, goodFrame(0x04, 0x08)},
    {"necx scancode, second byte 00",
     {"-S", "necx:0xEE005D"},
     {"Leader code", "Address: 0xEE", "Address#: 0x00", "Command: 0x5D", "Command#: 0xA2"}},
    {"Flipper NEC", {"--from", sample("remote.ir"), "Power"}, goodFrame(0x04, 0x08)},
    {"Flipper NECext",
     {"--from", sample("remote.ir"), "Input"},
     {"Leader code", "Address: 0xEE", "Address#: 0x00", "Command: 0x5D", "Command#: 0xA2"}},
    {"Flipper raw", {"--from", sample("remote.ir"), "Mute"}, goodFrame(0x04, 0x0A)},
    {"irdb NEC1", {"--from", sample("codes.csv"), "POWER"}, goodFrame(0x04, 0x08)},
    {"irdb subdevice 0",
     {"--from", sample("codes.csv"), "INPUT"},
     {"Leader code", "Address: 0xB8", "Address#: 0x00", "Command: 0x5D", "Command#: 0xA2"}},
    {"keymap necx", {"--from", sample("keymap.toml"), "KEY_POWER"}, goodFrame(0x04, 0x08)},
    {"keymap nec", {"--from", sample("keymap.toml"), "KEY_POWER#2"}, goodFrame(0x04, 0x08)},
    {"lircd.conf", {"--from", sample("lircd.conf"), "KEY_POWER"}, goodFrame(0x04, 0x08)},
    {"lircd.conf raw", {"--from", sample("lircd.conf"), "KEY_MUTE"}, goodFrame(0x04, 0x09)},
};

class NecCodeDecoded : public Decoded, public testing::WithParamInterface<Named> {};

TEST_P(NecCodeDecoded, AsTheCodeNamed)
{
    const Named& c = GetParam();
    TempDir dir;
    const Outcome line = runProgram(installedProgram("nec-code"), dir.path(), {}, c.args);
    ASSERT_EQ(line.status, 0) << line.err;
    dir.write("expected_message.txt", line.out);
    const Outcome sent = runProgram(installedProgram("beamfile"), dir.path(), simEnv(dir));
    ASSERT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(necFields(dir), c.fields);
}

INSTANTIATE_TEST_SUITE_P(Codes, NecCodeDecoded, testing::ValuesIn(named), caseName<Named>);

// A signal nec-code refuses leaves the file the shell made empty, and beamfile sends
// nothing from it.
TEST(NecCodeRefusal, LeavesAnEmptyFileThatBeamfileRefuses)
{
    TempDir dir;
    const Outcome line = runProgram(installedProgram("nec-code"), dir.path(), {},
                                    {"--from", sample("remote.ir"), "Vol_up"});
    EXPECT_EQ(line.status, 2);
    dir.write("expected_message.txt", line.out);
    const Outcome sent = runProgram(installedProgram("beamfile"), dir.path(), simEnv(dir));
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.out, "No code to send in expected_message.txt\n");
}

} // namespace
