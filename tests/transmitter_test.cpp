// The transmitter against the pigpio stand-in, in this process: what it builds,
// what it prints, and how it drives pigpio on every path.
#include "transmitter.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pigpio_sim.h>
#include <pthread.h>
#include <signal.h>

#include "frame_params.h"
#include "frame_text.h"
#include "sim_fixture.h"

namespace {

using Frame = FrameParams;

struct Emission {
    int32_t status = -1;
    std::string output;
    std::vector<std::string> calls;
    std::vector<gpioPulse_t> wave;
};

Emission emit(const Frame& f, const std::string& code)
{
    Emission e;
    testing::internal::CaptureStdout();
    e.status = emitFrame(f, code.c_str());
    (void)std::fflush(stdout);
    e.output = testing::internal::GetCapturedStdout();
    e.calls = callLog();
    e.wave = createdPulses();
    return e;
}

uint64_t totalMicros(const std::vector<gpioPulse_t>& pulses)
{
    uint64_t sum = 0;
    for (const gpioPulse_t& p : pulses) {
        sum += p.usDelay;
    }
    return sum;
}

using Transmitter = FreshSim;

// --- The frame as built -----------------------------------------------------

struct CodeCase {
    const char* code;
    int32_t pulseCount;
    uint64_t airtimeUs;
};

TEST_F(Transmitter, NecFramesHaveTheirRecordCountsAndAirtime)
{
    const std::string ones(32, '1');
    const std::string zeros(32, '0');
    const CodeCase cases[] = {
        {"", 727, 8892 + 4500 + 546},
        {"1", 770, 8892 + 4500 + 546 + 1688 + 546},
        {"0", 770, 8892 + 4500 + 546 + 562 + 546},
        {ones.c_str(), 2103, 85426},
        {zeros.c_str(), 2103, 49394},
        {"00000000111111111010001001011101", 2103, 8892 + 4500 + 546 + 16 * 2234 + 16 * 1108},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.code);
        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
        const Emission e = emit(Frame{}, c.code);
        EXPECT_EQ(e.status, 0);
        EXPECT_EQ(static_cast<int32_t>(e.wave.size()), c.pulseCount);
        EXPECT_EQ(totalMicros(e.wave), c.airtimeUs);
        EXPECT_EQ(envelopeText(e.wave.data(), static_cast<int>(e.wave.size())),
                  necEnvelope(c.code));
    }
}

TEST_F(Transmitter, BurstsAreWholeCarrierPeriodsOnTheOneLine)
{
    const Emission e = emit(Frame{}, "10");
    const uint32_t line = 1U << 24;
    // The leading burst: 342 periods of 13 us on, 13 us off.
    for (int i = 0; i < 684; ++i) {
        SCOPED_TRACE(i);
        const gpioPulse_t& p = e.wave[static_cast<size_t>(i)];
        EXPECT_EQ(p.gpioOn, i % 2 == 0 ? line : 0U);
        EXPECT_EQ(p.gpioOff, i % 2 == 0 ? 0U : line);
        EXPECT_EQ(p.usDelay, 13U);
    }
    // Every burst ends with an off record, so the line is low when the frame ends.
    EXPECT_EQ(e.wave.back().gpioOff, line);
    EXPECT_EQ(pigpioSimLevel(24), 0);
}

TEST_F(Transmitter, OutputOfASentFrameIsExact)
{
    const Emission e = emit(Frame{}, std::string(32, '1'));
    // 1 start control block + 2070 pulses that switch the line + 2103 delays.
    EXPECT_EQ(e.output, "code size is 32\npulse count is 2103\nResult: 4174\n");
}

TEST_F(Transmitter, StrayBytesAreReportedAndSkipped)
{
    const Emission e = emit(Frame{}, "1x0");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.output, "code size is 3\n"
                        "Warning: Non-binary digit in command\n"
                        "pulse count is 813\n"
                        "Result: 1624\n");
    EXPECT_EQ(envelopeText(e.wave.data(), static_cast<int>(e.wave.size())), necEnvelope("10"));
}

