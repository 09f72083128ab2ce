// How long expanding a 32-bit NEC frame into pulse records takes, and how long
// merely writing the same records takes: the least any expansion could cost.
//
// The build is the transmitter's buildFrame, the expansion emitCode runs before
// it sends, so nothing here touches pigpio.
#include <cstdint>
#include <cstring>

#include <benchmark/benchmark.h>

#include "transmitter.h"

namespace {

constexpr const char* exampleCode = "00000000111111111010001001011101";
constexpr const char* allOnes = "11111111111111111111111111111111";
constexpr int32_t framePulses = 2103;

// The senders' frame for code, built by the transmitter's own buildFrame; the
// length is measured here as emitCode measures it before building.
int32_t buildNecFrame(const char* code, PulseBuffer& pulses)
{
    using namespace necFrame;
    return buildFrame(gpioPin, carrierHz, dutyCycle, leadBurstUs, leadGapUs, oneBurstUs,
                      zeroBurstUs, oneGapUs, zeroGapUs, trailBurst, code, std::strlen(code),
                      pulses);
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
    const int32_t built = buildNecFrame(code, pulses);
    if (built != framePulses || airtimeUs(pulses.data(), built) != airtime) {
        state.SkipWithError("not the senders' frame");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(code);
        int32_t count = buildNecFrame(code, pulses);
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    perRecord(state);
}

// The bound: the frame's records copied one by one with a plain loop of stores.
void storeRecords(benchmark::State& state)
{
    PulseBuffer frame;
    buildNecFrame(exampleCode, frame);
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
