// The library through pigpio's interface, on a fake device and a fake device tree.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "case_name.h"
#include "fake_device.h"
#include "lirc_test.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// ---- gpioInitialise ----------------------------------------------------------------------

TEST_F(LibraryTest, OpensTheFirstDeviceThatTransmits)
{
    fake_lirc::Device& receiver = fake_lirc::add("/dev/lirc0", fake_lirc::kReceiver);
    fake_lirc::Device& transmitter = fake_lirc::add("/dev/lirc1");
    EXPECT_EQ(gpioInitialise(), PIGPIO_VERSION);
    EXPECT_EQ(receiver.closes, receiver.opens);
    EXPECT_EQ(transmitter.opens, 1);
    EXPECT_EQ(fake_lirc::openCount(), 1);
    EXPECT_EQ(gpioInitialise(), PIGPIO_VERSION); // already: no second open
    EXPECT_EQ(transmitter.opens, 1);
}

TEST_F(LibraryTest, OpensTheNamedDeviceOnly)
{
    const fake_lirc::Device& first = fake_lirc::add("/dev/lirc0");
    const fake_lirc::Device& usb = fake_lirc::add("/dev/lirc1");
    setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc1", 1);
    EXPECT_EQ(gpioInitialise(), PIGPIO_VERSION);
    EXPECT_EQ(first.opens, 0);
    EXPECT_EQ(usb.opens, 1);
}

struct InitFailure {
    const char* what;
    std::function<void()> setUp;
    std::vector<const char*> said;
};

std::vector<InitFailure> initFailures()
{
    return {
        {"no_device",
         [] {},
         {"no IR transmitter (no /dev/lirc device)", "dtoverlay=gpio-ir-tx,gpio_pin=24",
          "/boot/firmware/config.txt", "reboot", "PIGPIO_LIRC_DEVICE"}},
        {"only_receivers",
         [] { fake_lirc::add("/dev/lirc0", fake_lirc::kReceiver); },
         {"only receive", "dtoverlay=gpio-ir-tx,gpio_pin=24"}},
        {"named_absent",
         [] {
             fake_lirc::add("/dev/lirc0");
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc7", 1);
         },
         {"cannot open /dev/lirc7 (PIGPIO_LIRC_DEVICE): ", std::strerror(ENOENT)}},
        {"named_not_ir",
         [] {
             fake_lirc::add("/dev/lirc0").featuresErrno = ENOTTY;
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc0", 1);
         },
         {"/dev/lirc0 is not an IR device: ", std::strerror(ENOTTY)}},
        {"named_receiver",
         [] {
             fake_lirc::add("/dev/lirc0", fake_lirc::kReceiver);
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc0", 1);
         },
         {"/dev/lirc0 cannot transmit"}},
    };
}

class InitFailureTest : public LibraryTest, public ::testing::WithParamInterface<InitFailure> {};

TEST_P(InitFailureTest, FailsWithANote)
{
    GetParam().setUp();
    const auto [result, said] = initialise();
    EXPECT_EQ(result, PI_INIT_FAILED);
    for (const char* part : GetParam().said) {
        EXPECT_TRUE(contains(said, part));
    }
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(fake_lirc::openCount(), 0);
    // Nothing works until an initialisation succeeds.
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxBusy(), PI_NOT_INITIALISED);
    GetCapturedStderr();
}

INSTANTIATE_TEST_SUITE_P(Cases, InitFailureTest, ::testing::ValuesIn(initFailures()),
                         caseName<InitFailure>);

// A device the user may not open: the note names it and the group to join.
TEST_F(LibraryTest, PermissionDeniedNamesTheDevicesGroup)
{
    tree().write("dev/lirc0", "");
    const std::string path = tree().path() + "/dev/lirc0";
    // Another group than the process's, where it may give the file one.
    const group* other = getgrnam("nogroup");
    if (other != nullptr) {
        (void)chown(path.c_str(), static_cast<uid_t>(-1), other->gr_gid);
    }
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    fake_lirc::add(path).openErrno = EACCES;
    const auto [result, said] = initialise();
    EXPECT_EQ(result, PI_INIT_FAILED);
    EXPECT_TRUE(contains(said, "cannot open " + path + ": permission denied"));
    if (info.st_gid == 0) {
        EXPECT_TRUE(contains(said, "root alone"));
    } else {
        const group* owner = getgrgid(info.st_gid);
        ASSERT_NE(owner, nullptr);
        const std::string name = owner->gr_name;
        EXPECT_TRUE(contains(said, "group " + name + ": add yourself to it (sudo usermod -aG " +
                                       name + " $USER)"));
    }
}

// ---- before gpioInitialise -----------------------------------------------------------------

