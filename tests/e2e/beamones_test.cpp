// beamones as installed, against the pigpio stand-in: the closing line follows
// whatever the transmitter printed, and the status says whether the frame went out.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "run_program.h"

namespace {

struct Case {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string out;
    int status;
};

const std::string counts = "code size is 32\npulse count is 2103\n";

TEST(Beamones, PrintsAndExitsAsExpected)
{
    const Case cases[] = {
        {"sent", {}, {}, counts + "Result: 4174\nSent ones \n\n", 0},
        {"arguments are ignored",
         {"0000", "--gpio=4"},
         {},
         counts + "Result: 4174\nSent ones \n\n",
         0},
        {"pigpio does not start",
         {},
         {"PIGPIO_SIM_FAIL_INIT=1"},
         counts + "GPIO Initialization failed\nSent ones \n\n",
         1},
        {"waveform not created",
         {},
         {"PIGPIO_SIM_FAIL_WAVE_CREATE=-69"},
         counts + "Wave creation failure!\n -69Sent ones \n\n",
         1},
        {"send refused",
         {},
         {"PIGPIO_SIM_FAIL_WAVE_TX_SEND=-33"},
         counts + "Result: -33\nSent ones \n\n",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        // beamones reads no file: a message file beside it changes nothing.
        dir.write("expected_message.txt", "0000\n");
        std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual",
                                        "PIGPIO_SIM_LOG=" + dir.file("log")};
        env.insert(env.end(), c.env.begin(), c.env.end());
        const Outcome run = runProgram(installedProgram("beamones"), dir.path(), env, c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(dir.read("log").find("warning:"), std::string::npos) << dir.read("log");
    }
}

} // namespace
