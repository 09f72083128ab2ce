// A program that ends in a given state, for the tests of the end-of-process report
// and of pigpio's signal handlers.  Run with PIGPIO_SIM_CLOCK=virtual; the scenario
// is the only argument.
#include <cstring>
#include <vector>

#include "pigpio.h"

namespace {

constexpr unsigned kGpio = 24;

int sendCarrier(int pairs)
{
    std::vector<gpioPulse_t> pulses;
    for (int i = 0; i < pairs; ++i) {
        pulses.push_back({1u << kGpio, 0, 13});
        pulses.push_back({0, 1u << kGpio, 13});
    }
    gpioSetMode(kGpio, PI_OUTPUT);
    gpioWaveAddGeneric(static_cast<unsigned>(pulses.size()), pulses.data());
    const int id = gpioWaveCreate();
    gpioWaveTxSend(static_cast<unsigned>(id), PI_WAVE_MODE_ONE_SHOT);
    return id;
}

} // namespace

int main(int argc, char** argv)
{
    const char* scenario = argc > 1 ? argv[1] : "";
    if (gpioInitialise() < 0) {
        return 1;
    }
    const bool clean = std::strcmp(scenario, "clean") == 0;
    const bool longer = std::strcmp(scenario, "long") == 0;
    const bool thenSleep = std::strcmp(scenario, "long-then-sleep") == 0;
    if (clean || longer || thenSleep) {
        const int id = sendCarrier(clean ? 3 : 100); // 78 or 2620 us
        while (gpioWaveTxBusy() > 0) {
            time_sleep(0.1);
        }
        gpioWaveDelete(static_cast<unsigned>(id));
        gpioTerminate();
        if (thenSleep) {
            time_sleep(0.1);
        }
    } else if (std::strcmp(scenario, "abandoned") == 0) {
        sendCarrier(100);     // 2620 us
        time_sleep(0.001008); // the 77th on pulse has just started
    } else if (std::strcmp(scenario, "high") == 0) {
        gpioWrite(kGpio, 1);
        gpioTerminate();
    } else {
        return 2;
    }
    return 0;
}
