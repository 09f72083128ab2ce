// libFuzzer target: emitCode with any code string and any frame parameters its
// interface accepts, against the pigpio stand-in in this process.
//
// Input, front to back (missing bytes read as 0):
//   fault byte          % 3: none, gpioWaveCreate fails, gpioWaveTxSend fails
//   GPIO                selector % 4: 24 | 0..39 | an edge (31, 32, 53, 2^32-1...) | raw 4 bytes
//   carrier, Hz         selector % 4: 38000 | -1000..64535 | an edge (0, -1, INT32_MAX...) | raw
//   duty cycle          selector % 4: 0.5 | -0.5..2.05 | an edge (NaN, infinities, 1e300...) | raw
//   8 bytes lead burst, lead gap, one burst, zero burst, one gap, zero gap, us:
//                       selector % 4: the NEC length | -1000..64535 | an edge | raw 4 bytes
//   trailing burst      selector % 4: 1 | 0 | an edge (INT32_MIN, -1, 2) | raw 4 bytes
//   the rest            the code (up to its first NUL, as emitCode sees a C string)
// Each selector or payload is one byte unless said otherwise.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <pigpio_sim.h>

#include "fuzz_checks.h"
#include "transmitter.h"

namespace {

// Reads the input from the front; past its end every byte is 0.
struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    uint8_t byte()
    {
        return at < size ? data[at++] : 0;
    }
    uint64_t raw(size_t count)
    {
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }
    template <typename T, size_t n> T pick(const T (&choices)[n])
    {
        return choices[byte() % n];
    }
    std::string rest() const
    {
        const size_t from = at < size ? at : size;
        return std::string(reinterpret_cast<const char*>(data) + from, size - from);
    }
};

