// pigpio's arithmetic on pulse lists: merging in gpioWaveAddGeneric and the DMA
// control blocks (CBs) and out-of-line words (OOLs) a created wave needs.
#include <algorithm>

#include "sim_core.h"

namespace pigpio_sim {

namespace {

// Walks one pulse list, knowing the time (from t=0) at which the next pulse is due.
struct Cursor {
    const gpioPulse_t* pulses;
    size_t count;
    size_t index = 0;
    uint64_t at = 0;

    bool done() const
    {
        return index == count;
    }
    const gpioPulse_t& take()
    {
        const gpioPulse_t& pulse = pulses[index++];
        at += pulse.usDelay;
        return pulse;
    }
};

void addMasks(gpioPulse_t& into, const gpioPulse_t& from)
{
    into.gpioOn |= from.gpioOn;
    into.gpioOff |= from.gpioOff;
}

} // namespace

std::vector<gpioPulse_t> mergePulses(const std::vector<gpioPulse_t>& pending,
                                     const gpioPulse_t* added, size_t count)
{
    Cursor a{pending.data(), pending.size()};
    Cursor b{added, count};
    std::vector<gpioPulse_t> merged;
    std::vector<uint64_t> due;
    merged.reserve(pending.size() + count);
    due.reserve(pending.size() + count);
    while (!a.done() || !b.done()) {
        const bool fromA = !a.done() && (b.done() || a.at <= b.at);
        const bool fromB = !b.done() && (a.done() || b.at <= a.at);
        gpioPulse_t pulse{};
        due.push_back(fromA ? a.at : b.at);
        if (fromA) {
            addMasks(pulse, a.take());
        }
        if (fromB) {
            addMasks(pulse, b.take());
        }
        merged.push_back(pulse);
    }
    // Each delay runs to the next pulse; the last one to the later of the two ends.
    // Both fit in 32 bits: neither is longer than some delay of the input lists.
    const uint64_t end = std::max(a.at, b.at);
    for (size_t i = 0; i < merged.size(); ++i) {
        const uint64_t until = i + 1 < merged.size() ? due[i + 1] : end;
        merged[i].usDelay = static_cast<uint32_t>(until - due[i]);
    }
    return merged;
}

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
