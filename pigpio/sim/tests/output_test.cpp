// Fault injection, the environment, the call log, the VCD trace and the report at exit.
#include <cstdlib>
#include <regex>

#include <unistd.h>

#include "clock.h"
#include "run_program.h"
#include "sim_test.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

constexpr uint32_t L = 1u << 24;

void expectNote(const std::string& err, const std::string& text)
{
    EXPECT_TRUE(
        std::regex_search(err, std::regex("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d " + text)))
        << err;
}

// The helper's standard error, from a run of it with `env` and `scenario`.
std::string run(const std::vector<std::string>& env, const std::string& scenario)
{
    const Outcome helper = runProgram(PIGPIO_SIM_EXIT_HELPER, ".", env, {scenario});
    EXPECT_EQ(helper.status, 0) << scenario;
    return helper.err;
}

// The origin file's one line, in nanoseconds; 0 when it is not a whole line of digits.
uint64_t originIn(const std::string& path)
{
    const std::string text = readFile(path);
    if (!std::regex_match(text, std::regex("[0-9]+\n"))) {
        ADD_FAILURE() << "origin file: '" << text << "'";
        return 0;
    }
    return std::stoull(text);
}

} // namespace

TEST_F(SimTest, FaultSettersReplaceTheResult)
{
    pigpioSimFailInitialise(1);
    CaptureStderr();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    expectNote(GetCapturedStderr(), "initCheckPermitted: pigpio stand-in: initialisation refused "
                                    "\\(pigpioSimFailInitialise\\)\n$");
    pigpioSimFailInitialise(0);
    ASSERT_EQ(gpioInitialise(), 79);

    pigpioSimFailWaveCreate(PI_TOO_MANY_CBS);
    EXPECT_EQ(makeWave(carrier(24, 2)), PI_TOO_MANY_CBS);
    pigpioSimFailWaveCreate(0);
    EXPECT_EQ(gpioWaveCreate(), 0) << "the failed create kept the pulses";

    pigpioSimFailWaveTxSend(-44);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), -44);
    EXPECT_EQ(gpioWaveTxSend(7, 9), -44);
    sleepMicros(100);
    EXPECT_EQ(pigpioSimEdgeCount(24), 0);
    pigpioSimFailWaveTxSend(0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    EXPECT_EQ(gpioWaveTxBusy(), 1);
}

// The one setter for every fault, by its variable's name.
TEST_F(SimTest, SetFaultNamesTheFaultByItsVariable)
{
    for (const char* notAFault : {"PIGPIO_SIM_CLOCK", "PIGPIO_SIM_LOG", "PIGPIO_SIM_FAIL", ""}) {
        EXPECT_EQ(pigpioSimSetFault(notAFault, -1), -1) << notAFault;
    }
    EXPECT_EQ(pigpioSimSetFault(nullptr, -1), -1);

    ASSERT_EQ(pigpioSimSetFault("PIGPIO_SIM_FAIL_INIT", 2), 0);
    CaptureStderr();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    expectNote(GetCapturedStderr(), "initCheckPermitted: pigpio stand-in: initialisation refused "
                                    "\\(pigpioSimSetFault\\)\n$");
    ASSERT_EQ(pigpioSimSetFault("PIGPIO_SIM_FAIL_INIT", 0), 0);
    ASSERT_EQ(gpioInitialise(), 79);

    ASSERT_EQ(pigpioSimSetFault("PIGPIO_SIM_FAIL_WAVE_CREATE", 4), 0) << "not an error: cleared";
    EXPECT_EQ(makeWave(carrier(24, 2)), 0);
    ASSERT_EQ(pigpioSimSetFault("PIGPIO_SIM_FAIL_WAVE_TX_SEND", PI_NO_WAVEFORM_ID), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), PI_NO_WAVEFORM_ID);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(makeWave(carrier(24, 2)), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5) << "a reset reads the environment";
}

struct EnvCase {
    const char* name;
    const char* value;
    int init, create, send;
    const char* note; // "" for none
};

class EnvFault : public SimTest, public ::testing::WithParamInterface<EnvCase> {};

