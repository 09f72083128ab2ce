// beamfile as installed, run in a folder of its own against the pigpio stand-in:
// its whole standard output, byte for byte, and its exit status.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "10100101000000001111111100110011";

enum class Message { none, file, directory };

struct Case {
    const char* what;
    Message message;
    std::string content;
    std::vector<std::string> env;
    std::string out;
    int status;
};

// What a sent frame of n bits adds to the output: the pulse count, 727 + 43 n, and
// the control blocks pigpio reports, 1 + 726 + 42 n that switch the line + one
// per record for its delay.
const std::vector<Case> cases = {
    {"no message file", Message::none, "", {}, "Could not open file expected_message.txt", 1},
    {"empty message file", Message::file, "", {}, "No code to send in expected_message.txt\n", 1},
    {"message file is a directory",
     Message::directory,
     "",
     {},
     "No code to send in expected_message.txt\n",
     1},
    {"line starts with a NUL",
     Message::file,
     std::string("\0"
                 "1010",
                 5),
     {},
     "No code to send in expected_message.txt\n",
     1},
    {"32 digits and a line end",
     Message::file,
     code32 + "\n",
     {},
     "code size is 32\npulse count is 2103\nResult: 4174\nIR message sent is " + code32 + "\n\n",
     0},
    {"32 digits without a line end",
     Message::file,
     code32,
     {},
     "code size is 32\npulse count is 2103\nResult: 4174\nIR message sent is " + code32 + "\n\n",
     0},
    {"8 digits and a line end",
     Message::file,
     "10100101\n",
     {},
     "code size is 9\nWarning: Non-binary digit in command\npulse count is 1071\n"
     "Result: 2134\nIR message sent is 10100101\n\n\n",
     0},
    {"a line longer than 32 bytes",
     Message::file,
     code32 + "11110000\n0000\n",
     {},
     "code size is 32\npulse count is 2103\nResult: 4174\nIR message sent is " + code32 + "\n\n",
     0},
    {"only the first line",
     Message::file,
     "11\n00000000\n",
     {},
     "code size is 3\nWarning: Non-binary digit in command\npulse count is 813\n"
     "Result: 1624\nIR message sent is 11\n\n\n",
     0},
    {"CRLF line end",
     Message::file,
     "10100101\r\n",
     {},
     "code size is 10\nWarning: Non-binary digit in command\n"
     "Warning: Non-binary digit in command\npulse count is 1071\n"
     "Result: 2134\nIR message sent is 10100101\r\n\n\n",
     0},
    {"stray bytes are skipped",
     Message::file,
     "1 0x",
     {},
     "code size is 4\nWarning: Non-binary digit in command\n"
     "Warning: Non-binary digit in command\npulse count is 813\n"
     "Result: 1624\nIR message sent is 1 0x\n\n",
     0},
    {"pigpio does not start",
     Message::file,
     code32,
     {"PIGPIO_SIM_FAIL_INIT=1"},
     "code size is 32\npulse count is 2103\nGPIO Initialization failed\nIR message sent is " +
         code32 + "\n\n",
     1},
    {"waveform not created",
     Message::file,
     code32,
     {"PIGPIO_SIM_FAIL_WAVE_CREATE=-67"},
     "code size is 32\npulse count is 2103\nWave creation failure!\n -67IR message sent is " +
         code32 + "\n\n",
     1},
    {"send refused",
     Message::file,
     code32,
     {"PIGPIO_SIM_FAIL_WAVE_TX_SEND=-66"},
     "code size is 32\npulse count is 2103\nResult: -66\nIR message sent is " + code32 + "\n\n",
     1},
};

class Beamfile : public testing::TestWithParam<Case> {};

TEST_P(Beamfile, PrintsAndExitsAsExpected)
{
    const Case& c = GetParam();
    TempDir dir;
    if (c.message == Message::file) {
        dir.write("expected_message.txt", c.content);
    } else if (c.message == Message::directory) {
        ASSERT_EQ(mkdir(dir.file("expected_message.txt").c_str(), 0700), 0);
    }
    std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + dir.file("log"),
                                    "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")};
    env.insert(env.end(), c.env.begin(), c.env.end());

    const Outcome run = runProgram(installedProgram("beamfile"), dir.path(), env);

    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.status, c.status);
    const std::string log = dir.read("log");
    // Whatever happened, pigpio is released and the line left low.
    EXPECT_EQ(log.find("warning:"), std::string::npos) << log;
    // Refused before sending: pigpio is not even started.
    const bool sent = c.out.find("pulse count") != std::string::npos;
    EXPECT_EQ(log.find("gpioInitialise") != std::string::npos, sent) << log;
}

INSTANTIATE_TEST_SUITE_P(Cases, Beamfile, testing::ValuesIn(cases), caseName<Case>);

TEST(BeamfileRun, IgnoresArgumentsAndLeavesATrace)
{
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    const std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual",
                                          "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")};
    const Outcome plain = runProgram(installedProgram("beamfile"), dir.path(), env);
    const std::string trace = dir.read("trace.vcd");
    const Outcome withArgs =
        runProgram(installedProgram("beamfile"), dir.path(), env, {"--help", "0000", "-v"});
    EXPECT_EQ(withArgs.out, plain.out);
    EXPECT_EQ(withArgs.status, 0);
    // The second run rewrote the file; cppcheck takes the two reads for one value.
    // cppcheck-suppress knownConditionTrueFalse
    EXPECT_EQ(dir.read("trace.vcd"), trace);
    EXPECT_NE(trace.find("gpio24"), std::string::npos);
}

// Off a Pi nothing says on standard output that the send was simulated; the stand-in
// says so on standard error, unless a trace or a log shows it.
TEST(BeamfileRun, SimulatedSendIsNotedOnStandardErrorOnly)
{
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    const std::vector<std::string> clock = {"PIGPIO_SIM_CLOCK=virtual"};
    const Outcome plain = runProgram(installedProgram("beamfile"), dir.path(), clock);
    const Outcome traced =
        runProgram(installedProgram("beamfile"), dir.path(),
                   {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, traced.out);
    EXPECT_EQ(plain.err, "pigpio stand-in: this was a simulation, nothing left this machine; to "
                         "keep a trace of what a Pi would have sent, set PIGPIO_SIM_VCD=FILE "
                         "(PIGPIO_SIM_LOG=FILE logs the pigpio calls)\n");
    EXPECT_EQ(traced.err, "");
}

TEST(BeamfileRun, FailedStartIsNotedOnStandardErrorOnly)
{
    TempDir dir;
    dir.write("expected_message.txt", code32);
    const Outcome run = runProgram(installedProgram("beamfile"), dir.path(),
                                   {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_FAIL_INIT=1"});
    EXPECT_NE(run.err.find("initCheckPermitted"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("initCheckPermitted"), std::string::npos);
}

} // namespace
