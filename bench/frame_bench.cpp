// How long expanding a 32-bit NEC frame into pulse records takes, and how long
// merely writing the same records takes: the least any expansion could cost.
//
// The build runs the carrierFrequency/gap sequence that emitCode runs, without
// sending anything, so nothing here touches pigpio.
#include <cstdint>
#include <cstring>

#include <benchmark/benchmark.h>

#include "transmitter.h"

namespace {

constexpr const char* exampleCode = "00000000111111111010001001011101";
constexpr const char* allOnes = "11111111111111111111111111111111";
constexpr int32_t framePulses = 2103;

// emitCode's expansion, step for step, for the senders' NEC frame.
int32_t buildFrame(const char* code, gpioPulse_t* pulses)
{
    using namespace necFrame;
    int32_t pulseCount = 0;
    const double hz = carrierHz;
    const size_t length = std::strlen(code);
    carrierFrequency(gpioPin, hz, dutyCycle, leadBurstUs, pulses, &pulseCount);
    gap(leadGapUs, pulses, &pulseCount);
    for (size_t i = 0; i < length; ++i) {
        if (code[i] == '0') {
            carrierFrequency(gpioPin, hz, dutyCycle, zeroBurstUs, pulses, &pulseCount);
            gap(zeroGapUs, pulses, &pulseCount);
        } else if (code[i] == '1') {
            carrierFrequency(gpioPin, hz, dutyCycle, oneBurstUs, pulses, &pulseCount);
            gap(oneGapUs, pulses, &pulseCount);
        }
    }
    if (trailBurst != 0) {
        carrierFrequency(gpioPin, hz, dutyCycle, oneBurstUs, pulses, &pulseCount);
    }
    return pulseCount;
}

uint64_t airtimeUs(const gpioPulse_t* pulses, int32_t count)
{
    uint64_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        sum += pulses[i].usDelay;
    }
    return sum;
}

void perRecord(benchmark::State& state)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * framePulses);
}

// The frame measured must be the one the senders send: 2103 records and the
// airtime docs/performance.md gives.
void buildFrameBench(benchmark::State& state, const char* code, uint64_t airtime)
{
    PulseBuffer pulses;
    const int32_t built = buildFrame(code, pulses.data());
    if (built != framePulses || airtimeUs(pulses.data(), built) != airtime) {
        state.SkipWithError("not the senders' frame");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(code);
        int32_t count = buildFrame(code, pulses.data());
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    perRecord(state);
}

// The bound: the frame's records copied one by one with a plain loop of stores.
void storeRecords(benchmark::State& state)
{
    PulseBuffer frame;
    buildFrame(exampleCode, frame.data());
    PulseBuffer pulses;
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame.data());
        for (int32_t i = 0; i < framePulses; ++i) {
            pulses[static_cast<size_t>(i)] = frame[static_cast<size_t>(i)];
        }
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state);
}

// A tighter bound: as many records stored from two values held in registers, with
// no loads at all (the carrier's on and off records, in turn).
void storeCarrier(benchmark::State& state)
{
    const uint32_t line = 1U << necFrame::gpioPin;
    PulseBuffer pulses;
    for (auto _ : state) {
        gpioPulse_t on{line, 0, 13};
        gpioPulse_t off{0, line, 13};
        benchmark::DoNotOptimize(on);
        benchmark::DoNotOptimize(off);
        for (int32_t i = 0; i + 1 < framePulses; i += 2) {
            pulses[static_cast<size_t>(i)] = on;
            pulses[static_cast<size_t>(i + 1)] = off;
        }
        pulses[framePulses - 1] = on;
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state);
}

} // namespace

BENCHMARK_CAPTURE(buildFrameBench, exampleCode, exampleCode, 67410);
BENCHMARK_CAPTURE(buildFrameBench, allOnes, allOnes, 85426);
BENCHMARK(storeRecords);
BENCHMARK(storeCarrier);

BENCHMARK_MAIN();