TEST_P(EnvFault, ReadAtReset)
{
    const EnvCase& c = GetParam();
    setenv(c.name, c.value, 1);
    CaptureStderr();
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    const int init = gpioInitialise();
    const int create = makeWave(carrier(24, 2));
    const int send = gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT);
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(init, c.init);
    if (init >= 0) {
        EXPECT_EQ(create, c.create);
        EXPECT_EQ(send, c.send);
    }
    if (*c.note == '\0') {
        EXPECT_EQ(err.find("pigpio stand-in"), std::string::npos) << err;
    } else {
        expectNote(err, c.note);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvFault,
    ::testing::Values(EnvCase{"PIGPIO_SIM_FAIL_INIT", "1", PI_INIT_FAILED, 0, 0,
                              "initCheckPermitted: pigpio stand-in: initialisation refused "
                              "\\(PIGPIO_SIM_FAIL_INIT\\)\n"},
                      EnvCase{"PIGPIO_SIM_FAIL_INIT", "0", 79, 0, 5, ""},
                      EnvCase{"PIGPIO_SIM_FAIL_INIT", "yes", 79, 0, 5,
                              "pigpio stand-in: ignoring PIGPIO_SIM_FAIL_INIT=yes"},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_CREATE", "-69", 79, PI_EMPTY_WAVEFORM,
                              PI_BAD_WAVE_ID, ""},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_CREATE", "", 79, 0, 5, ""},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_CREATE", "abc", 79, 0, 5,
                              "pigpio stand-in: ignoring PIGPIO_SIM_FAIL_WAVE_CREATE=abc"},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_CREATE", "5", 79, 0, 5,
                              "pigpio stand-in: ignoring PIGPIO_SIM_FAIL_WAVE_CREATE=5"},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_TX_SEND", "-33", 79, 0, PI_BAD_WAVE_MODE, ""},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_TX_SEND", "-7x", 79, 0, 5,
                              "pigpio stand-in: ignoring PIGPIO_SIM_FAIL_WAVE_TX_SEND=-7x"},
                      EnvCase{"PIGPIO_SIM_FAIL_WAVE_TX_SEND", "0", 79, 0, 5,
                              "pigpio stand-in: ignoring PIGPIO_SIM_FAIL_WAVE_TX_SEND=0"}));

TEST_F(SimTest, ClockFromTheEnvironment)
{
    setenv("PIGPIO_SIM_CLOCK", "virtual", 1);
    pigpioSimReset();
    time_sleep(5);
    EXPECT_EQ(pigpioSimNowMicros(), 5000000u);
    setenv("PIGPIO_SIM_CLOCK", "fast", 1);
    CaptureStderr();
    pigpioSimReset();
    expectNote(GetCapturedStderr(), "pigpio stand-in: ignoring PIGPIO_SIM_CLOCK=fast");
    time_sleep(0.01);
    EXPECT_GE(pigpioSimNowMicros(), 10000u);
    EXPECT_LT(pigpioSimNowMicros(), 5000000u) << "real clock, started again at the reset";
}

TEST_F(SimTest, OriginPlacesTheRealTimeClockOnClockMonotonic)
{
    const TempDir dir;
    const std::string origin = dir.file("origin");
    setenv("PIGPIO_SIM_ORIGIN", origin.c_str(), 1);
    const auto beforeReset = static_cast<uint64_t>(monotonicNs());
    pigpioSimReset();
    const auto afterReset = static_cast<uint64_t>(monotonicNs());
    const uint64_t zero = originIn(origin);
    EXPECT_LE(beforeReset, zero);
    EXPECT_LE(zero, afterReset);
    time_sleep(0.002);
    const auto before = static_cast<uint64_t>(monotonicNs());
    const uint64_t now = pigpioSimNowMicros();
    const auto after = static_cast<uint64_t>(monotonicNs());
    EXPECT_LE((before - zero) / 1000, now);
    EXPECT_LE(now, (after - zero) / 1000);

    (void)std::remove(origin.c_str());
    setenv("PIGPIO_SIM_CLOCK", "virtual", 1);
    pigpioSimReset();
    EXPECT_NE(access(origin.c_str(), F_OK), 0) << "no origin on the virtual clock";
}

