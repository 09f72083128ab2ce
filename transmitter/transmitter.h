// The infrared transmitter: expands a code of '0' and '1' characters into an
// NEC-timed frame of carrier pulses, or a press given as durations into the same
// kind of bursts and gaps, and plays it once on a GPIO line through pigpio's
// waveform facility.
//
// Every function here has internal linkage, so each program that includes the
// header gets its own private copy; the entry points a program may leave unused
// say so.  Nothing is allocated on the heap and no
// state outlives a call: emitCode owns the pulse buffer, transmitWave owns pigpio.
#ifndef BEAM_TRANSMITTER_H
#define BEAM_TRANSMITTER_H

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <pigpio.h>
#include <pthread.h>
#include <signal.h>

// The NEC frame both senders use, in whole microseconds.
namespace necFrame {
constexpr uint32_t gpioPin = 24;
constexpr int32_t carrierHz = 38000;
constexpr double dutyCycle = 0.5;
constexpr int32_t leadBurstUs = 9000;
constexpr int32_t leadGapUs = 4500;
constexpr int32_t oneBurstUs = 562;
constexpr int32_t zeroBurstUs = 562;
constexpr int32_t oneGapUs = 1688;
constexpr int32_t zeroGapUs = 562;
constexpr int32_t trailBurst = 1;
} // namespace necFrame

constexpr uint32_t maxGpioPin = 31; // waves switch GPIO bank 0 only
constexpr size_t maxCodeLength = 512;

// pigpio refuses a waveform once its total reaches PI_WAVE_MAX_PULSES, so the
// largest frame it will take is one record short of the buffer's size.
constexpr int32_t maxFramePulses = PI_WAVE_MAX_PULSES - 1;
using PulseBuffer = std::array<gpioPulse_t, static_cast<size_t>(PI_WAVE_MAX_PULSES)>;

// A delay in whole microseconds as pigpio's unsigned field holds it.  A negative
// or undefined length (a negative gap, a duty cycle outside 0..1, a carrier of 0)
// is no time at all rather than a wrapped-around delay of over an hour.
static uint32_t wholeMicros(double us)
{
    if (!(us > 0.0)) {
        return 0;
    }
    if (us >= 4294967295.0) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(us);
}

// Appends one record.  Once the frame has outgrown what pigpio takes, nothing
// more is written and pulseCount stops one past maxFramePulses, which marks the
// frame as too long without a second pass over the code.
static void addPulse(uint32_t onMask, uint32_t offMask, uint32_t delayUs, gpioPulse_t* pulses,
                     int32_t* pulseCount)
{
    if (*pulseCount >= maxFramePulses) {
        *pulseCount = maxFramePulses + 1;
        return;
    }
    pulses[*pulseCount] = gpioPulse_t{onMask, offMask, delayUs};
    ++*pulseCount;
}

// Whole carrier periods nearest to a burst; none for a negative or undefined
// length, and never so many that counting their records could overflow.
static int32_t wholeCycles(double periods)
{
    const double cycles = std::round(periods);
    if (!(cycles > 0.0)) {
        return 0;
    }
    return cycles > maxFramePulses ? maxFramePulses : static_cast<int32_t>(cycles);
}

// Appends a burst of carrier: whole periods, each an on record and an off record,
// so the line is always low again when the burst ends.
static void carrierFrequency(uint32_t gpioPin, double carrierHz, double dutyCycle, double burstUs,
                             gpioPulse_t* pulses, int32_t* pulseCount)
{
    const double cycleUs = 1000000.0 / carrierHz;
    const uint32_t onUs = wholeMicros(std::round(cycleUs * dutyCycle));
    const uint32_t offUs = wholeMicros(std::round((1.0 - dutyCycle) * cycleUs));
    const int32_t cycles = wholeCycles(burstUs / cycleUs);
    const uint32_t line = 1U << gpioPin;

    // Counted in a local: through the pointer, every record written could change
    // the count as far as the compiler knows, which costs a load and a store each.
    int32_t count = *pulseCount;
    for (int32_t k = 0; k < cycles && count <= maxFramePulses; ++k) {
        addPulse(line, 0, onUs, pulses, &count);
        // NOLINTNEXTLINE(readability-suspicious-call-argument): the line goes in the off mask
        addPulse(0, line, offUs, pulses, &count);
    }
    *pulseCount = count;
}

