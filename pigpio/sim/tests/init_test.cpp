// Initialisation, termination and the plain GPIO calls.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>

#include "case_name.h"
#include "sim_test.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

struct Uninitialised {
    const char* name;
    std::function<int()> call;
};

const Uninitialised kBeforeInit[] = {
    {"gpioSetMode", [] { return gpioSetMode(24, PI_OUTPUT); }},
    {"gpioRead", [] { return gpioRead(24); }},
    {"gpioWrite", [] { return gpioWrite(24, 1); }},
    {"gpioWaveClear", [] { return gpioWaveClear(); }},
    {"gpioWaveAddNew", [] { return gpioWaveAddNew(); }},
    {"gpioWaveAddGeneric", [] { return gpioWaveAddGeneric(0, nullptr); }},
    {"gpioWaveCreate", [] { return gpioWaveCreate(); }},
    {"gpioWaveDelete", [] { return gpioWaveDelete(0); }},
    {"gpioWaveTxSend", [] { return gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT); }},
    {"gpioWaveTxBusy", [] { return gpioWaveTxBusy(); }},
    {"gpioWaveGetMaxPulses", [] { return gpioWaveGetMaxPulses(); }},
    {"gpioWaveGetMaxMicros", [] { return gpioWaveGetMaxMicros(); }},
    {"gpioWaveGetMaxCbs", [] { return gpioWaveGetMaxCbs(); }},
};

class BeforeInit : public SimTest, public ::testing::WithParamInterface<Uninitialised> {};

// Also after a failed initialisation and after terminate.
void expectUninitialised(const Uninitialised& fn)
{
    CaptureStderr();
    EXPECT_EQ(fn.call(), PI_NOT_INITIALISED) << fn.name;
    const std::regex message("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d " + std::string(fn.name) +
                             ": pigpio uninitialised, call gpioInitialise\\(\\)\n");
    EXPECT_TRUE(std::regex_match(GetCapturedStderr(), message)) << fn.name;
}

} // namespace

TEST_P(BeforeInit, ReturnsNotInitialisedAndSaysSo)
{
    expectUninitialised(GetParam());
    pigpioSimFailInitialise(1);
    CaptureStderr();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    GetCapturedStderr();
    expectUninitialised(GetParam());
    pigpioSimFailInitialise(0);
    ASSERT_EQ(gpioInitialise(), 79);
    gpioTerminate();
    expectUninitialised(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Functions, BeforeInit, ::testing::ValuesIn(kBeforeInit),
                         [](const auto& test) { return pascalCase(test.param.name); });

TEST_F(SimTest, SomeFunctionsNeedNoInitialisation)
{
    CaptureStderr();
    gpioTerminate();
    EXPECT_EQ(gpioVersion(), 79u);
    EXPECT_EQ(gpioHardwareRevision(), 0u);
    time_sleep(0.0000017); // the virtual clock: rounds to 2 us
    time_sleep(0);
    time_sleep(-3);
    EXPECT_EQ(pigpioSimNowMicros(), 2u);
    time_sleep(2.25);
    EXPECT_EQ(pigpioSimNowMicros(), 2250002u);
    EXPECT_DOUBLE_EQ(time_time(), 2.250002);
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(SimTest, InitialiseGivesTheVersionAgainAndAfterTerminate)
{
    EXPECT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioInitialise(), 79);
    gpioTerminate();
    EXPECT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioWaveGetMaxPulses(), 12000);
    EXPECT_EQ(gpioWaveGetMaxMicros(), 1800000000);
    EXPECT_EQ(gpioWaveGetMaxCbs(), 25016);
}

struct GpioCase {
    const char* call;
    unsigned gpio, value;
    int result;
    const char* message; // after the time stamp, or "" for none
};

class GpioArgs : public SimTest, public ::testing::WithParamInterface<GpioCase> {};

TEST_P(GpioArgs, CheckedInOrder)
{
    const GpioCase& c = GetParam();
    ASSERT_EQ(gpioInitialise(), 79);
    CaptureStderr();
    const std::string call = c.call;
    const int result = call == "mode"   ? gpioSetMode(c.gpio, c.value)
                       : call == "read" ? gpioRead(c.gpio)
                                        : gpioWrite(c.gpio, c.value);
    EXPECT_EQ(result, c.result);
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(err.size() > 20 ? err.substr(20) : err, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GpioArgs,
    ::testing::Values(GpioCase{"mode", 54, 9, PI_BAD_GPIO, "gpioSetMode: bad gpio (54)\n"},
                      GpioCase{"mode", 53, 8, PI_BAD_MODE, "gpioSetMode: gpio 53, bad mode (8)\n"},
                      GpioCase{"mode", 53, PI_ALT3, 0, ""},
                      GpioCase{"read", 54, 0, PI_BAD_GPIO, "gpioRead: bad gpio (54)\n"},
                      GpioCase{"read", 53, 0, 0, ""},
                      GpioCase{"write", 54, 2, PI_BAD_GPIO, "gpioWrite: bad gpio (54)\n"},
                      GpioCase{"write", 0, 2, PI_BAD_LEVEL, "gpioWrite: gpio 0, bad level (2)\n"},
                      GpioCase{"write", 0, 1, 0, ""}));

TEST_F(SimTest, WriteDrivesTheLineAndLevelsSurviveTerminate)
{
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioSetMode(5, PI_OUTPUT), 0);
    EXPECT_EQ(gpioRead(5), 0) << "setting the mode sets no level";
    sleepMicros(7);
    EXPECT_EQ(gpioWrite(40, 1), 0);
    EXPECT_EQ(gpioRead(40), 1);
    gpioTerminate();
    EXPECT_EQ(pigpioSimLevel(40), 1);
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioRead(40), 1);
    EXPECT_EQ(edgesOf(40), (Edges{{7, 1}}));
    EXPECT_EQ(pigpioSimLevel(54), -1);
}

