// Shared set-up for the stand-in's tests: a fresh library on the virtual clock.
#ifndef PIGPIO_SIM_TEST_H
#define PIGPIO_SIM_TEST_H

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pigpio_sim.h"

using Edges = std::vector<std::pair<uint64_t, int>>;
using Pulses = std::vector<gpioPulse_t>;

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

/* Clears every PIGPIO_SIM_* variable but PIGPIO_SIM_ON_PI=1, then resets onto the
 * virtual clock. */
void freshLibrary();
/* Advances the virtual clock by whole microseconds. */
void sleepMicros(uint64_t micros);

Edges edgesOf(unsigned gpio);
std::vector<std::string> callLog();
std::string readFile(const std::string& path);
std::string tempPath(const std::string& name);

/* `pulses` pulses of 13 us on one line, on and off in turn, then `delays` pure delays. */
Pulses carrier(unsigned gpio, int pulses, int delays = 0);
/* Adds the pulses and creates a wave: the id, or pigpio's error. */
int makeWave(Pulses pulses);

#endif