// Appends a silence; always exactly one record, even for a length of 0.
static void gap(double gapUs, gpioPulse_t* pulses, int32_t* pulseCount)
{
    addPulse(0, 0, wholeMicros(gapUs), pulses, pulseCount);
}

// Plays the records once on gpioPin and returns when they have been sent: 0 when
// the frame went out, 1 when it did not (pigpio would not start, the waveform
// could not be created or the send was refused).
//
// pigpio's handler for SIGINT, SIGTERM and nearly every other signal terminates
// pigpio at once and exits, which cuts the wave off mid-frame and leaves the line
// at whatever level it had: the LED may stay on.  So those signals are blocked from
// before gpioInitialise, whose threads inherit the mask, until gpioTerminate has
// returned; then the caller's mask comes back and a signal that came meanwhile takes
// effect, after the whole frame.  The signals a fault raises in the thread itself
// (SIGSEGV and the like) stay unblocked: blocking those is undefined, and a crash
// should not wait.
static int32_t transmitWave(uint32_t gpioPin, gpioPulse_t* pulses, const int32_t* pulseCount)
{
    sigset_t deferred;
    sigfillset(&deferred);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
        sigdelset(&deferred, fault);
    }
    sigset_t callers;
    pthread_sigmask(SIG_BLOCK, &deferred, &callers);

    if (gpioInitialise() < 0) {
        std::puts("GPIO Initialization failed");
        pthread_sigmask(SIG_SETMASK, &callers, nullptr);
        return 1;
    }
    gpioSetMode(gpioPin, PI_OUTPUT);
    gpioWaveClear();
    gpioWaveAddGeneric(static_cast<unsigned>(*pulseCount), pulses);

    int32_t status = 0;
    const int waveId = gpioWaveCreate();
    if (waveId >= 0) {
        const int sendResult = gpioWaveTxSend(static_cast<unsigned>(waveId), PI_WAVE_MODE_ONE_SHOT);
        std::printf("Result: %i\n", sendResult);
        status = sendResult < 0 ? 1 : 0;
    } else {
        std::printf("Wave creation failure!\n %i", waveId);
        status = 1;
    }

    // Terminating pigpio cuts a wave off mid-flight, so wait for the end.  An
    // error answer is not "busy": waiting on it would never end.
    while (gpioWaveTxBusy() > 0) {
        time_sleep(0.1);
    }
    if (waveId >= 0) {
        gpioWaveDelete(static_cast<unsigned>(waveId));
    }
    gpioTerminate();
    pthread_sigmask(SIG_SETMASK, &callers, nullptr);
    return status;
}

// Expands code (length bytes of '0' and '1' characters, first one first) into
// pulses: a leading burst and gap, a burst and gap per bit, and, if trailBurst is
// set, a trailing burst.  Any other byte is reported as it is met and skipped.
// Returns the number of records, or maxFramePulses + 1 when the frame would not
// fit in one waveform.  A function of its own so that bench/frame_bench times the
// expansion the senders run, not a copy of it.
static int32_t buildFrame(uint32_t gpioPin, int32_t carrierHz, double dutyCycle,
                          int32_t leadBurstUs, int32_t leadGapUs, int32_t oneBurstUs,
                          int32_t zeroBurstUs, int32_t oneGapUs, int32_t zeroGapUs,
                          int32_t trailBurst, const char* code, size_t length, PulseBuffer& pulses)
{
    int32_t pulseCount = 0;
    const double hz = carrierHz;

    carrierFrequency(gpioPin, hz, dutyCycle, leadBurstUs, pulses.data(), &pulseCount);
    gap(leadGapUs, pulses.data(), &pulseCount);
    for (size_t i = 0; i < length; ++i) {
        if (code[i] == '0') {
            carrierFrequency(gpioPin, hz, dutyCycle, zeroBurstUs, pulses.data(), &pulseCount);
            gap(zeroGapUs, pulses.data(), &pulseCount);
        } else if (code[i] == '1') {
            carrierFrequency(gpioPin, hz, dutyCycle, oneBurstUs, pulses.data(), &pulseCount);
            gap(oneGapUs, pulses.data(), &pulseCount);
        } else {
            std::puts("Warning: Non-binary digit in command");
        }
    }
    if (trailBurst != 0) {
        carrierFrequency(gpioPin, hz, dutyCycle, oneBurstUs, pulses.data(), &pulseCount);
    }
    return pulseCount;
}

