// The programs built against the stand-in, run on a Raspberry Pi (a fake device-tree
// model file): they refuse to pretend to send unless a simulation is asked for
// (PIGPIO_SIM_ON_PI=1, which the test harness sets everywhere else).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "10100101000000001111111100110011";
const std::string counts = "code size is 32\npulse count is 2103\n";

enum class Model { bytes, missing };

struct Case {
    const char* what;
    const char* program;
    Model model;
    std::string content;
    bool onPi;           // PIGPIO_SIM_ON_PI=1, else unset
    const char* refused; // the model the note names; nullptr: the frame is sent
};

const std::string pi4 = std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31);
const std::string pi5 = std::string("Raspberry Pi 5 Model B Rev 1.0\0", 31);
const std::string justPi = std::string("Raspberry Pi\0", 13);
const std::string otherBoard = std::string("Pine64 RockPro64 v2.1\0", 22);

const std::vector<Case> cases = {
    {"Pi 4", "beamfile", Model::bytes, pi4, false, "Raspberry Pi 4 Model B Rev 1.4"},
    {"Pi 4 simulated", "beamfile", Model::bytes, pi4, true, nullptr},
    {"Pi 5", "beamfile", Model::bytes, pi5, false, "Raspberry Pi 5 Model B Rev 1.0"},
    {"Pi 5 simulated", "beamfile", Model::bytes, pi5, true, nullptr},
    {"Raspberry Pi and NUL", "beamfile", Model::bytes, justPi, false, "Raspberry Pi"},
    {"Raspberry Pi and NUL simulated", "beamfile", Model::bytes, justPi, true, nullptr},
    {"other board", "beamfile", Model::bytes, otherBoard, false, nullptr},
    {"other board simulated", "beamfile", Model::bytes, otherBoard, true, nullptr},
    {"empty model", "beamfile", Model::bytes, "", false, nullptr},
    {"empty model simulated", "beamfile", Model::bytes, "", true, nullptr},
    {"no model", "beamfile", Model::missing, "", false, nullptr},
    {"no model simulated", "beamfile", Model::missing, "", true, nullptr},
    {"beamones on a Pi 4", "beamones", Model::bytes, pi4, false, "Raspberry Pi 4 Model B Rev 1.4"},
    {"beamones on a Pi 4 simulated", "beamones", Model::bytes, pi4, true, nullptr},
};

class OnARaspberryPi : public testing::TestWithParam<Case> {};

TEST_P(OnARaspberryPi, RefusesUnlessASimulationIsAskedFor)
{
    const Case& c = GetParam();
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    if (c.model == Model::bytes) {
        dir.write("model", c.content);
    }
    const Outcome run = runProgram(installedProgram(c.program), dir.path(),
                                   {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + dir.file("log"),
                                    "PIGPIO_SIM_MODEL_FILE=" + dir.file("model"),
                                    c.onPi ? "PIGPIO_SIM_ON_PI=1" : "PIGPIO_SIM_ON_PI="});

    const std::string last = std::string(c.program) == "beamfile"
                                 ? "IR message sent is " + code32 + "\n\n"
                                 : "Sent ones \n\n";
    const std::string log = dir.read("log");
    if (c.refused == nullptr) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.substr(0, counts.size() + 8), counts + "Result: ");
        EXPECT_EQ(run.err, "");
        EXPECT_NE(log.find("gpioWaveTxSend"), std::string::npos) << log;
        return;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, counts + "GPIO Initialization failed\n" + last);
    EXPECT_NE(run.err.find("initCheckPermitted: pigpio stand-in: this machine is a " +
                           std::string(c.refused) +
                           ", but this build only simulates one and sends nothing\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("reconfigure with -DBEAM_PIGPIO=auto on the Pi"), std::string::npos)
        << run.err;
    EXPECT_EQ(log, "0 gpioInitialise() = -1\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, OnARaspberryPi, testing::ValuesIn(cases), caseName<Case>);

} // namespace
