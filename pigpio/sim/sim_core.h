/*
 * The stand-in's inner parts, shared by its source files and hidden from users
 * (nothing here is exported from libpigpio.so.1).  Its layers, by file:
 *
 *   pigpio_sim.cpp   the exported functions: check the arguments, log the call,
 *                    ask the state, report what it returns
 *   sim_signals.cpp  pigpio's signal handlers, which end the process as it does
 *   sim_controls.cpp the PIGPIO_SIM_* controls, faults among them, in one table
 *   sim_lock.cpp     pigpio's lock file, which one program holds at a time
 *   sim_state.cpp    the simulated Pi: clock, lines, playback, wave pool
 *   wave_rules.cpp   pigpio's DMA arithmetic on a wave
 *   sim_output.cpp   everything the stand-in writes
 *
 * The state and the controls never write: what is to be said, they return.
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

using pigpio_rules::format;

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

// ---- sim_state.cpp: the simulated Pi ---------------------------------------------

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
    bool used = false;   // false once deleted: its id may be reused
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
    uint64_t originNs = 0; // where the real-time clock's 0 lies on CLOCK_MONOTONIC

    std::array<Line, kGpioCount> lines;

    std::vector<gpioPulse_t> pending;
    std::vector<Wave> waves; // index = wave id
    uint64_t createdCount = 0;
    std::vector<int> neverDeleted;
    std::vector<gpioPulse_t> lastCreated; // the most recently created wave's records

    std::deque<Segment> timeline;
    uint64_t txEnd = 0; // kForever while a repeat runs

    PlannedSignal signal;
    bool waveSent = false;
    uint64_t firstSendAt = 0;
};

/* Read by the other layers, which change it through the functions below (and set
 * `initialised` and the pending pulses themselves). */
State& state();
/* A fresh state on the real-time clock, which reads 0 now. */
void resetState();

uint64_t nowMicros();
/* Keeps the current time, or starts the clock at 0 (right after a reset). */
void useVirtualClock(bool on, bool fromZero);
double timeSeconds();

/* time_sleep, in steps: a sleep that reaches the planned signal's time sleeps to it
 * in sleepToSignal (true), the caller sends the signal, and finishSleep sleeps on. */
struct Sleep {
    bool none = true;
    bool virtualClock = false;
    uint64_t end = 0; // the virtual clock's microseconds, or CLOCK_MONOTONIC's ns
};
Sleep startSleep(double seconds);
bool sleepToSignal(const Sleep& sleep);
void finishSleep(const Sleep& sleep);
void planSignal(int signo, uint64_t afterSendMicros);
/* Marks the planned signal sent and returns its number. */
int takePlannedSignal();

/* Each plays the sent waves up to `at` first. */
void playUntil(uint64_t at);
void setMode(unsigned gpio, unsigned mode, uint64_t at);
void writeLevel(unsigned gpio, int level, uint64_t at);
bool sending(uint64_t at);

/* The wave's id, or pigpio's error: empty, no room in the pool, no id left. */
int createWave();
/* Each says whether it took a wave that was still being sent. */
bool deleteWave(unsigned waveId, uint64_t at);
bool clearWaves(uint64_t at);
struct Sent {
    int cbs = 0;             // gpioWaveTxSend's result
    uint32_t notOutputs = 0; // the lines the wave switches that are not outputs
};
Sent sendWave(unsigned waveId, unsigned mode, uint64_t at);
/* Cuts off what is being sent and drops the waves; lines keep their levels. */
void terminate(uint64_t at);

// ---- sim_controls.cpp: the PIGPIO_SIM_* controls ------------------------------------

struct Setting {
    int number = 0;      // a flag (0 or 1), an error code, the clock (1: virtual), a signal
    uint64_t micros = 0; // the signal's time after the send
    std::string text;    // a path
    std::string source;  // what set it: the variable, or a function of pigpio_sim.h
};

/* A value that was ignored, for the note that says so. */
struct Malformed {
    const char* name;
    std::string value;
    const char* want;
};

/* Every control back to its variable, or its default where that is unset, empty or
 * malformed: the malformed ones, in the table's order. */
std::vector<Malformed> readControls();
/* A control by its variable's name. */
const Setting& control(const char* name);

/* What an injected fault makes `call` return in place of its own result (0: none),
 * and what set the fault. */
struct Injected {
    int result = 0;
    std::string source;
};
Injected injectedFault(const char* call);
/* Sets a fault as its variable would (a value the variable would ignore clears it);
 * -1 for a name that is no fault. */
int setFault(const char* name, int value, const char* source);

/* Whether gpioInitialise installs pigpio's signal handlers (true after a reset). */
bool signalHandlersWanted();
void wantSignalHandlers(bool install);

/* The board's model when the machine is a Raspberry Pi, else empty. */
std::string raspberryPiModel(const std::string& modelFile);

// ---- sim_lock.cpp: pigpio's lock file ----------------------------------------------

/* The lock file: `named` (PIGPIO_SIM_LOCK_FILE), else $XDG_RUNTIME_DIR/pigpio-sim.pid,
 * else ${TMPDIR:-/tmp}/pigpio-sim-UID.pid. */
std::string lockPath(const std::string& named);
/* Creates it (a stale one, whose pid is dead, removed first) and holds it; false
 * where it exists (another program holds it) or cannot be made. */
bool takeLock(const std::string& path);
/* Removes the file held, if any. */
void releaseLock();

// ---- sim_signals.cpp: pigpio's signal handlers --------------------------------------

/* What gpioInitialise does: one handler for every signal pigpio catches. */
void installSignalHandlers();
/* Back to the dispositions from before the first install (a reset). */
void restoreSignalHandlers();
/* Through the process's real mask: a blocked signal stays pending. */
void raiseSignal(int signo);

// ---- sim_output.cpp: messages, call log, trace, exit report ------------------------

/* Empties the in-memory call log, and names the log and trace files. */
void resetOutput(const std::string& logPath, const std::string& vcdPath);
void recordCall(uint64_t at, const std::string& text);
const std::deque<std::string>& loggedCalls();

void noteIgnored(const Malformed& value);
void refuseOnPi(const std::string& model);
void refuseInitialise(const std::string& source);
void refuseLock(const std::string& path);

void warnNotAnOutput(uint64_t at, unsigned gpio);
void warnDeletedWhileSent(uint64_t at, unsigned waveId);
void warnClearedWhileSent(uint64_t at);
void reportPlannedSignal(uint64_t at, int signo);
void reportUnhandledSignal(uint64_t at, int signo);

/* Where the real-time clock's 0 lies on CLOCK_MONOTONIC, for a process that times
 * the stand-in from outside (PIGPIO_SIM_ORIGIN). */
void writeOrigin(const std::string& path, uint64_t originNs);
void writeVcd(uint64_t endAt);

/* `initialised`: pigpio was still initialised (and was terminated at `at`);
 * `cutOff`: a wave was being sent then. */
void reportAtExit(uint64_t at, bool initialised, bool cutOff);
/* The last line of a process that sent a wave with neither a trace nor a log asked for. */
void noteSimulatedSend();

} // namespace pigpio_sim

#endif