// As a timing tool uses it: the log's times, moved by the origin written at load,
// fall within the process's run.
TEST_F(SimTest, OriginOfAProcessFramesItsLoggedCalls)
{
    const TempDir dir;
    const std::string origin = dir.file("origin");
    const std::string log = dir.file("log");
    const auto start = static_cast<uint64_t>(monotonicNs());
    EXPECT_EQ(run({"PIGPIO_SIM_ORIGIN=" + origin, "PIGPIO_SIM_LOG=" + log}, "clean"), "");
    const auto end = static_cast<uint64_t>(monotonicNs());
    const uint64_t zero = originIn(origin);
    EXPECT_LE(start, zero);
    const std::string text = readFile(log);
    const uint64_t lastCallUs = std::stoull(text.substr(text.rfind('\n', text.size() - 2) + 1));
    // Whether the helper polled at all depends on how fast it ran (under an
    // emulator the short wave can be over by the first question), so only the
    // bounds of the run are certain.
    EXPECT_GT(lastCallUs, 0u) << text;
    EXPECT_LE(zero + lastCallUs * 1000, end) << text;
}

TEST_F(SimTest, CallLogInMemoryAndInTheFile)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    setenv("PIGPIO_SIM_LOG", log.c_str(), 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    gpioTerminate();
    gpioInitialise();
    gpioSetMode(24, PI_OUTPUT);
    gpioWaveAddGeneric(0, nullptr);
    gpioWaveAddGeneric(2, carrier(24, 2).data());
    gpioWaveTxSend(gpioWaveCreate(), PI_WAVE_MODE_ONE_SHOT);
    time_sleep(0.1);
    gpioWaveTxBusy();
    const std::vector<std::string> expected = {"gpioTerminate()",
                                               "gpioInitialise() = 79",
                                               "gpioSetMode(24, 1) = 0",
                                               "gpioWaveAddGeneric(0, NULL) = -90",
                                               "gpioWaveAddGeneric(2, pulses) = 2",
                                               "gpioWaveCreate() = 0",
                                               "gpioWaveTxSend(0, 0) = 5",
                                               "time_sleep(0.1)",
                                               "gpioWaveTxBusy() = 0"};
    EXPECT_EQ(callLog(), expected);
    EXPECT_EQ(pigpioSimCall(9), nullptr);
    std::string lines;
    for (size_t i = 0; i < expected.size(); ++i) {
        lines += (i < 8 ? "0 " : "100000 ") + expected[i] + "\n";
    }
    EXPECT_EQ(readFile(log), lines);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    gpioVersion();
    EXPECT_EQ(readFile(log), lines + "0 gpioVersion() = 79\n") << "appended, on a new clock";
    EXPECT_EQ(callLog(), std::vector<std::string>{"gpioVersion() = 79"});
}

