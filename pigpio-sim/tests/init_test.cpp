// Initialisation, termination and the plain GPIO calls.
#include <functional>
#include <regex>

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
                         [](const auto& test) { return std::string(test.param.name); });

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
