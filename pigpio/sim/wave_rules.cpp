// pigpio's arithmetic on pulse lists: the DMA control blocks (CBs) and out-of-line
// words (OOLs) a created wave needs.  Merging is in pigpio/rules, shared with the
// kernel transmitter library.
#include "sim_core.h"

namespace pigpio_sim {

int waveCbs(const std::vector<gpioPulse_t>& pulses)
{
    int cbs = 1; // the fixed start delay
    for (const gpioPulse_t& pulse : pulses) {
        cbs += (pulse.gpioOn | pulse.gpioOff) != 0 ? 1 : 0;
        cbs += pulse.usDelay != 0 ? 1 : 0;
    }
    return cbs;
}

int waveOols(const std::vector<gpioPulse_t>& pulses)
{
    int ools = 0;
    for (const gpioPulse_t& pulse : pulses) {
        ools += pulse.gpioOn != 0 ? 1 : 0;
        ools += pulse.gpioOff != 0 ? 1 : 0;
    }
    return ools;
}

} // namespace pigpio_sim