TEST_F(Transmitter, TrailingBurstIsTheOneBurstWithNoGapAfterIt)
{
    Frame f;
    f.oneBurstUs = 1000; // 38 periods: 988 us
    f.zeroBurstUs = 562;
    Emission e = emit(f, "0");
    EXPECT_EQ(envelopeText(e.wave.data(), static_cast<int>(e.wave.size())),
              "m8892s4500m546s562m988");
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    f.trailBurst = 0;
    e = emit(f, "0");
    EXPECT_EQ(envelopeText(e.wave.data(), static_cast<int>(e.wave.size())), "m8892s4500m546s562");
}

// bench/frame_bench times buildFrame alone, so it must be all that emitCode sends:
// the same records, and nothing printed on the way but the stray-byte warnings.
// Every length different, so a parameter passed in the wrong place shows.
Frame oddFrame()
{
    Frame odd;
    odd.gpioPin = 7;
    odd.carrierHz = 36000;
    odd.dutyCycle = 0.33;
    odd.leadBurstUs = 3000;
    odd.leadGapUs = 2000;
    odd.oneBurstUs = 1000;
    odd.zeroBurstUs = 400;
    odd.oneGapUs = 1500;
    odd.zeroGapUs = 700;
    return odd;
}

TEST_F(Transmitter, BuildFrameIsTheFrameEmitCodeSends)
{
    const Frame odd = oddFrame();
    Frame noTrail = odd;
    noTrail.trailBurst = 0;
    const struct {
        const char* what;
        Frame frame;
        std::string code;
        const char* warnings;
    } cases[] = {
        {"NEC, stray bytes", Frame{}, "1x0\r",
         "Warning: Non-binary digit in command\n"
         "Warning: Non-binary digit in command\n"},
        {"other timings", odd, "0110", ""},
        {"no trailing burst", noTrail, "0110", ""},
        {"too long", Frame{}, std::string(263, '1') + "2",
         "Warning: Non-binary digit in command\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Frame& f = c.frame;
        PulseBuffer pulses;
        testing::internal::CaptureStdout();
        const int32_t count =
            buildFrame(f.gpioPin, f.carrierHz, f.dutyCycle, f.leadBurstUs, f.leadGapUs,
                       f.oneBurstUs, f.zeroBurstUs, f.oneGapUs, f.zeroGapUs, f.trailBurst,
                       c.code.c_str(), c.code.size(), pulses);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.warnings);

        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
        const Emission e = emit(f, c.code);
        const bool fits = count <= maxFramePulses;
        EXPECT_EQ(count, fits ? static_cast<int32_t>(e.wave.size()) : maxFramePulses + 1);
        ASSERT_EQ(e.wave.size(), fits ? static_cast<size_t>(count) : 0U);
        for (size_t i = 0; i < e.wave.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(pulses[i].gpioOn, e.wave[i].gpioOn);
            EXPECT_EQ(pulses[i].gpioOff, e.wave[i].gpioOff);
            EXPECT_EQ(pulses[i].usDelay, e.wave[i].usDelay);
        }
    }
}

// The durations a frame of beamfile's goes on air as, before the carrier rounds them.
std::vector<uint32_t> frameDurations(const Frame& f, const std::string& code)
{
    std::vector<uint32_t> d = {static_cast<uint32_t>(f.leadBurstUs),
                               static_cast<uint32_t>(f.leadGapUs)};
    for (const char bit : code) {
        d.push_back(static_cast<uint32_t>(bit == '1' ? f.oneBurstUs : f.zeroBurstUs));
        d.push_back(static_cast<uint32_t>(bit == '1' ? f.oneGapUs : f.zeroGapUs));
    }
    if (f.trailBurst != 0) {
        d.push_back(static_cast<uint32_t>(f.oneBurstUs));
    }
    return d;
}

