#include "sim_helpers.h"

#include <cstdlib>
#include <cstring>

#include <pigpio_sim.h>

#include "run_program.h"

// POSIX has the program declare it; glibc's <unistd.h> does so only with _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

void freshSim()
{
    // Names first: unsetenv changes the array being read.
    std::vector<std::string> names;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "PIGPIO_SIM_", 11) == 0) {
            const char* equals = std::strchr(*e, '=');
            names.emplace_back(*e, equals != nullptr ? static_cast<size_t>(equals - *e)
                                                     : std::strlen(*e));
        }
    }
    for (const std::string& name : names) {
        unsetenv(name.c_str());
    }
    setenv("PIGPIO_SIM_ON_PI", "1", 1);
    setenv("PIGPIO_SIM_LOCK_FILE", simLockFile().c_str(), 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
}

std::vector<std::string> callLog()
{
    std::vector<std::string> calls;
    calls.reserve(static_cast<size_t>(pigpioSimCallCount()));
    for (int i = 0; i < pigpioSimCallCount(); ++i) {
        calls.emplace_back(pigpioSimCall(i));
    }
    return calls;
}

std::vector<gpioPulse_t> createdPulses()
{
    int count = 0;
    const gpioPulse_t* pulses = pigpioSimWavePulses(&count);
    return {pulses, pulses + count};
}