struct Uninitialised {
    const char* what;
    std::function<int()> call;
};

std::vector<Uninitialised> uninitialisedCalls()
{
    static gpioPulse_t pulse{1, 0, 10};
    return {
        {"gpioSetMode", [] { return gpioSetMode(24, PI_OUTPUT); }},
        {"gpioWaveClear", [] { return gpioWaveClear(); }},
        {"gpioWaveAddGeneric", [] { return gpioWaveAddGeneric(1, &pulse); }},
        {"gpioWaveCreate", [] { return gpioWaveCreate(); }},
        {"gpioWaveDelete", [] { return gpioWaveDelete(0); }},
        {"gpioWaveTxSend", [] { return gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT); }},
        {"gpioWaveTxBusy", [] { return gpioWaveTxBusy(); }},
    };
}

class UninitialisedTest : public LibraryTest,
                          public ::testing::WithParamInterface<Uninitialised> {};

TEST_P(UninitialisedTest, AnswersAsPigpio)
{
    CaptureStderr();
    EXPECT_EQ(GetParam().call(), PI_NOT_INITIALISED);
    const std::string said = GetCapturedStderr();
    // "YYYY-MM-DD HH:MM:SS fn: pigpio uninitialised, call gpioInitialise()"
    EXPECT_EQ(said.substr(19), std::string(" ") + GetParam().what +
                                   ": pigpio uninitialised, call gpioInitialise()\n");
}

INSTANTIATE_TEST_SUITE_P(Calls, UninitialisedTest, ::testing::ValuesIn(uninitialisedCalls()),
                         caseName<Uninitialised>);

TEST_F(LibraryTest, TerminateBeforeInitialiseDoesNothing)
{
    CaptureStderr();
    gpioTerminate();
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_TRUE(fake_lirc::calls().empty());
}

// ---- modes and waves -------------------------------------------------------------------

TEST_F(LibraryTest, SetModeChecksAsPigpio)
{
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    EXPECT_EQ(gpioSetMode(24, PI_OUTPUT), 0);
    EXPECT_EQ(gpioSetMode(53, PI_ALT3), 0);
    CaptureStderr();
    EXPECT_EQ(gpioSetMode(54, PI_OUTPUT), PI_BAD_GPIO);
    EXPECT_EQ(gpioSetMode(24, 8), PI_BAD_MODE);
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "gpioSetMode: bad gpio (54)"));
    EXPECT_TRUE(contains(said, "gpioSetMode: gpio 24, bad mode (8)"));
}

TEST_F(LibraryTest, AddGenericKeepsPigpiosLimits)
{
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    Records many(PI_WAVE_MAX_PULSES + 1, gpioPulse_t{0, 0, 1});
    CaptureStderr();
    EXPECT_EQ(gpioWaveAddGeneric(PI_WAVE_MAX_PULSES + 1, many.data()), PI_TOO_MANY_PULSES);
    EXPECT_EQ(gpioWaveAddGeneric(PI_WAVE_MAX_PULSES, many.data()), PI_TOO_MANY_PULSES);
    EXPECT_EQ(gpioWaveAddGeneric(1, nullptr), PI_BAD_POINTER);
    GetCapturedStderr();
    EXPECT_EQ(gpioWaveAddGeneric(PI_WAVE_MAX_PULSES - 1, many.data()), PI_WAVE_MAX_PULSES - 1);
}

TEST_F(LibraryTest, WaveIdsAsPigpio)
{
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    EXPECT_EQ(gpioWaveCreate(), PI_EMPTY_WAVEFORM);
    EXPECT_EQ(create(necRecords("1")), 0);
    EXPECT_EQ(create(necRecords("0")), 1);
    EXPECT_EQ(create(necRecords("01")), 2);
    EXPECT_EQ(gpioWaveDelete(1), 0);
    EXPECT_EQ(create(necRecords("11")), 1); // the freed id
    CaptureStderr();
    EXPECT_EQ(gpioWaveDelete(7), PI_BAD_WAVE_ID);
    EXPECT_TRUE(contains(GetCapturedStderr(), "gpioWaveDelete: bad wave id (7)"));
    EXPECT_EQ(gpioWaveClear(), 0);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), PI_BAD_WAVE_ID);
    GetCapturedStderr();
    EXPECT_EQ(create(necRecords("")), 0);
}

TEST_F(LibraryTest, CreateRefusesWithOneLineSayingWhy)
{
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    Records records = necRecords("1");
    records.push_back({1u << 24, 0, 13}); // and the LED stays on
    CaptureStderr();
    EXPECT_EQ(create(records), PI_BAD_PARAM);
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "gpioWaveCreate: /dev/lirc0 cannot send this wave: it leaves "
                               "GPIO 24 high at the end\n"));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
}

