/*
 * The stand-in's inner parts, shared by its source files and hidden from users
 * (nothing here is exported from libpigpio.so.1).
 */
#ifndef PIGPIO_SIM_CORE_H
#define PIGPIO_SIM_CORE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "pigpio.h"
#include "pigpio_rules.h"

namespace pigpio_sim {

constexpr unsigned kGpioCount = PI_MAX_GPIO + 1;
constexpr unsigned kWaveGpioCount = PI_MAX_USER_GPIO + 1;
constexpr uint64_t kStartDelayMicros = 20;
constexpr uint64_t kForever = UINT64_MAX;

// The DMA pool that all created waves share, and the part of it kept for chains.
constexpr int kPoolCbs = 25016;
constexpr int kReservedCbs = 1180;
constexpr int kPoolOols = 16748;
constexpr int kReservedOols = 790;

// ---- wave_rules.cpp: pigpio's arithmetic on pulse lists -------------------------

int waveCbs(const std::vector<gpioPulse_t>& pulses);
int waveOols(const std::vector<gpioPulse_t>& pulses);

// ---- the state ---------------------------------------------------------------------

struct Edge {
    uint64_t at;
    int level;
};

struct Line {
    unsigned mode = PI_INPUT;
    int level = 0;
    bool driven = false; // made an output, or named in a sent wave's masks
    std::vector<Edge> edges;
};

struct Wave {
    std::vector<gpioPulse_t> pulses;
    int cbs = 0;
    int ools = 0;
    bool deleted = false;
    uint64_t serial = 0; // counts creates, unlike ids, which are reused
};

/* One sent wave on the transmit timeline. Record `next` of cycle `cycle` is due at
 * start + kStartDelayMicros + cycle * period + offsets[next]. */
struct Segment {
    uint64_t waveSerial = 0;
    std::vector<gpioPulse_t> pulses;
    std::vector<uint64_t> offsets;
    uint64_t start = 0;
    uint64_t period = 0;
    bool repeat = false;
    uint64_t stop = kForever; // a repeat plays no record due at or after this
    size_t next = 0;
    uint64_t cycle = 0;
};

struct Faults {
    int failInit = 0;
    std::string failInitSource;
    int waveCreate = 0;
    int waveTxSend = 0;
};

/* A signal the stand-in sends itself at a set time after the first wave's send
 * (PIGPIO_SIM_SIGNAL), so that tests can interrupt a send at an exact point. */
struct PlannedSignal {
    int signo = 0; // 0: none
    uint64_t afterSendMicros = 0;
    bool sent = false;
};

struct State {
    bool initialised = false;

    bool virtualClock = false;
    uint64_t virtualNow = 0;
    uint64_t originNs = 0;

    std::array<Line, kGpioCount> lines;

    std::vector<gpioPulse_t> pending;
    std::vector<Wave> waves; // index = wave id; deleted top entries are popped
    uint64_t createdCount = 0;
    std::vector<int> neverDeleted;
    std::vector<gpioPulse_t> lastCreated; // the most recently created wave's records

    std::deque<Segment> timeline;
    uint64_t txEnd = 0; // kForever while a repeat runs

    std::deque<std::string> calls;
    bool callsCapped = false;

    Faults faults;
    bool simulateOnPi = false; // PIGPIO_SIM_ON_PI
    std::string modelFile;     // PIGPIO_SIM_MODEL_FILE; empty: the device tree's
    PlannedSignal signal;
    bool signalHandlers = true; // gpioInitialise installs pigpio's
    bool waveSent = false;
    uint64_t firstSendAt = 0;
    std::string vcdPath;
    int logFd = -1;
};

State& state();

// ---- sim_state.cpp: clock, lines, playback, waves, reset ---------------------------

uint64_t nowMicros();
void useVirtualClock(bool on);
void sleepSeconds(double seconds);
double timeSeconds();

void resetAll();
void readEnvironment();

/* The board's model when the machine is a Raspberry Pi, else empty. */
std::string raspberryPiModel(const std::string& modelFile);

void playUntil(uint64_t at);
void setLevel(unsigned gpio, int level, uint64_t at);
bool sending(uint64_t at);
void abortTransmission(uint64_t at);
void startWave(int waveId, unsigned mode, uint64_t at);
void terminateNow(uint64_t at);

int createWave();
int deleteWave(unsigned waveId);
void clearWaves();

// ---- sim_signals.cpp: pigpio's signal handlers --------------------------------------

/* What gpioInitialise does: one handler for every signal pigpio catches. */
void installSignalHandlers();
/* Back to the dispositions from before the first install (a reset). */
void restoreSignalHandlers();
/* Sends the planned signal (PIGPIO_SIM_SIGNAL) now; logged first. */
void sendPlannedSignal(uint64_t at);

// ---- sim_output.cpp: messages, call log, trace, exit report ------------------------

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
/* A line on stderr in the real library's style: "YYYY-MM-DD HH:MM:SS fn: text". */
using pigpio_rules::complain;
/* The uninitialised check that guards every function needing gpioInitialise. */
bool initialisedFor(const char* fn);

void openLog(const char* path);
void recordCall(uint64_t at, const std::string& text);
void logWarning(uint64_t at, const std::string& text);
/* A line of the log file only, not a call: `<us> text`. */
void logEvent(uint64_t at, const std::string& text);

/* Where the real-time clock's 0 lies on CLOCK_MONOTONIC, for a process that times
 * the stand-in from outside (PIGPIO_SIM_ORIGIN). */
void writeOrigin(const char* path, uint64_t originNs);

std::string vcdText(uint64_t endAt);
void writeVcd(uint64_t endAt);

void reportAtExit();

} // namespace pigpio_sim

#endif
