// Shared set-up for the stand-in's tests: a fresh library on the virtual clock
// (tests/support/sim_fixture.h), and the waves and readings they build on.
#ifndef PIGPIO_SIM_TEST_H
#define PIGPIO_SIM_TEST_H

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "pigpio_sim.h"
#include "sim_fixture.h"

using Edges = std::vector<std::pair<uint64_t, int>>;
using Pulses = std::vector<gpioPulse_t>;

using SimTest = FreshSim;

/* Advances the virtual clock by whole microseconds. */
void sleepMicros(uint64_t micros);

Edges edgesOf(unsigned gpio);

/* `pulses` pulses of 13 us on one line, on and off in turn, then `delays` pure delays. */
Pulses carrier(unsigned gpio, int pulses, int delays = 0);
/* Adds the pulses and creates a wave: the id, or pigpio's error. */
int makeWave(Pulses pulses);

#endif