// ---- the device tree's transmitter, where sysfs cannot say which device is which ----------

// The fixture's sysfs is empty: without sysfs the library takes the first
// transmitter, and takes waves only for the GPIOs of the tree's gpio-ir-tx nodes.
class TreeTest : public LibraryTest {
  protected:
    void node(const std::string& path, const std::string& compatible, uint32_t gpio,
              const char* status = nullptr)
    {
        tree().write(path + "/compatible", compatible);
        tree().write(path + "/gpios", cells({0x8b, gpio, 0}));
        if (status != nullptr) {
            tree().write(path + "/status", std::string(status) + '\0');
        }
    }
};

TEST_F(TreeTest, RefusesAWaveForAnotherGpio)
{
    // Found by its compatible string, nested and second in its list; the nodes named
    // like a transmitter, or disabled, are not it.
    node("soc/ir@12", std::string("acme,ir\0gpio-ir-tx\0", 19), 18);
    node("gpio-ir-transmitter@18", std::string("gpio-leds\0", 10), 24);
    node("old-ir@17", std::string("gpio-ir-tx\0", 11), 24, "disabled");
    tree().write("model", "Raspberry Pi 5 Model B Rev 1.0");
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    CaptureStderr();
    EXPECT_EQ(create(necRecords("1", 24)), -41); // PI_NOT_PERMITTED
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "the wave is for GPIO 24, but the IR transmitter (gpio-ir-tx in "
                               "the device tree) is on GPIO 18: put "
                               "dtoverlay=gpio-ir-tx,gpio_pin=24 in /boot/firmware/config.txt"));
    EXPECT_EQ(gpioWaveClear(), 0);
    EXPECT_EQ(create(necRecords("1", 18)), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
}

TEST_F(TreeTest, TakesAWaveForAnyOfItsTransmitters)
{
    node("ir-a", std::string("gpio-ir-tx\0", 11), 17, "okay");
    node("ir-b", std::string("gpio-ir-tx\0", 11), 24);
    fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    EXPECT_EQ(create(necRecords("1", 24)), 0);
    EXPECT_EQ(create(necRecords("1", 17)), 1);
}

TEST_F(TreeTest, HardwareRevisionFromTheTree)
{
    tree().write("system/linux,revision", cells({0xc04170}));
    EXPECT_EQ(gpioHardwareRevision(), 0xc04170u);
    EXPECT_EQ(gpioVersion(), static_cast<unsigned>(PIGPIO_VERSION));
}

// ---- sending --------------------------------------------------------------------------------

TEST_F(LibraryTest, SendsTheFrameInOneWrite)
{
    const std::string code = "00000000111111111010001001011101";
    fake_lirc::Device& device = fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    ASSERT_EQ(gpioSetMode(24, PI_OUTPUT), 0);
    ASSERT_EQ(gpioWaveClear(), 0);
    ASSERT_EQ(create(necRecords(code)), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 67);
    EXPECT_EQ(gpioWaveTxBusy(), 1); // the silence after it
    EXPECT_EQ(gpioWaveDelete(0), 0);
    gpioTerminate();
    std::string write = "write";
    for (const uint32_t duration : necDurations(code)) {
        write += " " + std::to_string(duration);
    }
    // Held from before the carrier is set until after the frame.
    const std::vector<std::string> expected{"open /dev/lirc0", "features",        "lock",
                                            "carrier 38462",   "duty 50",         write,
                                            "unlock",          "close /dev/lirc0"};
    EXPECT_EQ(fake_lirc::calls(), expected);
    EXPECT_EQ(device.writes, (std::vector<Durations>{necDurations(code)}));
}

TEST_F(LibraryTest, WithoutCarrierControlItSaysSoOnce)
{
    fake_lirc::Device& device =
        fake_lirc::add("/dev/lirc0", LIRC_CAN_SEND_PULSE | LIRC_CAN_SET_SEND_DUTY_CYCLE);
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    ASSERT_EQ(create(necRecords("1")), 0);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "/dev/lirc0 cannot set its carrier: it sends with its own, not "
                               "38462 Hz\n"));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
    EXPECT_TRUE(device.carriers.empty());
    EXPECT_EQ(device.dutyCycles, (Durations{50, 50}));
    EXPECT_EQ(device.writes.size(), 2u);
}

struct SendFailure {
    const char* what;
    std::function<void(fake_lirc::Device&)> fault;
    std::string said;
    size_t writes; // that reached the device
};