// A press of the frame's own durations is the frame, record for record, and the
// count taken before building is the count built; a press that does not fit is
// marked, never written past the buffer.
TEST_F(Transmitter, PressOfAFramesDurationsIsThatFrame)
{
    const Frame odd = oddFrame();
    const struct {
        const char* what;
        Frame frame;
        std::string code;
    } cases[] = {
        {"the example", Frame{}, "00000000111111111010001001011101"},
        {"ones", Frame{}, std::string(32, '1')},
        {"other timings", odd, "0110"},
        {"the longest that fits", Frame{}, std::string(262, '0')},
        {"too long", Frame{}, std::string(263, '1')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Frame& f = c.frame;
        PulseBuffer frame;
        const int32_t frameCount =
            buildFrame(f.gpioPin, f.carrierHz, f.dutyCycle, f.leadBurstUs, f.leadGapUs,
                       f.oneBurstUs, f.zeroBurstUs, f.oneGapUs, f.zeroGapUs, f.trailBurst,
                       c.code.c_str(), c.code.size(), frame);
        const std::vector<uint32_t> d = frameDurations(f, c.code);
        PulseBuffer press;
        const int32_t pressCount =
            buildPress(f.gpioPin, f.carrierHz, f.dutyCycle, d.data(), d.size(), press);
        ASSERT_EQ(pressCount, frameCount);
        const int64_t counted = pressPulseCount(f.carrierHz, f.dutyCycle, d.data(), d.size());
        if (frameCount <= maxFramePulses) {
            EXPECT_EQ(counted, frameCount);
        } else {
            EXPECT_GT(counted, maxFramePulses);
        }
        for (int32_t i = 0; i < std::min(pressCount, maxFramePulses); ++i) {
            SCOPED_TRACE(i);
            const auto k = static_cast<size_t>(i);
            EXPECT_EQ(press[k].gpioOn, frame[k].gpioOn);
            EXPECT_EQ(press[k].gpioOff, frame[k].gpioOff);
            EXPECT_EQ(press[k].usDelay, frame[k].usDelay);
        }
    }
}

TEST_F(Transmitter, PressGoesOutAsOneWaveOrNotAtAll)
{
    const std::vector<uint32_t> fits = {889, 889, 1778, 1778, 889};
    EXPECT_EQ(emitPress(24, 36000, 0.5, fits.data(), fits.size()), 0);
    // 889 us at 36 kHz is 32 periods: 64 + 1 + 128 + 1 + 64 records.
    EXPECT_EQ(createdPulses().size(), 258U);

    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    // 6000 periods of one mark are 12000 records: refused before pigpio is started.
    const std::vector<uint32_t> tooLong = {static_cast<uint32_t>(6000 * 1e6 / 38000 + 1)};
    EXPECT_EQ(pressPulseCount(38000, 0.5, tooLong.data(), tooLong.size()), 12000);
    EXPECT_EQ(emitPress(24, 38000, 0.5, tooLong.data(), tooLong.size()), 1);
    EXPECT_TRUE(callLog().empty());
    EXPECT_EQ(emitPress(32, 38000, 0.5, fits.data(), fits.size()), 1);
    EXPECT_TRUE(callLog().empty());
}

// --- Carrier synthesis and gaps ----------------------------------------------

struct BurstCase {
    const char* what;
    double carrierHz;
    double dutyCycle;
    double burstUs;
    int records;
    uint32_t onUs;
    uint32_t offUs;
};

TEST(CarrierFrequency, RoundsPeriodsAndHalfPeriods)
{
    const double nan = std::nan("");
    const BurstCase cases[] = {
        {"NEC leading burst", 38000, 0.5, 9000, 684, 13, 13},
        {"NEC bit burst", 38000, 0.5, 562, 42, 13, 13},
        {"just under half a period", 38000, 0.5, 13, 0, 0, 0},
        {"just over half a period", 38000, 0.5, 14, 2, 13, 13},
        {"2.5 periods round away from zero", 10000, 0.5, 250, 6, 50, 50},
        {"on and off rounded apart", 36000, 0.33, 1000, 72, 9, 19},
        {"duty cycle 1 keeps the off records", 38000, 1.0, 562, 42, 26, 0},
        {"duty cycle 0 keeps the on records", 38000, 0.0, 562, 42, 0, 26},
        {"duty cycle below 0 is no on time", 38000, -0.5, 562, 42, 0, 39},
        {"duty cycle above 1 is no off time", 38000, 1.5, 562, 42, 39, 0},
        {"undefined duty cycle is no time", 38000, nan, 562, 42, 0, 0},
        {"negative burst", 38000, 0.5, -562, 0, 0, 0},
        {"no carrier", 0, 0.5, 562, 0, 0, 0},
        {"negative carrier", -38000, 0.5, 562, 0, 0, 0},
    };
    for (const BurstCase& c : cases) {
        SCOPED_TRACE(c.what);
        PulseBuffer pulses;
        int32_t count = 0;
        carrierFrequency(7, c.carrierHz, c.dutyCycle, c.burstUs, pulses.data(), &count);
        ASSERT_EQ(count, c.records);
        for (int i = 0; i < count; ++i) {
            const gpioPulse_t& p = pulses[static_cast<size_t>(i)];
            const bool on = i % 2 == 0;
            EXPECT_EQ(p.gpioOn, on ? 1U << 7 : 0U);
            EXPECT_EQ(p.gpioOff, on ? 0U : 1U << 7);
            EXPECT_EQ(p.usDelay, on ? c.onUs : c.offUs);
        }
    }
}

// At the frame limit a burst is written as far as it fits, on and off records in
// turn, and then marks the frame too long; nothing lands past the limit.
TEST(CarrierFrequency, FillsUpToTheFrameLimitAndMarksTheRest)
{
    const gpioPulse_t untouched{7, 7, 7};
    for (int32_t start = maxFramePulses - 4; start <= maxFramePulses + 1; ++start) {
        for (int32_t cycles = 0; cycles <= 3; ++cycles) {
            SCOPED_TRACE(testing::Message() << "from " << start << ", " << cycles << " periods");
            PulseBuffer pulses;
            pulses.fill(untouched);
            int32_t count = start;
            carrierFrequency(24, 38000, 0.5, cycles * 1e6 / 38000, pulses.data(), &count);
            const int32_t room = start > maxFramePulses ? 0 : maxFramePulses - start;
            const int32_t written = std::min(2 * cycles, room);
            // Past the limit already, the count stays one past it.
            const bool tooLong = start > maxFramePulses || 2 * cycles > room;
            EXPECT_EQ(count, tooLong ? maxFramePulses + 1 : start + written);
            for (int32_t i = maxFramePulses - 8; i < static_cast<int32_t>(pulses.size()); ++i) {
                const gpioPulse_t& p = pulses[static_cast<size_t>(i)];
                const int32_t k = i - start;
                if (k >= 0 && k < written) {
                    EXPECT_EQ(p.gpioOn, k % 2 == 0 ? 1U << 24 : 0U) << i;
                    EXPECT_EQ(p.gpioOff, k % 2 == 0 ? 0U : 1U << 24) << i;
                    EXPECT_EQ(p.usDelay, 13U) << i;
                } else {
                    EXPECT_EQ(p.gpioOn + p.gpioOff + p.usDelay, 21U) << i << " was written";
                }
            }
        }
    }
}

TEST(Gap, IsOneSilenceRecordOfWholeMicroseconds)
{
    const struct {
        double gapUs;
        uint32_t delayUs;
    } cases[] = {{4500, 4500}, {0, 0}, {2.9, 2}, {-562, 0}, {-0.5, 0}, {2147483647.0, 2147483647U}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gapUs);
        PulseBuffer pulses;
        int32_t count = 0;
        gap(c.gapUs, pulses.data(), &count);
        ASSERT_EQ(count, 1);
        EXPECT_EQ(pulses[0].gpioOn | pulses[0].gpioOff, 0U);
        EXPECT_EQ(pulses[0].usDelay, c.delayUs);
    }
}

