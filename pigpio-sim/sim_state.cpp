// The stand-in's state: its clock, the GPIO lines, the transmit timeline that plays
// sent waves against the clock, the pool of created waves, and the reset that
// reads the PIGPIO_SIM_* environment.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "sim_core.h"

namespace pigpio_sim {

State& state()
{
    // Never destroyed, so that the exit report can still use it.
    static State* const instance = new State();
    return *instance;
}

// ---- clock ---------------------------------------------------------------------------

namespace {

uint64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

timespec toTimespec(uint64_t ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<decltype(ts.tv_sec)>(ns / 1000000000u);
    ts.tv_nsec = static_cast<decltype(ts.tv_nsec)>(ns % 1000000000u);
    return ts;
}

// A sleep longer than this (about 31 years) is cut to it, to keep the sums in range.
constexpr double kLongestSleepSeconds = 1e9;

} // namespace

uint64_t nowMicros()
{
    const State& s = state();
    if (s.virtualClock) {
        return s.virtualNow;
    }
    // Modulo 2^64, so an origin moved back by useVirtualClock still counts right.
    return (monotonicNs() - s.originNs) / 1000u;
}

void useVirtualClock(bool on)
{
    State& s = state();
    if (on == s.virtualClock) {
        return;
    }
    // Time never runs backwards, except that a clock switched right after a reset
    // (before any call) starts at 0, so tests begin at a known time.
    const uint64_t now = s.calls.empty() ? 0 : nowMicros();
    s.virtualClock = on;
    s.virtualNow = now;
    s.originNs = monotonicNs() - now * 1000u;
}

namespace {

void sleepUntil(uint64_t monotonicDeadlineNs)
{
    const timespec deadline = toTimespec(monotonicDeadlineNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

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

// A sleep that reaches the planned signal's time stops there for the signal, then
// sleeps on: blocked, it stays pending; not blocked, its handler runs at that point.
void sleepSeconds(double seconds)
{
    if (!(seconds > 0)) {
        return;
    }
    seconds = std::min(seconds, kLongestSleepSeconds);
    State& s = state();
    const uint64_t signalAt = plannedSignalAt();
    if (s.virtualClock) {
        const uint64_t end = s.virtualNow + static_cast<uint64_t>(std::llround(seconds * 1e6));
        if (signalAt <= end) {
            s.virtualNow = std::max(s.virtualNow, signalAt);
            sendPlannedSignal(s.virtualNow);
        }
        s.virtualNow = end;
        return;
    }
    const uint64_t deadline = monotonicNs() + static_cast<uint64_t>(std::llround(seconds * 1e9));
    if (signalAt != kForever && s.originNs + signalAt * 1000u <= deadline) {
        sleepUntil(s.originNs + signalAt * 1000u);
        sendPlannedSignal(nowMicros());
    }
    sleepUntil(deadline);
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

namespace {

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

void markDriven(const std::vector<gpioPulse_t>& pulses, uint64_t at)
{
    State& s = state();
    uint32_t masks = 0;
    for (const gpioPulse_t& pulse : pulses) {
        masks |= pulse.gpioOn | pulse.gpioOff;
    }
    for (unsigned gpio = 0; gpio < kWaveGpioCount; ++gpio) {
        if ((masks & (1u << gpio)) == 0) {
            continue;
        }
        Line& line = s.lines[gpio];
        line.driven = true;
        if (line.mode != PI_OUTPUT) {
            logWarning(at, format("gpioWaveTxSend: gpio %u is not an output; on a Pi the wave "
                                  "would not reach the pin",
                                  gpio));
        }
    }
}

} // namespace

void playUntil(uint64_t at)
{
    State& s = state();
    while (!s.timeline.empty() && playSegment(s.timeline.front(), at)) {
        s.timeline.pop_front();
    }
}

bool sending(uint64_t at)
{
    return at < state().txEnd;
}

void abortTransmission(uint64_t at)
{
    State& s = state();
    playUntil(at);
    s.timeline.clear();
    s.txEnd = 0;
}

void startWave(int waveId, unsigned mode, uint64_t at)
{
    State& s = state();
    const Wave& wave = s.waves[static_cast<size_t>(waveId)];
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
    markDriven(wave.pulses, at);
    s.timeline.push_back(std::move(segment));
}

void terminateNow(uint64_t at)
{
    State& s = state();
    abortTransmission(at);
    for (size_t id = 0; id < s.waves.size(); ++id) {
        if (!s.waves[id].deleted) {
            s.neverDeleted.push_back(static_cast<int>(id));
        }
    }
    s.waves.clear();
    s.pending.clear();
    s.initialised = false;
    writeVcd(at);
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
        if (waves[id].deleted && waves[id].cbs == cbs && waves[id].ools == ools) {
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
    wave.serial = ++s.createdCount;
    wave.pulses.swap(s.pending);
    s.lastCreated = wave.pulses;
    s.waves[static_cast<size_t>(id)] = std::move(wave);
    return id;
}

int deleteWave(unsigned waveId)
{
    State& s = state();
    if (waveId >= s.waves.size() || s.waves[waveId].deleted) {
        complain("gpioWaveDelete", "bad wave id (%u)", waveId);
        return PI_BAD_WAVE_ID;
    }
    const uint64_t at = nowMicros();
    playUntil(at);
    if (beingSent(s.waves[waveId].serial, at)) {
        logWarning(at, format("gpioWaveDelete: wave %u is still being sent; on a Pi its "
                              "control blocks may be overwritten mid-flight",
                              waveId));
    }
    s.waves[waveId].deleted = true;
    s.waves[waveId].pulses.clear();
    // Resources come back only from the top: while the highest id is deleted.
    while (!s.waves.empty() && s.waves.back().deleted) {
        s.waves.pop_back();
    }
    return 0;
}

void clearWaves()
{
    State& s = state();
    const uint64_t at = nowMicros();
    playUntil(at);
    if (sending(at)) {
        logWarning(at, "gpioWaveClear: a wave is still being sent; on a Pi its control "
                       "blocks may be overwritten mid-flight");
    }
    s.pending.clear();
    s.waves.clear();
}

// ---- reset and environment -----------------------------------------------------------

namespace {

void note(const char* fmt, const char* name, const char* value)
{
    complain("pigpio stand-in", fmt, name, value);
}

// An integer in the whole of `text`, or false.
bool parseInt(const char* text, long& value)
{
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= INT_MIN && value <= INT_MAX;
}

// PIGPIO_SIM_FAIL_WAVE_* : a negative pigpio error code, else 0 (with a note).
int negativeCode(const char* name)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    long value = 0;
    if (!parseInt(text, value) || value >= 0) {
        note("ignoring %s=%s: want a negative pigpio error code", name, text);
        return 0;
    }
    return static_cast<int>(value);
}

// A variable that is 1 (or any non-zero integer) or 0; unset, empty or malformed is 0.
int flag(const char* name, const char* want)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    long value = 0;
    if (!parseInt(text, value)) {
        complain("pigpio stand-in", "ignoring %s=%s: want %s", name, text, want);
        return 0;
    }
    return value != 0 ? 1 : 0;
}

int failInitFlag()
{
    return flag("PIGPIO_SIM_FAIL_INIT", "1 (fail) or 0");
}

bool simulateOnPiFlag()
{
    return flag("PIGPIO_SIM_ON_PI", "1 (simulate on a Raspberry Pi too) or 0") != 0;
}

// The first line of a model file, up to its NUL (the device tree ends the string
// with one) or line end, with anything unprintable shown as '?'; empty if unreadable.
std::string modelIn(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string();
    }
    std::array<char, 128> buffer{};
    ssize_t n = -1;
    do {
        n = ::read(fd, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    std::string model;
    for (ssize_t i = 0; i < n; ++i) {
        const char c = buffer[static_cast<size_t>(i)];
        if (c == '\0' || c == '\n') {
            break;
        }
        model += std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?';
    }
    return model;
}

// PIGPIO_SIM_SIGNAL=SIGNO@MICROS: a signal number (1-64) and a time after the send
// of at most about 11.6 days, so that the sums on the clock stay in range.
PlannedSignal plannedSignal()
{
    const char* name = "PIGPIO_SIM_SIGNAL";
    const char* text = std::getenv(name);
    PlannedSignal planned;
    if (text == nullptr || *text == '\0') {
        return planned;
    }
    const char* at = std::strchr(text, '@');
    long signo = 0;
    errno = 0;
    char* end = nullptr;
    const unsigned long long micros =
        at != nullptr && std::isdigit(static_cast<unsigned char>(at[1])) != 0
            ? std::strtoull(at + 1, &end, 10)
            : 0;
    const bool good = at != nullptr && end != nullptr && *end == '\0' && errno == 0 &&
                      micros <= 1000000000000ull &&
                      parseInt(std::string(text, at).c_str(), signo) && signo >= 1 && signo <= 64;
    if (!good) {
        note("ignoring %s=%s: want SIGNAL@MICROS, e.g. 2@3000 (SIGINT 3 ms after the send)", name,
             text);
        return planned;
    }
    planned.signo = static_cast<int>(signo);
    planned.afterSendMicros = micros;
    return planned;
}

bool virtualClockWanted()
{
    const char* name = "PIGPIO_SIM_CLOCK";
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0' || std::strcmp(text, "real") == 0) {
        return false;
    }
    if (std::strcmp(text, "virtual") == 0) {
        return true;
    }
    note("ignoring %s=%s: want real or virtual", name, text);
    return false;
}

} // namespace

std::string raspberryPiModel(const std::string& modelFile)
{
    std::string model;
    if (!modelFile.empty()) {
        model = modelIn(modelFile.c_str());
    } else {
        for (const char* path :
             {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model"}) {
            model = modelIn(path);
            if (!model.empty()) {
                break;
            }
        }
    }
    const std::string pi = "Raspberry Pi";
    return model.compare(0, pi.size(), pi) == 0 ? model : std::string();
}

void readEnvironment()
{
    State& s = state();
    s.virtualClock = virtualClockWanted();
    s.faults.failInit = failInitFlag();
    s.faults.failInitSource = "PIGPIO_SIM_FAIL_INIT";
    s.faults.waveCreate = negativeCode("PIGPIO_SIM_FAIL_WAVE_CREATE");
    s.faults.waveTxSend = negativeCode("PIGPIO_SIM_FAIL_WAVE_TX_SEND");
    s.simulateOnPi = simulateOnPiFlag();
    const char* model = std::getenv("PIGPIO_SIM_MODEL_FILE");
    s.modelFile = model != nullptr ? model : "";
    s.signal = plannedSignal();
    const char* vcd = std::getenv("PIGPIO_SIM_VCD");
    s.vcdPath = vcd != nullptr ? vcd : "";
    openLog(std::getenv("PIGPIO_SIM_LOG"));
    if (!s.virtualClock) {
        writeOrigin(std::getenv("PIGPIO_SIM_ORIGIN"), s.originNs);
    }
}

void resetAll()
{
    restoreSignalHandlers();
    State& s = state();
    const int logFd = s.logFd;
    s = State();
    s.logFd = logFd; // openLog closes or reuses it
    s.originNs = monotonicNs();
    readEnvironment();
}

} // namespace pigpio_sim