std::vector<SendFailure> sendFailures()
{
    return {
        {"carrier_refused", [](fake_lirc::Device& d) { d.carrierErrno = EINVAL; },
         std::string("/dev/lirc0 refused a carrier of 38462 Hz: ") + std::strerror(EINVAL), 0},
        {"duty_cycle_refused", [](fake_lirc::Device& d) { d.dutyCycleErrno = EINVAL; },
         std::string("/dev/lirc0 refused a duty cycle of 50 %: ") + std::strerror(EINVAL), 0},
        {"unplugged", [](fake_lirc::Device& d) { d.writeErrno = ENODEV; },
         std::string("/dev/lirc0 could not send the wave: ") + std::strerror(ENODEV), 0},
        {"interrupted", [](fake_lirc::Device& d) { d.writeErrno = EINTR; },
         std::string("/dev/lirc0 could not send the wave: ") + std::strerror(EINTR), 0},
        {"refused", [](fake_lirc::Device& d) { d.writeErrno = EINVAL; },
         std::string("/dev/lirc0 could not send the wave: ") + std::strerror(EINVAL), 0},
        {"cut_short", [](fake_lirc::Device& d) { d.writeReports = 3; },
         "/dev/lirc0 sent only 3 of the wave's 5 durations", 1},
        {"lock_refused", [](fake_lirc::Device& d) { d.lockErrno = ENOLCK; },
         std::string("cannot lock /dev/lirc0: ") + std::strerror(ENOLCK) + "; nothing was sent", 0},
    };
}

class SendFailureTest : public LibraryTest, public ::testing::WithParamInterface<SendFailure> {};

TEST_P(SendFailureTest, IsAnErrorWithTheReason)
{
    fake_lirc::Device& device = fake_lirc::add("/dev/lirc0");
    GetParam().fault(device);
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    ASSERT_EQ(create(necRecords("1")), 0);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), -132); // PI_BAD_FILE_WRITE
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "gpioWaveTxSend: " + GetParam().said + "\n"));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
    EXPECT_EQ(device.writes.size(), GetParam().writes);
    // Where a part of the frame went out, the silence after it holds the device.
    EXPECT_EQ(gpioWaveTxBusy(), GetParam().writes > 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendFailureTest, ::testing::ValuesIn(sendFailures()),
                         caseName<SendFailure>);

TEST_F(LibraryTest, SendsOnceOnly)
{
    const fake_lirc::Device& device = fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    ASSERT_EQ(create(necRecords("1")), 0);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_REPEAT), PI_BAD_WAVE_MODE);
    EXPECT_EQ(gpioWaveTxSend(0, 4), PI_BAD_WAVE_MODE);
    EXPECT_EQ(gpioWaveTxSend(1, PI_WAVE_MODE_ONE_SHOT), PI_BAD_WAVE_ID);
    const std::string said = GetCapturedStderr();
    EXPECT_TRUE(contains(said, "wave mode 1: the kernel's IR transmitter sends a wave once only"));
    EXPECT_TRUE(contains(said, "gpioWaveTxSend: bad wave mode (4)"));
    EXPECT_TRUE(contains(said, "gpioWaveTxSend: bad wave id (1)"));
    EXPECT_TRUE(device.writes.empty());
}

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The kernel takes pulses and spaces from the first pulse to the last; the silence
// before is waited out before the write, the one after keeps the wave busy.
TEST_F(LibraryTest, SilencesAroundTheFrameKeepTheirTime)
{
    const fake_lirc::Device& device = fake_lirc::add("/dev/lirc0");
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION);
    Records records;
    addSilence(records, 30000);
    addBurst(records, 24, 2, 13, 13);
    addSilence(records, 40000);
    ASSERT_EQ(create(records), 0);
    EXPECT_GE(secondsOf([] { EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 1); }), 0.030);
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    EXPECT_EQ(device.writes, (std::vector<Durations>{{52}}));
    time_sleep(0.045);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
}

// ---- time_sleep ------------------------------------------------------------------------------

TEST(TimeSleepTest, SleepsWithoutInitialisation)
{
    EXPECT_GE(secondsOf([] { time_sleep(0.02); }), 0.02);
    EXPECT_LT(secondsOf([] {
                  time_sleep(0);
                  time_sleep(-5);
                  time_sleep(std::nan(""));
              }),
              0.01);
}

TEST(TimeSleepTest, SleepsOnAfterASignal)
{
    struct sigaction handler {};
    handler.sa_handler = [](int) {};
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGALRM, &handler, &before), 0); // no SA_RESTART
    itimerval timer{};
    timer.it_value.tv_usec = 5000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    EXPECT_GE(secondsOf([] { time_sleep(0.05); }), 0.05);
    sigaction(SIGALRM, &before, nullptr);
}

} // namespace
