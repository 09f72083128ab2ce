// Playing sent waves against the clock, and the clocks themselves.
#include <csignal>
#include <ctime>
#include <sys/time.h>

#include "clock.h"
#include "sim_test.h"

namespace {

constexpr unsigned G = 24;
constexpr uint32_t L = 1u << G;

uint64_t monotonicMicros()
{
    return static_cast<uint64_t>(monotonicNs()) / 1000u;
}

void sendOneShot(Pulses pulses)
{
    ASSERT_EQ(gpioInitialise(), 79);
    ASSERT_EQ(gpioSetMode(G, PI_OUTPUT), 0);
    const int id = makeWave(std::move(pulses));
    ASSERT_GE(id, 0);
    ASSERT_GT(gpioWaveTxSend(static_cast<unsigned>(id), PI_WAVE_MODE_ONE_SHOT), 0);
}

struct BusyCase {
    Pulses pulses;
    uint64_t sum; // of usDelay
};

class Busy : public SimTest, public ::testing::WithParamInterface<BusyCase> {};

} // namespace

TEST_P(Busy, ForStartDelayPlusAllDelays)
{
    sleepMicros(1000); // sent at 1000, not at 0
    sendOneShot(GetParam().pulses);
    sleepMicros(20 + GetParam().sum - 1);
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    sleepMicros(1);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Busy,
                         ::testing::Values(BusyCase{{{L, 0, 9}, {0, L, 17}}, 26},
                                           BusyCase{{{0, 0, 1}}, 1},
                                           BusyCase{{{L, 0, 0}, {0, L, 1}}, 1},
                                           BusyCase{carrier(G, 4206), uint64_t{4206} * 13}));

TEST_F(SimTest, EdgesWhereTheLevelChanges)
{
    sendOneShot({{L, 0, 9}, {L, 0, 4}, {0, L, 17}, {L | (1u << 3), L, 5}, {L, 0, 0}, {0, L, 6}});
    EXPECT_EQ(pigpioSimEdgeCount(G), 0) << "nothing before the 20 us start delay";
    sleepMicros(1000);
    // on, on again (no edge), off, both masks (ends low: no edge), a 0-us high (merged away)
    EXPECT_EQ(edgesOf(G), (Edges{{20, 1}, {33, 0}}));
    EXPECT_EQ(edgesOf(3), (Edges{{50, 1}}));
    EXPECT_EQ(pigpioSimLevel(3), 1) << "lines keep their last level";
    EXPECT_EQ(gpioRead(3), 1);
}

TEST_F(SimTest, TerminateCutsTheWaveAtThatInstant)
{
    sendOneShot(carrier(G, 6)); // edges due at 20, 33, 46, 59, 72, 85
    sleepMicros(46);
    gpioTerminate();
    sleepMicros(1000);
    EXPECT_EQ(edgesOf(G), (Edges{{20, 1}, {33, 0}, {46, 1}}));
    EXPECT_EQ(pigpioSimLevel(G), 1);
    EXPECT_EQ(pigpioSimWavePulses(nullptr)[5].gpioOff, L) << "records kept after terminate";
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), PI_BAD_WAVE_ID) << "waves dropped";
}

TEST_F(SimTest, OneShotSendAbortsTheWaveInFlight)
{
    sendOneShot({{L, 0, 100}, {0, L, 1}});
    ASSERT_EQ(makeWave({{0, L, 10}, {L, 0, 10}}), 1);
    sleepMicros(50);
    EXPECT_EQ(gpioWaveTxSend(1, PI_WAVE_MODE_ONE_SHOT), 5);
    sleepMicros(39);
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    sleepMicros(1);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
    EXPECT_EQ(edgesOf(G), (Edges{{20, 1}, {70, 0}, {80, 1}}));
}

TEST_F(SimTest, RepeatRunsUntilAbortedAndSyncWaitsForItsCycle)
{
    sendOneShot({{L, 0, 1}}); // wave 0, ends high at 20
    ASSERT_EQ(makeWave({{0, L, 5}, {L, 0, 5}}), 1);
    ASSERT_EQ(makeWave({{0, L, 3}}), 2);
    EXPECT_EQ(gpioWaveTxSend(1, PI_WAVE_MODE_REPEAT_SYNC), 5); // after wave 0: at 21
    sleepMicros(60);                                           // cycles start at 41, 51, 61
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    EXPECT_EQ(gpioWaveTxSend(2, PI_WAVE_MODE_ONE_SHOT_SYNC), 3); // after the cycle ending 61
    sleepMicros(1000);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
    EXPECT_EQ(edgesOf(G), (Edges{{20, 1}, {41, 0}, {46, 1}, {51, 0}, {56, 1}, {81, 0}}));
    EXPECT_EQ(gpioWaveTxSend(1, PI_WAVE_MODE_REPEAT), 5);
    sleepMicros(1000000);
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    // from 1080 every 10 us a low (none at 1080: already low) and 5 us later a high
    EXPECT_EQ(pigpioSimEdgeCount(G), 6 + 2 * 99998);
    EXPECT_EQ(gpioWaveTxSend(2, PI_WAVE_MODE_ONE_SHOT), 3);
    sleepMicros(23);
    EXPECT_EQ(gpioWaveTxBusy(), 0);
}

TEST_F(SimTest, WriteDuringAWaveTakesTurnsWithIt)
{
    sendOneShot({{L, 0, 10}, {L, 0, 10}, {0, L, 10}});
    sleepMicros(25);
    EXPECT_EQ(gpioWrite(G, 0), 0);
    sleepMicros(100);
    EXPECT_EQ(edgesOf(G), (Edges{{20, 1}, {25, 0}, {30, 1}, {40, 0}}));
}

extern "C" void onAlarm(int /*signal*/) {}

TEST_F(SimTest, RealClockSleepsThroughSignals)
{
    pigpioSimUseVirtualClock(0);
    struct sigaction action {};
    action.sa_handler = onAlarm; // no SA_RESTART: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGALRM, &action, nullptr), 0);
    itimerval timer{{0, 2000}, {0, 2000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const uint64_t before = monotonicMicros();
    const uint64_t simBefore = pigpioSimNowMicros();
    time_sleep(0.03);
    const uint64_t slept = monotonicMicros() - before;
    timer = {};
    setitimer(ITIMER_REAL, &timer, nullptr);
    EXPECT_GE(slept, 30000u);
    EXPECT_LT(slept, 1000000u);
    EXPECT_GE(pigpioSimNowMicros() - simBefore, 30000u);
    const double wall = static_cast<double>(std::time(nullptr));
    EXPECT_NEAR(time_time(), wall, 2.0);
    const uint64_t start = monotonicMicros();
    time_sleep(-1);
    EXPECT_LT(monotonicMicros() - start, 10000u);
    pigpioSimUseVirtualClock(1);
    time_sleep(3e6); // further than the machine has been up, likely
    pigpioSimUseVirtualClock(0);
    EXPECT_GE(pigpioSimNowMicros(), 3000000000000u) << "switching keeps the time";
}
