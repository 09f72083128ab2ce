/*
 * pigpio's rules that every implementation of its interface in this project keeps
 * alike: how gpioWaveAddGeneric merges and limits pulses, and how the library
 * complains on standard error.  Linked into each libpigpio.so.1 and hidden there.
 */
#ifndef PIGPIO_RULES_H
#define PIGPIO_RULES_H

#include <cstddef>
#include <vector>

#include "pigpio.h"

namespace pigpio_rules {

/* The pending pulses and the added ones merged as two timelines from t=0. */
std::vector<gpioPulse_t> mergePulses(const std::vector<gpioPulse_t>& pending,
                                     const gpioPulse_t* added, size_t count);

/* gpioWaveAddGeneric after its initialisation check: merges the pulses into the
 * pending ones and returns their total, or refuses as pigpio does (too many pulses,
 * a null pointer), leaving the pending pulses as they were. */
int addPulses(std::vector<gpioPulse_t>& pending, unsigned numPulses, const gpioPulse_t* pulses);

/* A line on stderr in the real library's style: "YYYY-MM-DD HH:MM:SS fn: text". */
void complain(const char* fn, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

/* What every call that needs gpioInitialise says and returns before it. */
int notInitialised(const char* fn);

} // namespace pigpio_rules

#endif