int32_t int32From(uint64_t bits)
{
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

uint32_t anyGpio(Bytes& in)
{
    const uint32_t edges[] = {0, 31, 32, 53, 54, 63, 64, UINT32_MAX};
    switch (in.byte() % 4) {
    case 0:
        return necFrame::gpioPin;
    case 1:
        return in.byte() % 40U;
    case 2:
        return in.pick(edges);
    default:
        return static_cast<uint32_t>(in.raw(4));
    }
}

int32_t anyLength(Bytes& in, int32_t nec)
{
    const int32_t edges[] = {
        0,       -1,         1,           2,         13,        14,           -38000,
        1000000, 1000000000, -1000000000, INT32_MAX, INT32_MIN, INT32_MAX - 1};
    switch (in.byte() % 4) {
    case 0:
        return nec;
    case 1:
        return static_cast<int32_t>(in.raw(2)) - 1000;
    case 2:
        return in.pick(edges);
    default:
        return int32From(in.raw(4));
    }
}

double anyDutyCycle(Bytes& in)
{
    using limits = std::numeric_limits<double>;
    const double edges[] = {0.0,
                            1.0,
                            -0.0,
                            limits::quiet_NaN(),
                            limits::infinity(),
                            -limits::infinity(),
                            1e300,
                            -1e300,
                            limits::denorm_min(),
                            limits::max(),
                            -limits::max(),
                            0.5 + limits::epsilon()};
    switch (in.byte() % 4) {
    case 0:
        return necFrame::dutyCycle;
    case 1:
        return in.byte() / 100.0 - 0.5;
    case 2:
        return in.pick(edges);
    default: {
        const uint64_t bits = in.raw(8);
        double duty = 0;
        std::memcpy(&duty, &bits, sizeof duty);
        return duty;
    }
    }
}

int32_t anyTrailBurst(Bytes& in)
{
    const int32_t edges[] = {INT32_MIN, -1, 2};
    switch (in.byte() % 4) {
    case 0:
        return 1;
    case 1:
        return 0;
    case 2:
        return in.pick(edges);
    default:
        return int32From(in.raw(4));
    }
}

struct Frame {
    uint32_t gpioPin;
    int32_t carrierHz;
    double dutyCycle;
    int32_t leadBurstUs;
    int32_t leadGapUs;
    int32_t oneBurstUs;
    int32_t zeroBurstUs;
    int32_t oneGapUs;
    int32_t zeroGapUs;
    int32_t trailBurst;
};

// Whole microseconds as a delay field can hold them, 0 for a negative or
// undefined length, plus one for a rounding that differs in the last bit.
uint64_t delayBound(long double us)
{
    if (!(us > 0)) {
        return 0;
    }
    return us >= UINT32_MAX ? UINT32_MAX : static_cast<uint64_t>(std::round(us)) + 1;
}

// The longest record each part of a frame may hold.  A carrier record lasts the
// carrier's on or off time and no more; without a carrier there is none.  A
// silence lasts at most the longest gap given.  Computed at a wider precision than
// the transmitter works in, so it bounds rather than restates.  A length that went
// negative and wrapped around would show as over 2^31 us, far above either bound
// whenever the parameters are lengths a frame could have.
uint64_t carrierRecordBound(const Frame& f)
{
    if (f.carrierHz == 0) {
        return 0;
    }
    const long double cycleUs = 1000000.0L / f.carrierHz;
    const long double duty = f.dutyCycle;
    const uint64_t on = delayBound(cycleUs * duty);
    const uint64_t off = delayBound((1 - duty) * cycleUs);
    return on > off ? on : off;
}

uint64_t gapRecordBound(const Frame& f)
{
    int32_t longest = 0;
    for (const int32_t gapUs : {f.leadGapUs, f.oneGapUs, f.zeroGapUs}) {
        longest = gapUs > longest ? gapUs : longest;
    }
    return static_cast<uint64_t>(longest);
}

// Checks the wave the stand-in created, if any, record by record: only the
// frame's GPIO is switched, every on record is followed by its off record (whole
// carrier periods, so the line ends low) and no delay exceeds its bound.
// Returns its record count, 0 when no wave was created.
int checkWave(const Frame& f)
{
    int count = 0;
    const gpioPulse_t* pulses = pigpioSimWavePulses(&count);
    const uint32_t line = f.gpioPin <= 31 ? 1U << f.gpioPin : 0;
    const uint64_t carrierBound = carrierRecordBound(f);
    const uint64_t gapBound = gapRecordBound(f);
    bool lineHigh = false;
    for (int i = 0; i < count; ++i) {
        const gpioPulse_t& p = pulses[i];
        const std::string where = "record " + std::to_string(i) + " of " + std::to_string(count) +
                                  ", delay " + std::to_string(p.usDelay);
        if (p.gpioOn == line && p.gpioOff == 0) {
            require(!lineHigh, "two on records in a row:", where);
            require(p.usDelay <= carrierBound, "an on record is longer than the carrier's:", where);
            lineHigh = true;
        } else if (p.gpioOn == 0 && p.gpioOff == line) {
            require(lineHigh, "an off record without its on record:", where);
            require(p.usDelay <= carrierBound,
                    "an off record is longer than the carrier's:", where);
            lineHigh = false;
        } else {
            require(p.gpioOn == 0 && p.gpioOff == 0, "a record switches other lines:", where);
            require(!lineHigh, "a silence while the line is high:", where);
            require(p.usDelay <= gapBound, "a silence is longer than any gap given:", where);
        }
    }
    require(!lineHigh, "the wave leaves the line high");
    return count;
}

struct Run {
    const Frame* frame;
    const char* code;
    int32_t status;
};

void emit(void* context)
{
    Run& run = *static_cast<Run*>(context);
    const Frame& f = *run.frame;
    run.status =
        emitCode(f.gpioPin, f.carrierHz, f.dutyCycle, f.leadBurstUs, f.leadGapUs, f.oneBurstUs,
                 f.zeroBurstUs, f.oneGapUs, f.zeroGapUs, f.trailBurst, run.code);
}

// The transmitter waits for a sent wave to end, 0.1 s of virtual time per poll;
// a frame that could play for longer than this is built and handed over, but the
// stand-in refuses to send it, so no input waits through days of simulated air.
constexpr uint64_t longestPlayedUs = 600ULL * 1000000ULL;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    privateSimLock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes in{data, size};
    const uint8_t fault = in.byte() % 3;
    Frame f{};
    f.gpioPin = anyGpio(in);
    f.carrierHz = anyLength(in, necFrame::carrierHz);
    f.dutyCycle = anyDutyCycle(in);
    f.leadBurstUs = anyLength(in, necFrame::leadBurstUs);
    f.leadGapUs = anyLength(in, necFrame::leadGapUs);
    f.oneBurstUs = anyLength(in, necFrame::oneBurstUs);
    f.zeroBurstUs = anyLength(in, necFrame::zeroBurstUs);
    f.oneGapUs = anyLength(in, necFrame::oneGapUs);
    f.zeroGapUs = anyLength(in, necFrame::zeroGapUs);
    f.trailBurst = anyTrailBurst(in);
    const std::string bytes = in.rest();
    const std::string code(bytes.c_str());

    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    pigpioSimSignalHandlers(0); // libFuzzer's own, its timeout alarm among them, stay
    const uint64_t carrierBound = carrierRecordBound(f);
    const uint64_t gapBound = gapRecordBound(f);
    const uint64_t longestRecord = carrierBound > gapBound ? carrierBound : gapBound;
    if (fault == 1) {
        pigpioSimFailWaveCreate(PI_TOO_MANY_CBS);
    } else if (fault == 2 || longestRecord * maxFramePulses > longestPlayedUs) {
        pigpioSimFailWaveTxSend(PI_BAD_WAVE_ID);
    }

    Run run{&f, code.c_str(), -1};
    const std::string out = captureStdout(emit, &run);

    // The wave first: a delay out of bounds explains a log that went wrong.
    const int created = checkWave(f);
    const int records = checkEmission(f.gpioPin, code, out, run.status);
    require(records == created, "the wave created is not the wave handed over:",
            std::to_string(created) + " records, not " + std::to_string(records));
    if (run.status == 0) {
        require(pigpioSimLevel(f.gpioPin) == 0, "the line is high after the frame");
    }
    return 0;
}