TEST_F(Transmitter, ShortBurstAddsNothingButItsGapStays)
{
    Frame f;
    f.zeroBurstUs = 10;
    const Emission e = emit(f, "0");
    EXPECT_EQ(e.wave.size(), 685U + 1U + 42U);
    EXPECT_EQ(envelopeText(e.wave.data(), static_cast<int>(e.wave.size())), "m8892s5062m546");
}

TEST_F(Transmitter, NegativeGapsAreSilencesOfNoTime)
{
    Frame f;
    f.leadGapUs = -4500;
    f.oneGapUs = -1;
    const Emission e = emit(f, "1");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(totalMicros(e.wave), 8892U + 546U + 546U);
}

// --- Refusals before anything is built -----------------------------------------

struct RefusalCase {
    const char* what;
    uint32_t gpioPin;
    size_t codeLength;
    int32_t status;
    const char* output;
};

TEST_F(Transmitter, RefusesBadPinsAndLongCodesWithoutTouchingPigpio)
{
    const RefusalCase cases[] = {
        {"GPIO 32", 32, 32, 1, ""},
        {"GPIO far out of range", 4000000000U, 32, 1, ""},
        {"513 bytes", 24, 513, 1, "code size is 513\n"},
        {"512 bytes fit the length but not one frame", 24, 512, 1,
         "code size is 512\nCode too long for one frame: more than 11999 pulses\n"},
        {"263 bits need 12036 records", 24, 263, 1,
         "code size is 263\nCode too long for one frame: more than 11999 pulses\n"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        pigpioSimReset();
        Frame f;
        f.gpioPin = c.gpioPin;
        const Emission e = emit(f, std::string(c.codeLength, '1'));
        EXPECT_EQ(e.status, c.status);
        EXPECT_EQ(e.output, c.output);
        EXPECT_TRUE(e.calls.empty()) << e.calls.front();
    }
}

TEST_F(Transmitter, AcceptsGpio31AndTheLongestFrameThatFits)
{
    Frame f;
    f.gpioPin = 31;
    Emission e = emit(f, "1");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.wave.front().gpioOn, 1U << 31);

    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    e = emit(Frame{}, std::string(262, '0'));
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.wave.size(), 11993U);
}