// On a Raspberry Pi the stand-in refuses to start unless a simulation is asked for,
// so that a build against it never passes for one that sends.
namespace {

struct PiCase {
    const char* what;
    std::string model; // the model file's bytes
    bool missing;      // no model file at all
    const char* onPi;  // PIGPIO_SIM_ON_PI, nullptr: unset
    const char* shown; // the model the note names; nullptr: initialises
};

const std::string pi4 = std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31);

const PiCase kPiCases[] = {
    {"Pi4", pi4, false, nullptr, "Raspberry Pi 4 Model B Rev 1.4"},
    {"Pi4OnPi", pi4, false, "1", nullptr},
    {"Pi4OnPiZero", pi4, false, "0", "Raspberry Pi 4 Model B Rev 1.4"},
    {"Pi5", std::string("Raspberry Pi 5 Model B Rev 1.0\0", 31), false, nullptr,
     "Raspberry Pi 5 Model B Rev 1.0"},
    {"Pi5OnPi", std::string("Raspberry Pi 5 Model B Rev 1.0\0", 31), false, "1", nullptr},
    {"JustRaspberryPi", std::string("Raspberry Pi\0", 13), false, nullptr, "Raspberry Pi"},
    {"JustRaspberryPiOnPi", std::string("Raspberry Pi\0", 13), false, "1", nullptr},
    {"TextLine", "Raspberry Pi Compute Module 4 Rev 1.0\n", false, nullptr,
     "Raspberry Pi Compute Module 4 Rev 1.0"},
    {"OnlyRaspberry", std::string("Raspberry\0", 10), false, nullptr, nullptr},
    {"OtherBoard", std::string("Pine64 RockPro64 v2.1\0", 22), false, nullptr, nullptr},
    {"OtherBoardOnPi", std::string("Pine64 RockPro64 v2.1\0", 22), false, "1", nullptr},
    {"Empty", "", false, nullptr, nullptr},
    {"EmptyOnPi", "", false, "1", nullptr},
    {"Missing", "", true, nullptr, nullptr},
    {"MissingOnPi", "", true, "1", nullptr},
};

class OnAPi : public SimTest, public ::testing::WithParamInterface<PiCase> {};

} // namespace

TEST_P(OnAPi, RefusesUnlessASimulationIsAskedFor)
{
    const PiCase& c = GetParam();
    const TempDir dir;
    const std::string model = dir.file("model");
    if (!c.missing) {
        std::FILE* file = std::fopen(model.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fwrite(c.model.data(), 1, c.model.size(), file), c.model.size());
        EXPECT_EQ(std::fclose(file), 0);
    }
    setenv("PIGPIO_SIM_MODEL_FILE", model.c_str(), 1);
    if (c.onPi == nullptr) {
        unsetenv("PIGPIO_SIM_ON_PI");
    } else {
        setenv("PIGPIO_SIM_ON_PI", c.onPi, 1);
    }
    pigpioSimReset();
    CaptureStderr();
    const int result = gpioInitialise();
    const std::string err = GetCapturedStderr();
    if (c.shown == nullptr) {
        EXPECT_EQ(result, 79);
        EXPECT_EQ(err, "");
        return;
    }
    EXPECT_EQ(result, PI_INIT_FAILED);
    const std::string stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ";
    const std::regex note(
        stamp + "initCheckPermitted: pigpio stand-in: this machine is a " + c.shown +
        ", but this build only simulates one and sends nothing\n" + stamp +
        "initCheckPermitted: pigpio stand-in: to send, reconfigure with -DBEAM_PIGPIO=auto on "
        "the Pi and rebuild \\(scripts/build-pigpio.sh installs pigpio where it is missing\\); "
        "PIGPIO_SIM_ON_PI=1 simulates anyway\n");
    EXPECT_TRUE(std::regex_match(err, note)) << err;
    EXPECT_EQ(gpioSetMode(24, PI_OUTPUT), PI_NOT_INITIALISED);
}

INSTANTIATE_TEST_SUITE_P(Models, OnAPi, ::testing::ValuesIn(kPiCases), caseName<PiCase>);

TEST_F(SimTest, MalformedOnPiIsNotASimulation)
{
    const TempDir dir;
    const std::string model = dir.file("model");
    std::FILE* file = std::fopen(model.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite(pi4.data(), 1, pi4.size(), file), pi4.size());
    EXPECT_EQ(std::fclose(file), 0);
    setenv("PIGPIO_SIM_MODEL_FILE", model.c_str(), 1);
    setenv("PIGPIO_SIM_ON_PI", "yes", 1);
    CaptureStderr();
    pigpioSimReset();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("pigpio stand-in: ignoring PIGPIO_SIM_ON_PI=yes: want 1"), std::string::npos)
        << err;
}
