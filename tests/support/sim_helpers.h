// The pigpio stand-in as tests in its own process use it: a fresh one, and what
// they read back from it.  GoogleTest's fixture for it is in sim_fixture.h.
#ifndef BEAM_TESTS_SIM_HELPERS_H
#define BEAM_TESTS_SIM_HELPERS_H

#include <string>
#include <vector>

#include <pigpio.h>

// Unsets every PIGPIO_SIM_* variable, whether the caller's environment or an
// earlier test set it, then sets PIGPIO_SIM_ON_PI=1 (a simulation, on a Raspberry
// Pi too; programs the test starts inherit it) and the harness's own lock file
// (simLockFile), and resets the stand-in onto its virtual clock.
void freshSim();

// The stand-in's call log, first call first.
std::vector<std::string> callLog();

// The records of the wave created last; none when no wave was.
std::vector<gpioPulse_t> createdPulses();

#endif
