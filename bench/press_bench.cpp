// What beam spends on a press before pigpio sees it: reading or encoding the
// durations, counting the records (the refusal check) and expanding them with the
// transmitter's buildPress; and, in the same run, a plain loop storing as many
// records, which no expansion can beat.  Nothing here touches pigpio.
#include <cstddef>
#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "parse.h"
#include "press.h"
#include "protocols.h"
#include "transmitter.h"

namespace {

// The longest press the repo's inputs make: an air conditioner's 200-bit
// pulse-distance frame, as ir-ctl writes a capture of it.  Nominal timings
// (lead 3500/1750, bit mark 430, spaces 430 and 1290), 403 durations, 89930 us of
// mark at 38 kHz.  A real capture jitters by tens of microseconds, which moves a
// record or two and not the cost.
std::string airConditionerText()
{
    // 25 bytes in the layout such remotes use: a fixed header, mode, temperature,
    // fan and vane settings, timers and a checksum.
    const std::uint8_t payload[25] = {0x23, 0xcb, 0x26, 0x01, 0x00, 0x20, 0x08, 0x06, 0x30,
                                      0x45, 0x67, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x24,
                                      0x80, 0x0c, 0x00, 0x41, 0x00, 0x00, 0x5b};
    std::string text = "+3500 -1750";
    int column = 0;
    for (const std::uint8_t byte : payload) {
        for (int bit = 0; bit < 8; ++bit) {
            text += (column++ % 8 == 0) ? "\n" : " ";
            text += ((byte >> bit) & 1U) != 0 ? "+430 -1290" : "+430 -430";
        }
    }
    text += " +430\n";
    return text;
}

constexpr std::size_t airConditionerDurations = 403;

// The records each press expands to, checked before timing so that a change in
// the inputs or the expansion cannot pass as a change in speed.
constexpr int32_t airConditionerRecords = 6899;
constexpr int32_t necRepeatsRecords = 4287;
constexpr int32_t rc6MceRecords = 1441;

void perRecord(benchmark::State& state, int32_t records)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
}

// The count check and the expansion, as beam runs them once it holds the press.
int32_t expand(const Press& press, PulseBuffer& pulses)
{
    const int64_t needed = pressPulseCount(press.carrierHz, press.dutyCycle, press.durations.data(),
                                           press.durations.size());
    if (needed > maxFramePulses) {
        return maxFramePulses + 1;
    }
    return buildPress(necFrame::gpioPin, press.carrierHz, press.dutyCycle, press.durations.data(),
                      press.durations.size(), pulses);
}

bool parseAirConditioner(const std::string& text, Press* press)
{
    std::uint32_t droppedUs = 0;
    std::string error;
    return parseRaw(text, press, &droppedUs, &error) == 0;
}

// Parsing alone: the text to durations, a fresh Press each time as in beam.
void rawParse(benchmark::State& state)
{
    const std::string text = airConditionerText();
    Press check;
    if (!parseAirConditioner(text, &check) || check.durations.size() != airConditionerDurations) {
        state.SkipWithError("not the air conditioner's 403 durations");
        return;
    }
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        Press press;
        const bool ok = parseAirConditioner(text, &press);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(press.durations.data());
        benchmark::ClobberMemory();
    }
}

// Expanding alone: the parsed durations to records.
void rawExpand(benchmark::State& state)
{
    Press press;
    if (!parseAirConditioner(airConditionerText(), &press)) {
        state.SkipWithError("the air conditioner's text does not parse");
        return;
    }
    PulseBuffer pulses;
    if (expand(press, pulses) != airConditionerRecords) {
        state.SkipWithError("not the air conditioner's records");
        return;
    }
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(press.durations.data());
        int32_t count = expand(press, pulses);
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state, airConditionerRecords);
}

// The whole of it for --raw: text to records.
void rawPress(benchmark::State& state)
{
    const std::string text = airConditionerText();
    PulseBuffer pulses;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        Press press;
        int32_t count = parseAirConditioner(text, &press) ? expand(press, pulses) : -1;
        if (count != airConditionerRecords) {
            state.SkipWithError("not the air conditioner's records");
            break;
        }
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state, airConditionerRecords);
}

// The whole of it for -S: the kernel's encoder to records.
void kernelScancodePress(benchmark::State& state, const char* protocolName, uint32_t scancode,
                         int repeats, int32_t records)
{
    const KernelProtocol* protocol = findKernelProtocol(protocolName);
    if (protocol == nullptr) {
        state.SkipWithError("no such protocol");
        return;
    }
    PulseBuffer pulses;
    std::string error;
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(scancode);
        Press press;
        int32_t count = kernelPress(*protocol, scancode, 0, repeats, &press, &error) == 0
                            ? expand(press, pulses)
                            : -1;
        if (count != records) {
            state.SkipWithError("not the press's records");
            break;
        }
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state, records);
}

// The bound: as many records stored by a plain loop from two values held in
// registers, a carrier's on and off records in turn; no loads, no decisions.
void storeBound(benchmark::State& state)
{
    const auto records = static_cast<int32_t>(state.range(0));
    const uint32_t line = 1U << necFrame::gpioPin;
    PulseBuffer pulses;
    for ([[maybe_unused]] auto _ : state) {
        gpioPulse_t on{line, 0, 13};
        gpioPulse_t off{0, line, 13};
        benchmark::DoNotOptimize(on);
        benchmark::DoNotOptimize(off);
        for (int32_t i = 0; i + 1 < records; i += 2) {
            pulses[static_cast<size_t>(i)] = on;
            pulses[static_cast<size_t>(i) + 1] = off;
        }
        if (records % 2 != 0) {
            pulses[static_cast<size_t>(records - 1)] = on;
        }
        benchmark::DoNotOptimize(pulses.data());
        benchmark::ClobberMemory();
    }
    perRecord(state, records);
}

} // namespace

BENCHMARK(rawParse);
BENCHMARK(rawExpand);
BENCHMARK(rawPress);
BENCHMARK_CAPTURE(kernelScancodePress, nec_3_repeats, "nec", 0x45, 3, necRepeatsRecords);
BENCHMARK_CAPTURE(kernelScancodePress, rc6_mce, "rc6_mce", 0x800f040c, 0, rc6MceRecords);
BENCHMARK(storeBound)->Arg(airConditionerRecords)->Arg(necRepeatsRecords)->Arg(rc6MceRecords);

BENCHMARK_MAIN();