TEST_F(SimTest, LogWarnsOfWhatWouldFailOnAPi)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    setenv("PIGPIO_SIM_LOG", log.c_str(), 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    gpioInitialise();
    gpioWrite(6, 0);
    gpioWaveTxSend(makeWave({{L | 1u << 6, 0, 50}}), PI_WAVE_MODE_ONE_SHOT); // 24 is an input
    sleepMicros(10);
    gpioWaveClear();
    gpioWaveDelete(makeWave({{0, 0, 5}})); // the same id, but not the wave being sent
    gpioWaveDelete(makeWave({{0, 0, 5}}));
    gpioWaveTxSend(makeWave({{0, 0, 5}}), PI_WAVE_MODE_ONE_SHOT);
    gpioWaveDelete(0);
    const std::string text = readFile(log);
    const std::string warnings[] = {
        "\n0 warning: gpioWaveTxSend: gpio 24 is not an output; on a Pi the wave would not "
        "reach the pin\n",
        "\n10 warning: gpioWaveClear: a wave is still being sent; on a Pi its control blocks "
        "may be overwritten mid-flight\n",
        "\n10 warning: gpioWaveDelete: wave 0 is still being sent; on a Pi its control blocks "
        "may be overwritten mid-flight\n"};
    size_t count = 0;
    for (size_t at = text.find("warning"); at != std::string::npos;
         at = text.find("warning", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 3u) << text;
    for (const std::string& warning : warnings) {
        EXPECT_NE(text.find(warning), std::string::npos) << warning << text;
    }
}

TEST_F(SimTest, VcdOfATinyWave)
{
    const TempDir dir;
    const std::string vcd = dir.file("trace.vcd");
    setenv("PIGPIO_SIM_VCD", vcd.c_str(), 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    gpioInitialise();
    gpioSetMode(24, PI_OUTPUT);
    gpioSetMode(4, PI_INPUT); // not driven: not traced
    gpioWrite(40, 1);         // high from 0
    gpioWaveTxSend(makeWave({{L, 0, 9}, {1u << 2, L, 17}}), PI_WAVE_MODE_ONE_SHOT);
    time_sleep(0.1);
    gpioTerminate();
    EXPECT_EQ(readFile(vcd), "$version pigpio stand-in $end\n"
                             "$timescale 1us $end\n"
                             "$scope module gpio $end\n"
                             "$var wire 1 # gpio2 $end\n"
                             "$var wire 1 9 gpio24 $end\n"
                             "$var wire 1 I gpio40 $end\n"
                             "$upscope $end\n"
                             "$enddefinitions $end\n"
                             "#0\n"
                             "$dumpvars\n"
                             "0#\n"
                             "09\n"
                             "1I\n"
                             "$end\n"
                             "#20\n"
                             "19\n"
                             "#29\n"
                             "1#\n"
                             "09\n"
                             "#100000\n");
    gpioInitialise();
    time_sleep(0.1);
    gpioWrite(40, 0);
    gpioTerminate();
    // sigrok-cli is optional: where it cannot be run (127), this check is left out.
    const Outcome shown = runHostProgram("sigrok-cli", ".", {"-I", "vcd", "-i", vcd, "--show"});
    if (shown.status != 127) {
        EXPECT_EQ(shown.status, 0);
        EXPECT_NE(shown.out.find("- gpio24: logic\n"), std::string::npos);
    }
    const std::string again = readFile(vcd);
    EXPECT_NE(again.find("#200000\n0I\n"), std::string::npos) << "rewritten whole";
    EXPECT_NE(again.find("#29\n"), std::string::npos);
}

TEST_F(SimTest, ExitReportOfAnAbandonedTransmission)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    const std::string vcd = dir.file("vcd");
    EXPECT_EQ(run({"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + log, "PIGPIO_SIM_VCD=" + vcd},
                  "abandoned"),
              "");
    const std::string text = readFile(log);
    const std::string tail =
        "0 time_sleep(0.001008)\n"
        "1008 warning: pigpio still initialised at exit: gpioTerminate was never called, and "
        "the wave being sent was cut off at 1008 us\n"
        "1008 warning: wave 0 was created and never deleted\n"
        "1008 warning: gpio 24 left high at exit\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    const std::string trace = readFile(vcd);
    EXPECT_EQ(trace.substr(trace.size() - 18), "\n#995\n09\n#1008\n19\n") << "cut at exit";
}

TEST_F(SimTest, ExitReportIsSilentWhenCleanAndUsesStderrWithoutALog)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    EXPECT_EQ(run({"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + log}, "clean"), "");
    EXPECT_EQ(readFile(log).find("warning"), std::string::npos) << readFile(log);
    EXPECT_EQ(run({"PIGPIO_SIM_CLOCK=virtual"}, "high"),
              "pigpio stand-in: warning: gpio 24 left high at exit\n");
}

// A send that neither a trace nor a log shows ends the process with one line saying
// that it was only simulated, after the exit report; without a send, no such line.
TEST_F(SimTest, SimulatedSendIsNotedWithoutATraceOrALog)
{
    const TempDir dir;
    const std::string note =
        "pigpio stand-in: this was a simulation, nothing left this machine; to keep a trace of "
        "what a Pi would have sent, set PIGPIO_SIM_VCD=FILE (PIGPIO_SIM_LOG=FILE logs the "
        "pigpio calls)\n";
    const std::string warning = "pigpio stand-in: warning: ";
    const std::string clock = "PIGPIO_SIM_CLOCK=virtual";
    const struct {
        std::vector<std::string> env;
        const char* scenario;
        std::string err;
    } cases[] = {
        {{clock}, "clean", note},
        {{clock, "PIGPIO_SIM_VCD=" + dir.file("vcd")}, "clean", ""},
        {{clock, "PIGPIO_SIM_LOG=" + dir.file("log")}, "clean", ""},
        {{clock}, "high", warning + "gpio 24 left high at exit\n"},
        {{clock},
         "abandoned",
         warning +
             "pigpio still initialised at exit: gpioTerminate was never called, and the wave "
             "being sent was cut off at 1008 us\n" +
             warning + "wave 0 was created and never deleted\n" + warning +
             "gpio 24 left high at exit\n" + note},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.env, c.scenario), c.err) << c.scenario << " " << c.env.back();
    }
}