// How many records a press of durations (mark first, alternating, microseconds)
// takes: two per carrier period of each mark, as carrierFrequency makes it, and
// one per space.  Counted apart from the building so that a press pigpio would
// refuse is refused, with this number, before pigpio is touched; 64 bits, as a
// long press can need more records than 32 bits count.
[[maybe_unused]] static int64_t pressPulseCount(int32_t carrierHz, double dutyCycle,
                                                const uint32_t* durations, size_t count)
{
    (void)dutyCycle; // the periods do not depend on it; the parameter keeps the calls alike
    const double cycleUs = 1000000.0 / carrierHz;
    int64_t records = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            const double cycles = std::round(durations[i] / cycleUs);
            records += cycles > 0.0 ? 2 * static_cast<int64_t>(cycles) : 0;
        } else {
            ++records;
        }
    }
    return records;
}

// Expands a press into records by the frame's own rules: each mark a burst of
// whole carrier periods, each space one silence record.  The durations of
// beamfile's frame give beamfile's records, record for record.  Returns the
// number of records, or maxFramePulses + 1 when the press would not fit in one
// waveform.
static int32_t buildPress(uint32_t gpioPin, int32_t carrierHz, double dutyCycle,
                          const uint32_t* durations, size_t count, PulseBuffer& pulses)
{
    int32_t pulseCount = 0;
    const double hz = carrierHz;
    for (size_t i = 0; i < count && pulseCount <= maxFramePulses; ++i) {
        if (i % 2 == 0) {
            carrierFrequency(gpioPin, hz, dutyCycle, durations[i], pulses.data(), &pulseCount);
        } else {
            gap(durations[i], pulses.data(), &pulseCount);
        }
    }
    return pulseCount;
}

// Sends a press once as one wave, without pauses between its frames.  The caller
// has checked the GPIO and the press's size (pressPulseCount); a press that does
// not fit is still refused here rather than written past the buffer.  Returns 0
// when it went out, 1 when it did not.
[[maybe_unused]] static int32_t emitPress(uint32_t gpioPin, int32_t carrierHz, double dutyCycle,
                                          const uint32_t* durations, size_t count)
{
    if (gpioPin > maxGpioPin) {
        return 1;
    }
    PulseBuffer pulses; // written in time order before it is read, so never cleared
    const int32_t pulseCount = buildPress(gpioPin, carrierHz, dutyCycle, durations, count, pulses);
    if (pulseCount > maxFramePulses) {
        return 1;
    }
    return transmitWave(gpioPin, pulses.data(), &pulseCount);
}

// Sends code ('0' and '1' characters, first one first) once as a frame (see
// buildFrame).  Returns 0 when the frame was sent, 1 when it was refused or not
// sent.
[[maybe_unused]] static int32_t emitCode(uint32_t gpioPin, int32_t carrierHz, double dutyCycle,
                                         int32_t leadBurstUs, int32_t leadGapUs, int32_t oneBurstUs,
                                         int32_t zeroBurstUs, int32_t oneGapUs, int32_t zeroGapUs,
                                         int32_t trailBurst, const char* code)
{
    if (gpioPin > maxGpioPin) {
        return 1;
    }
    const size_t length = std::strlen(code);
    std::printf("code size is %zu\n", length);
    if (length > maxCodeLength) {
        return 1;
    }

    PulseBuffer pulses; // written in time order before it is read, so never cleared
    const int32_t pulseCount =
        buildFrame(gpioPin, carrierHz, dutyCycle, leadBurstUs, leadGapUs, oneBurstUs, zeroBurstUs,
                   oneGapUs, zeroGapUs, trailBurst, code, length, pulses);
    if (pulseCount > maxFramePulses) {
        std::printf("Code too long for one frame: more than %i pulses\n", maxFramePulses);
        return 1;
    }
    std::printf("pulse count is %i\n", pulseCount);
    return transmitWave(gpioPin, pulses.data(), &pulseCount);
}

#endif
