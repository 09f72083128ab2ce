// The simulated Pi: its clock, the GPIO lines, the transmit timeline that plays
// sent waves against the clock, and the pool of created waves.  It writes nothing:
// what a caller may want to report, it returns.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "sim_core.h"

namespace pigpio_sim {

using pigpio_rules::monotonicNs;

State& state()
{
    // Never destroyed, so that the exit report can still use it.
    static State* const instance = new State();
    return *instance;
}

void resetState()
{
    State& s = state();
    s = State();
    s.originNs = monotonicNs();
}

// ---- clock ---------------------------------------------------------------------------

uint64_t nowMicros()
{
    const State& s = state();
    if (s.virtualClock) {
        return s.virtualNow;
    }
    // Modulo 2^64, so an origin moved back by useVirtualClock still counts right.
    return (monotonicNs() - s.originNs) / 1000u;
}

void useVirtualClock(bool on, bool fromZero)
{
    State& s = state();
    if (on == s.virtualClock) {
        return;
    }
    // Time never runs backwards, except that a clock switched right after a reset
    // (before any call) starts at 0, so tests begin at a known time.
    const uint64_t now = fromZero ? 0 : nowMicros();
    s.virtualClock = on;
    s.virtualNow = now;
    s.originNs = monotonicNs() - now * 1000u;
}

namespace {

// Where the planned signal falls on the stand-in clock; kForever when none is due.
uint64_t plannedSignalAt()
{
    const State& s = state();
    if (s.signal.signo == 0 || s.signal.sent || !s.waveSent) {
        return kForever;
    }
    return s.firstSendAt + s.signal.afterSendMicros;
}

} // namespace

Sleep startSleep(double seconds)
{
    Sleep sleep;
    const double length = pigpio_rules::sleepLength(seconds);
    if (!(length > 0)) {
        return sleep;
    }
    const State& s = state();
    sleep.none = false;
    sleep.virtualClock = s.virtualClock;
    sleep.end = s.virtualClock ? s.virtualNow + static_cast<uint64_t>(std::llround(length * 1e6))
                               : monotonicNs() + static_cast<uint64_t>(std::llround(length * 1e9));
    return sleep;
}

// The signal comes at its point in the sleep: blocked, it stays pending; not
// blocked, its handler runs there.
bool sleepToSignal(const Sleep& sleep)
{
    State& s = state();
    const uint64_t signalAt = plannedSignalAt();
    if (sleep.none || signalAt == kForever) {
        return false;
    }
    if (sleep.virtualClock) {
        if (signalAt > sleep.end) {
            return false;
        }
        s.virtualNow = std::max(s.virtualNow, signalAt);
        return true;
    }
    if (s.originNs + signalAt * 1000u > sleep.end) {
        return false;
    }
    pigpio_rules::sleepUntil(s.originNs + signalAt * 1000u);
    return true;
}

void finishSleep(const Sleep& sleep)
{
    if (sleep.none) {
        return;
    }
    if (sleep.virtualClock) {
        state().virtualNow = sleep.end;
    } else {
        pigpio_rules::sleepUntil(sleep.end);
    }
}

void planSignal(int signo, uint64_t afterSendMicros)
{
    state().signal = PlannedSignal{signo, afterSendMicros, false};
}

int takePlannedSignal()
{
    PlannedSignal& planned = state().signal;
    planned.sent = true;
    return planned.signo;
}

double timeSeconds()
{
    if (state().virtualClock) {
        return static_cast<double>(state().virtualNow) / 1e6;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// ---- lines and playback ------------------------------------------------------------

namespace {

void setLevel(unsigned gpio, int level, uint64_t at)
{
    Line& line = state().lines[gpio];
    if (line.level == level) {
        return;
    }
    line.level = level;
    // Changes within one microsecond merge: only the level at its end counts, so a
    // change back at the same instant cancels the previous edge.
    if (!line.edges.empty() && line.edges.back().at == at) {
        line.edges.pop_back();
    } else {
        line.edges.push_back({at, level});
    }
}

void applyRecord(const gpioPulse_t& pulse, uint64_t at)
{
    const uint32_t touched = pulse.gpioOn | pulse.gpioOff;
    for (unsigned gpio = 0; gpio < kWaveGpioCount; ++gpio) {
        const uint32_t bit = 1u << gpio;
        if ((touched & bit) != 0) {
            // GPSET0 is written before GPCLR0, so a line in both masks ends low.
            setLevel(gpio, (pulse.gpioOff & bit) != 0 ? 0 : 1, at);
        }
    }
}

uint64_t dueAt(const Segment& segment)
{
    return segment.start + kStartDelayMicros + segment.cycle * segment.period +
           segment.offsets[segment.next];
}

// Plays the segment's records due up to `at`; true once it has nothing left to play.
bool playSegment(Segment& segment, uint64_t at)
{
    for (;;) {
        if (segment.next == segment.pulses.size()) {
            if (!segment.repeat || segment.period == 0) {
                return true;
            }
            segment.next = 0;
            ++segment.cycle;
        }
        const uint64_t due = dueAt(segment);
        if (segment.repeat && due >= segment.stop) {
            return true;
        }
        if (due > at) {
            return false;
        }
        applyRecord(segment.pulses[segment.next], due);
        ++segment.next;
    }
}

/* Where a *_SYNC wave starts: when the transmission in progress ends; a repeating
 * wave is stopped at the end of its current cycle (of its first, if not started). */
uint64_t syncStart(uint64_t at)
{
    State& s = state();
    if (s.txEnd <= at) {
        return at;
    }
    if (s.txEnd != kForever) {
        return s.txEnd;
    }
    if (s.timeline.empty()) {
        return at; // a repeat without time in it, already played once
    }
    Segment& last = s.timeline.back();
    const uint64_t base = last.start + kStartDelayMicros;
    if (last.period == 0) {
        return std::max(at, base); // after its one pass
    }
    const uint64_t cycles = at < base ? 1 : (at - base) / last.period + 1;
    last.stop = base + cycles * last.period;
    return last.stop;
}

// The lines the pulses switch become driven; returns those that are not outputs.
uint32_t markDriven(const std::vector<gpioPulse_t>& pulses)
{
    State& s = state();
    uint32_t masks = 0;
    for (const gpioPulse_t& pulse : pulses) {
        masks |= pulse.gpioOn | pulse.gpioOff;
    }
    uint32_t notOutputs = 0;
    for (unsigned gpio = 0; gpio < kWaveGpioCount; ++gpio) {
        if ((masks & (1u << gpio)) == 0) {
            continue;
        }
        Line& line = s.lines[gpio];
        line.driven = true;
        if (line.mode != PI_OUTPUT) {
            notOutputs |= 1u << gpio;
        }
    }
    return notOutputs;
}

} // namespace

void playUntil(uint64_t at)
{
    State& s = state();
    while (!s.timeline.empty() && playSegment(s.timeline.front(), at)) {
        s.timeline.pop_front();
    }
}

void setMode(unsigned gpio, unsigned mode, uint64_t at)
{
    playUntil(at);
    Line& line = state().lines[gpio];
    line.mode = mode;
    line.driven = line.driven || mode == PI_OUTPUT;
}

void writeLevel(unsigned gpio, int level, uint64_t at)
{
    playUntil(at);
    setLevel(gpio, level, at);
    Line& line = state().lines[gpio];
    line.mode = PI_OUTPUT;
    line.driven = true;
}

bool sending(uint64_t at)
{
    return at < state().txEnd;
}

namespace {

void abortTransmission(uint64_t at)
{
    State& s = state();
    playUntil(at);
    s.timeline.clear();
    s.txEnd = 0;
}

} // namespace

Sent sendWave(unsigned waveId, unsigned mode, uint64_t at)
{
    State& s = state();
    const Wave& wave = s.waves[waveId];
    const bool sync = mode == PI_WAVE_MODE_ONE_SHOT_SYNC || mode == PI_WAVE_MODE_REPEAT_SYNC;
    if (sync) {
        playUntil(at);
    } else {
        abortTransmission(at);
    }
    Segment segment;
    segment.waveSerial = wave.serial;
    segment.pulses = wave.pulses;
    segment.start = sync ? syncStart(at) : at;
    segment.repeat = mode == PI_WAVE_MODE_REPEAT || mode == PI_WAVE_MODE_REPEAT_SYNC;
    for (const gpioPulse_t& pulse : wave.pulses) {
        segment.offsets.push_back(segment.period);
        segment.period += pulse.usDelay;
    }
    s.txEnd = segment.repeat ? kForever : segment.start + kStartDelayMicros + segment.period;
    Sent sent;
    sent.notOutputs = markDriven(wave.pulses);
    sent.cbs = wave.cbs;
    s.timeline.push_back(std::move(segment));
    if (!s.waveSent) {
        s.waveSent = true;
        s.firstSendAt = at;
    }
    return sent;
}

void terminate(uint64_t at)
{
    State& s = state();
    abortTransmission(at);
    for (size_t id = 0; id < s.waves.size(); ++id) {
        if (s.waves[id].used) {
            s.neverDeleted.push_back(static_cast<int>(id));
        }
    }
    s.waves.clear();
    s.pending.clear();
    s.initialised = false;
    releaseLock();
}

// ---- the wave pool -------------------------------------------------------------------

namespace {

int poolCbsInUse()
{
    int cbs = kReservedCbs;
    for (const Wave& wave : state().waves) {
        cbs += wave.cbs;
    }
    return cbs;
}

int poolOolsInUse()
{
    int ools = kReservedOols;
    for (const Wave& wave : state().waves) {
        ools += wave.ools;
    }
    return ools;
}

// A deleted id below a live one is reused only by a wave of exactly its size.
int exactFit(int cbs, int ools)
{
    const std::vector<Wave>& waves = state().waves;
    for (size_t id = 0; id < waves.size(); ++id) {
        if (!waves[id].used && waves[id].cbs == cbs && waves[id].ools == ools) {
            return static_cast<int>(id);
        }
    }
    return -1;
}

bool beingSent(uint64_t serial, uint64_t at)
{
    if (!sending(at)) {
        return false;
    }
    const std::deque<Segment>& timeline = state().timeline;
    return std::any_of(timeline.begin(), timeline.end(),
                       [serial](const Segment& segment) { return segment.waveSerial == serial; });
}

} // namespace

int createWave()
{
    State& s = state();
    if (s.pending.empty()) {
        return PI_EMPTY_WAVEFORM;
    }
    Wave wave;
    wave.cbs = waveCbs(s.pending);
    wave.ools = waveOols(s.pending);
    int id = exactFit(wave.cbs, wave.ools);
    if (id < 0) {
        if (poolCbsInUse() + wave.cbs > kPoolCbs) {
            return PI_TOO_MANY_CBS;
        }
        if (poolOolsInUse() + wave.ools > kPoolOols) {
            return PI_TOO_MANY_OOL;
        }
        if (s.waves.size() >= PI_MAX_WAVES) {
            return PI_NO_WAVEFORM_ID;
        }
        id = static_cast<int>(s.waves.size());
        s.waves.emplace_back();
    }
    wave.used = true;
    wave.serial = ++s.createdCount;
    wave.pulses.swap(s.pending);
    s.lastCreated = wave.pulses;
    s.waves[static_cast<size_t>(id)] = std::move(wave);
    return id;
}

// The send plays on from its own copy of the records.
bool deleteWave(unsigned waveId, uint64_t at)
{
    State& s = state();
    playUntil(at);
    const bool wasBeingSent = beingSent(s.waves[waveId].serial, at);
    s.waves[waveId].pulses.clear();
    // Resources come back only from the top: while the highest id is deleted.
    pigpio_rules::freeWave(s.waves, waveId);
    return wasBeingSent;
}

bool clearWaves(uint64_t at)
{
    State& s = state();
    playUntil(at);
    const bool wasBeingSent = sending(at);
    s.pending.clear();
    s.waves.clear();
    return wasBeingSent;
}

} // namespace pigpio_sim