// The frame limit is pigpio's, not the buffer's: a total of 12000 records is
// refused by gpioWaveAddGeneric, so 11999 is the most a frame may have.
TEST_F(Transmitter, FrameLimitSitsWherePigpioRefuses)
{
    // Bits of a silence only, after a leading burst of a chosen number of periods.
    auto frame = [](int leadPeriods) {
        Frame f;
        f.leadBurstUs = static_cast<int32_t>(std::lround(leadPeriods * 1e6 / 38000));
        f.zeroBurstUs = 0;
        f.trailBurst = 0;
        return f;
    };
    const struct {
        int leadPeriods;
        size_t zeros;
        int32_t status;
        size_t records;
    } cases[] = {{5744, 510, 0, 11999}, {5744, 511, 1, 0}, {5800, 512, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zeros);
        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
        const Emission e = emit(frame(c.leadPeriods), std::string(c.zeros, '0'));
        EXPECT_EQ(e.status, c.status);
        EXPECT_EQ(e.wave.size(), c.records);
        EXPECT_EQ(e.calls.empty(), c.status != 0);
    }
}

// --- Driving pigpio -------------------------------------------------------------

std::vector<std::string> callNames(const std::vector<std::string>& calls)
{
    std::vector<std::string> names;
    names.reserve(calls.size());
    for (const std::string& call : calls) {
        names.push_back(call.substr(0, call.find('(')));
    }
    return names;
}

TEST_F(Transmitter, SendsOnceAndWaitsForTheEndBeforeReleasing)
{
    const Emission e = emit(Frame{}, std::string(32, '1'));
    const std::vector<std::string> expected = {
        "gpioInitialise() = 79",
        "gpioSetMode(24, 1) = 0",
        "gpioWaveClear() = 0",
        "gpioWaveAddGeneric(2103, pulses) = 2103",
        "gpioWaveCreate() = 0",
        "gpioWaveTxSend(0, 0) = 4174",
        // 20 us of start delay and 85426 us of frame: one poll of 0.1 s.
        "gpioWaveTxBusy() = 1",
        "time_sleep(0.1)",
        "gpioWaveTxBusy() = 0",
        "gpioWaveDelete(0) = 0",
        "gpioTerminate()",
    };
    EXPECT_EQ(e.calls, expected);
    EXPECT_EQ(pigpioSimNowMicros(), 100000U);
}

struct FaultCase {
    const char* what;
    int failInitialise;
    int failCreate;
    int failSend;
    int32_t status;
    const char* outputTail;
    std::vector<std::string> calls;
};

