// The programs, built once, sending through the kernel library: against the fake
// device (a libpigpio.so.1 of the library's core and tests/fake_device.cpp) and
// against the real library where no transmitter can be had.
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "lirc_test.h"
#include "run_program.h"

namespace {

// Runs program in dir, loading libpigpio.so.1 from libraryDir before its own RUNPATH.
Outcome runIn(const TempDir& dir, const std::string& program, const std::string& libraryDir,
              std::vector<std::string> env = {})
{
    env.push_back("LD_LIBRARY_PATH=" + libraryDir);
    env.push_back("PIGPIO_LIRC_DT_ROOT=" + dir.path() + "/no-tree");
    return runProgram(program, dir.path(), env);
}

// The durations the fake device was given, from its log's "write" line.
Durations written(const std::string& log)
{
    Durations durations;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("write ", 0) == 0) {
            std::istringstream words(line.substr(6));
            uint32_t duration = 0;
            while (words >> duration) {
                durations.push_back(duration);
            }
        }
    }
    return durations;
}

TEST(ProgramTest, BeamfileSendsThroughTheKernel)
{
    const std::string code = "00000000111111111010001001011101";
    TempDir dir;
    dir.write("expected_message.txt", code + "\n");
    const Outcome result =
        runIn(dir, BEAMFILE, FAKE_LIBRARY_DIR, {"FAKE_LIRC_LOG=" + dir.path() + "/device.log"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "code size is 32\npulse count is 2103\nResult: 67\nIR message sent is " +
                              code + "\n\n");
    EXPECT_EQ(result.err, "");
    const std::string log = dir.read("device.log");
    EXPECT_EQ(log.substr(0, log.find("write")),
              "open /dev/lirc0\nfeatures\nlock\ncarrier 38462\nduty 50\n");
    EXPECT_EQ(written(log), necDurations(code));
}

TEST(ProgramTest, BeamonesSendsThroughTheKernel)
{
    TempDir dir;
    const Outcome result =
        runIn(dir, BEAMONES, FAKE_LIBRARY_DIR, {"FAKE_LIRC_LOG=" + dir.path() + "/device.log"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\nResult: 67\n"), std::string::npos) << result.out;
    EXPECT_EQ(written(dir.read("device.log")), necDurations(std::string(32, '1')));
}

TEST(ProgramTest, AFailedSendIsAFailure)
{
    TempDir dir;
    dir.write("expected_message.txt", "1010\n");
    const Outcome result =
        runIn(dir, BEAMFILE, FAKE_LIBRARY_DIR,
              {"FAKE_LIRC_LOG=" + dir.path() + "/device.log", "FAKE_LIRC_WRITE_ERRNO=19"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\nResult: -132\n"), std::string::npos) << result.out;
    EXPECT_NE(
        result.err.find(std::string("/dev/lirc0 could not send the wave: ") + std::strerror(19)),
        std::string::npos)
        << result.err;
}

// The real library, on what is no transmitter: pigpio did not start.
TEST(ProgramTest, NoTransmitterIsAnInitialisationFailure)
{
    TempDir dir;
    dir.write("expected_message.txt", "1010");
    for (const char* device : {"/dev/null", "/nonexistent/lirc0"}) {
        const Outcome result =
            runIn(dir, BEAMFILE, LIBRARY_DIR, {std::string("PIGPIO_LIRC_DEVICE=") + device});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "code size is 4\npulse count is " +
                                  std::to_string(necRecords("1010").size()) +
                                  "\nGPIO Initialization failed\nIR message sent is 1010\n\n");
        EXPECT_NE(result.err.find(std::string(" gpioInitialise: ") +
                                  (device[1] == 'd' ? "/dev/null is not an IR device"
                                                    : "cannot open /nonexistent/lirc0")),
                  std::string::npos)
            << result.err;
    }
}

} // namespace
