#include "sim_test.h"

void sleepMicros(uint64_t micros)
{
    time_sleep(static_cast<double>(micros) / 1e6);
}

Edges edgesOf(unsigned gpio)
{
    Edges edges;
    for (int i = 0; i < pigpioSimEdgeCount(gpio); ++i) {
        uint64_t at = 0;
        int level = -1;
        EXPECT_EQ(pigpioSimEdge(gpio, i, &at, &level), 0);
        edges.emplace_back(at, level);
    }
    return edges;
}

Pulses carrier(unsigned gpio, int pulses, int delays)
{
    Pulses out;
    for (int i = 0; i < pulses; ++i) {
        out.push_back(i % 2 == 0 ? gpioPulse_t{1u << gpio, 0, 13} : gpioPulse_t{0, 1u << gpio, 13});
    }
    for (int i = 0; i < delays; ++i) {
        out.push_back({0, 0, 100});
    }
    return out;
}

int makeWave(Pulses pulses)
{
    const int added = gpioWaveAddGeneric(static_cast<unsigned>(pulses.size()), pulses.data());
    return added < 0 ? added : gpioWaveCreate();
}