TEST_F(Transmitter, EveryFailedTransmissionIsReportedAndReleased)
{
    const FaultCase cases[] = {
        {"pigpio does not start",
         1,
         0,
         0,
         1,
         "pulse count is 770\nGPIO Initialization failed\n",
         {"gpioInitialise"}},
        {"no control blocks left",
         0,
         PI_TOO_MANY_CBS,
         0,
         1,
         "pulse count is 770\nWave creation failure!\n -67",
         {"gpioInitialise", "gpioSetMode", "gpioWaveClear", "gpioWaveAddGeneric", "gpioWaveCreate",
          "gpioWaveTxBusy", "gpioTerminate"}},
        {"send refused",
         0,
         0,
         PI_BAD_WAVE_ID,
         1,
         "pulse count is 770\nResult: -66\n",
         {"gpioInitialise", "gpioSetMode", "gpioWaveClear", "gpioWaveAddGeneric", "gpioWaveCreate",
          "gpioWaveTxSend", "gpioWaveTxBusy", "gpioWaveDelete", "gpioTerminate"}},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
        pigpioSimFailInitialise(c.failInitialise);
        pigpioSimFailWaveCreate(c.failCreate);
        pigpioSimFailWaveTxSend(c.failSend);
        const Emission e = emit(Frame{}, "1");
        EXPECT_EQ(e.status, c.status);
        EXPECT_EQ(e.output, std::string("code size is 1\n") + c.outputTail);
        EXPECT_EQ(callNames(e.calls), c.calls);
    }
}

// --- Signals during the send ------------------------------------------------------

// What the caller's own handler saw when its signal came.
struct Delivery {
    int count = 0;
    uint64_t at = 0;
    std::string lastCall;
};
Delivery delivery;

extern "C" void noteDelivery(int /*signo*/)
{
    ++delivery.count;
    delivery.at = pigpioSimNowMicros();
    const int calls = pigpioSimCallCount();
    delivery.lastCall = calls > 0 ? pigpioSimCall(calls - 1) : "";
}

bool blocked(int signo)
{
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signo) == 1;
}

// A signal that comes during the send waits until pigpio is terminated, and the
// caller gets its own mask back, on every path.
TEST_F(Transmitter, SignalsWaitUntilPigpioIsTerminated)
{
    const Emission whole = emit(Frame{}, std::string(32, '1'));
    const int wholeEdges = pigpioSimEdgeCount(necFrame::gpioPin);

    struct sigaction action {};
    action.sa_handler = noteDelivery;
    sigemptyset(&action.sa_mask);
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGUSR2, &action, &before), 0);
    sigset_t callers;
    sigemptyset(&callers);
    sigaddset(&callers, SIGUSR1); // the caller's own, to be kept
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &callers, &old);

    for (const int failInitialise : {0, 1}) {
        SCOPED_TRACE(failInitialise);
        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
        pigpioSimSignalHandlers(0); // pigpio's would end this process
        pigpioSimFailInitialise(failInitialise);
        pigpioSimSignalAfterSend(SIGUSR2, 3012);
        delivery = Delivery();
        const Emission e = emit(Frame{}, std::string(32, '1'));
        EXPECT_TRUE(blocked(SIGUSR1));
        EXPECT_FALSE(blocked(SIGUSR2));
        EXPECT_FALSE(blocked(SIGINT));
        if (failInitialise != 0) {
            EXPECT_EQ(e.status, 1);
            EXPECT_EQ(delivery.count, 0) << "nothing was sent";
            continue;
        }
        EXPECT_EQ(e.status, 0);
        EXPECT_EQ(e.calls, whole.calls);
        EXPECT_EQ(pigpioSimEdgeCount(necFrame::gpioPin), wholeEdges);
        EXPECT_EQ(pigpioSimLevel(necFrame::gpioPin), 0);
        EXPECT_EQ(delivery.count, 1);
        EXPECT_EQ(delivery.lastCall, "gpioTerminate()");
        EXPECT_EQ(delivery.at, 100000U);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    sigaction(SIGUSR2, &before, nullptr);
}

} // namespace
