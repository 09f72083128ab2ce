/*
 * What every implementation of pigpio's interface in this project keeps alike:
 * pigpio's rules (how gpioWaveAddGeneric merges and limits pulses, how the calls
 * check their arguments and complain on standard error, how wave ids are kept,
 * what time_sleep takes) and the few system helpers they all need.  Linked into
 * each libpigpio.so.1 and hidden there.
 */
#ifndef PIGPIO_RULES_H
#define PIGPIO_RULES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pigpio.h"

namespace pigpio_rules {

// ---- waves -------------------------------------------------------------------------

/* The pending pulses and the added ones merged as two timelines from t=0. */
std::vector<gpioPulse_t> mergePulses(const std::vector<gpioPulse_t>& pending,
                                     const gpioPulse_t* added, size_t count);

/* gpioWaveAddGeneric after its initialisation check: merges the pulses into the
 * pending ones and returns their total, or refuses as pigpio does (too many pulses,
 * a null pointer), leaving the pending pulses as they were. */
int addPulses(std::vector<gpioPulse_t>& pending, unsigned numPulses, const gpioPulse_t* pulses);

/* A wave id is an index into the created waves whose slot is `used`.  A delete
 * frees its slot; pigpio lowers its top id past free slots only, so those below a
 * used one stay (each library has its own rule for filling them). */
template <typename Wave> bool waveInUse(const std::vector<Wave>& waves, unsigned waveId)
{
    return waveId < waves.size() && waves[waveId].used;
}

template <typename Wave> void freeWave(std::vector<Wave>& waves, unsigned waveId)
{
    waves[waveId].used = false;
    while (!waves.empty() && !waves.back().used) {
        waves.pop_back();
    }
}

// ---- argument checks: each 0, or pigpio's error code after pigpio's complaint -----

/* What every call that needs gpioInitialise says and returns before it. */
int notInitialised(const char* fn);
/* PI_BAD_GPIO above 53. */
int checkGpio(const char* fn, unsigned gpio);
/* gpioSetMode's: the gpio, then the mode (PI_BAD_MODE above PI_ALT3). */
int checkSetMode(unsigned gpio, unsigned mode);
/* gpioWrite's: the gpio, then the level (PI_BAD_LEVEL above 1). */
int checkWrite(unsigned gpio, unsigned level);
/* PI_BAD_WAVE_ID for an id not in use. */
int checkWaveId(const char* fn, bool inUse, unsigned waveId);
/* gpioWaveTxSend's: PI_BAD_WAVE_MODE for a mode it does not know. */
int checkWaveMode(unsigned mode);

// ---- time --------------------------------------------------------------------------

/* What time_sleep sleeps: nothing (0) for no time or not a number; at most about
 * 31 years, to keep the sums in range. */
double sleepLength(double seconds);

uint64_t monotonicNs();
/* Sleeps until CLOCK_MONOTONIC reaches `deadlineNs`, sleeping on after a signal
 * whose handler returns. */
void sleepUntil(uint64_t deadlineNs);

// ---- text --------------------------------------------------------------------------

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/* The whole text in as few writes as the system allows: one, for a line, so that
 * lines of several writers never interleave. */
void writeAll(int fd, const std::string& text);

/* A line on stderr in the real library's style: "YYYY-MM-DD HH:MM:SS fn: text". */
void complain(const char* fn, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

/* The first bytes of a small file (a device-tree property), at most `most`; empty
 * when it cannot be read. */
std::string fileStart(const char* path, size_t most);

} // namespace pigpio_rules

#endif
