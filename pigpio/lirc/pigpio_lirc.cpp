// The exported functions: pigpio's interface (pigpio.h) on the Linux kernel's IR
// transmitter, /dev/lircN.  A wave is turned into pulses and spaces when it is
// created and written in one piece when it is sent; the kernel returns from the
// write once the frame is out.  Single-threaded, like the programs that use it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/lirc.h>
#include <sys/file.h>

#include "lirc_core.h"
#include "pigpio_rules.h"

#define PIGPIO_LIRC_EXPORT __attribute__((visibility("default")))

using namespace pigpio_lirc;
using pigpio_rules::complain;
using pigpio_rules::monotonicNs;
using pigpio_rules::notInitialised;
using pigpio_rules::waveInUse;

namespace {

struct Wave {
    Frame frame;
    size_t device = 0; // the transmitter it goes out on, in open.devices
    bool used = false;
};

struct State {
    bool initialised = false;
    Transmitters open;
    std::array<unsigned, PI_MAX_GPIO + 1> modes{};
    std::vector<gpioPulse_t> pending;
    std::vector<Wave> waves;   // index = wave id
    int lockedFd = -1;         // the device held since the last send
    uint64_t guardUntilNs = 0; // the silence every frame is followed by, before another
    uint64_t busyUntilNs = 0;  // that, or the end of the wave's trailing silence if later
    bool carrierNoted = false;
    bool dutyCycleNoted = false;
};

State& state()
{
    static State instance;
    return instance;
}

void sleepNs(uint64_t ns)
{
    pigpio_rules::sleepUntil(monotonicNs() + ns);
}

// ---- holding the transmitter -------------------------------------------------------------

void release()
{
    State& s = state();
    if (s.lockedFd >= 0) {
        (void)deviceLock(s.lockedFd, LOCK_UN); // closing the device would release it too
        s.lockedFd = -1;
    }
}

// Once the wave is over, with its silence after, another sender may have the device.
void releaseIfOver(uint64_t now)
{
    if (now >= state().busyUntilNs) {
        release();
    }
}

// ---- waves -----------------------------------------------------------------------------

const char* deviceName()
{
    for (const Transmitter& device : state().open.devices) {
        if (device.fd >= 0) {
            return device.path.c_str();
        }
    }
    return "/dev/lirc";
}

int createWave()
{
    State& s = state();
    if (s.pending.empty()) {
        return PI_EMPTY_WAVEFORM;
    }
    Frame frame = toFrame(s.pending.data(), s.pending.size());
    if (frame.status != 0) {
        complain("gpioWaveCreate", "%s cannot send this wave: %s", deviceName(),
                 frame.reason.c_str());
        return frame.status;
    }
    const int device = transmitterFor(s.open, frame.gpio);
    if (device < 0) {
        return device;
    }
    size_t id = 0;
    while (id < s.waves.size() && s.waves[id].used) {
        ++id;
    }
    if (id >= PI_MAX_WAVES) {
        return PI_NO_WAVEFORM_ID;
    }
    if (id == s.waves.size()) {
        s.waves.emplace_back();
    }
    s.waves[id].frame = std::move(frame);
    s.waves[id].device = static_cast<size_t>(device);
    s.waves[id].used = true;
    s.pending.clear();
    return static_cast<int>(id);
}

// Sets the carrier or duty cycle where the device can; where it cannot, it sends
// with its own, which is said once.
bool setForSend(const Transmitter& device, uint32_t feature, unsigned long request, uint32_t value,
                const char* what, const char* unit, bool& noted)
{
    const char* fn = "gpioWaveTxSend";
    if ((device.features & feature) == 0) {
        if (!noted) {
            complain(fn, "%s cannot set its %s: it sends with its own, not %u %s",
                     device.path.c_str(), what, value, unit);
            noted = true;
        }
        return true;
    }
    uint32_t setting = value;
    if (deviceIoctl(device.fd, request, &setting) != 0) {
        complain(fn, "%s refused a %s of %u %s: %s", device.path.c_str(), what, value, unit,
                 std::strerror(errno));
        return false;
    }
    return true;
}

// The frame, between taking the device and the silence after it.
int writeFrame(const Transmitter& device, const Frame& frame)
{
    const char* fn = "gpioWaveTxSend";
    State& s = state();
    if (!setForSend(device, LIRC_CAN_SET_SEND_CARRIER, LIRC_SET_SEND_CARRIER, frame.carrierHz,
                    "carrier", "Hz", s.carrierNoted) ||
        !setForSend(device, LIRC_CAN_SET_SEND_DUTY_CYCLE, LIRC_SET_SEND_DUTY_CYCLE, frame.dutyCycle,
                    "duty cycle", "%", s.dutyCycleNoted)) {
        return kBadFileWrite;
    }
    sleepNs(frame.leadingMicros * 1000u);
    const size_t size = frame.durations.size() * sizeof(uint32_t);
    const ssize_t written = deviceWrite(device.fd, frame.durations.data(), size);
    if (written < 0) {
        complain(fn, "%s could not send the wave: %s", device.path.c_str(), std::strerror(errno));
        return kBadFileWrite;
    }
    // Whatever part of the frame went out is followed by its silence.
    const uint64_t end = monotonicNs();
    s.guardUntilNs = end + kSilenceAfterNs;
    s.busyUntilNs = std::max(s.guardUntilNs, end + frame.trailingMicros * 1000u);
    if (static_cast<size_t>(written) != size) {
        complain(fn, "%s sent only %zu of the wave's %zu durations", device.path.c_str(),
                 static_cast<size_t>(written) / sizeof(uint32_t), frame.durations.size());
        return kBadFileWrite;
    }
    return static_cast<int>(frame.durations.size());
}

int sendWave(unsigned waveId, unsigned mode)
{
    const char* fn = "gpioWaveTxSend";
    State& s = state();
    if (const int bad = pigpio_rules::checkWaveId(fn, waveInUse(s.waves, waveId), waveId)) {
        return bad;
    }
    if (const int bad = pigpio_rules::checkWaveMode(mode)) {
        return bad;
    }
    if (mode != PI_WAVE_MODE_ONE_SHOT) {
        complain(fn,
                 "wave mode %u: the kernel's IR transmitter sends a wave once only "
                 "(PI_WAVE_MODE_ONE_SHOT)",
                 mode);
        return PI_BAD_WAVE_MODE;
    }
    const Wave& wave = s.waves[waveId];
    const Transmitter& device = s.open.devices[wave.device];
    // This process's previous frame gets its silence too before the device is let go.
    if (s.lockedFd >= 0) {
        pigpio_rules::sleepUntil(s.guardUntilNs);
        release();
    }
    s.busyUntilNs = 0;
    if (const int bad = lockTransmitter(device.fd, device.path, kLockWaitNs)) {
        return bad;
    }
    s.lockedFd = device.fd;
    const int result = writeFrame(device, wave.frame);
    releaseIfOver(monotonicNs()); // held only where some of the frame went out
    return result;
}

unsigned cpuinfoRevision()
{
    std::FILE* file = std::fopen("/proc/cpuinfo", "re");
    if (file == nullptr) {
        return 0;
    }
    unsigned long revision = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const char* colon = std::strchr(line, ':');
        if (std::strncmp(line, "Revision", 8) == 0 && colon != nullptr) {
            revision = std::strtoul(colon + 1, nullptr, 16);
            break;
        }
    }
    (void)std::fclose(file); // read only: a failed close loses nothing
    return static_cast<unsigned>(revision);
}

} // namespace

int pigpio_lirc::lockTransmitter(int fd, const std::string& path, uint64_t waitNs)
{
    // The programs block nearly every signal while they send, so a blocking flock
    // could not be cut short: it is tried, and tried again, until the bound.
    const char* fn = "gpioWaveTxSend";
    const uint64_t deadline = monotonicNs() + waitNs;
    while (deviceLock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            complain(fn, "cannot lock %s: %s; nothing was sent", path.c_str(),
                     std::strerror(errno));
            return kBadFileWrite;
        }
        if (monotonicNs() >= deadline) {
            complain(fn, "%s is busy: another sender has held it for %g s; nothing was sent",
                     path.c_str(), static_cast<double>(waitNs) / 1e9);
            return kBadFileWrite;
        }
        sleepNs(kLockPollNs);
    }
    return 0;
}

// ---- pigpio ----------------------------------------------------------------------------

PIGPIO_LIRC_EXPORT int gpioInitialise(void)
{
    State& s = state();
    if (s.initialised) {
        return PIGPIO_VERSION;
    }
    Transmitters open = openTransmitters();
    if (!open.opened) {
        return PI_INIT_FAILED;
    }
    s = State();
    s.open = std::move(open);
    s.initialised = true;
    return PIGPIO_VERSION;
}

/* The frame's silence after it still holds the device; then every device closes. */
PIGPIO_LIRC_EXPORT void gpioTerminate(void)
{
    State& s = state();
    if (!s.initialised) {
        return;
    }
    if (s.lockedFd >= 0) {
        pigpio_rules::sleepUntil(s.guardUntilNs);
        release();
    }
    closeTransmitters(s.open);
    s = State();
}

PIGPIO_LIRC_EXPORT int gpioSetMode(unsigned gpio, unsigned mode)
{
    if (!state().initialised) {
        return notInitialised("gpioSetMode");
    }
    if (const int bad = pigpio_rules::checkSetMode(gpio, mode)) {
        return bad;
    }
    state().modes[gpio] = mode;
    return 0;
}

PIGPIO_LIRC_EXPORT int gpioWaveClear(void)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveClear");
    }
    state().pending.clear();
    state().waves.clear();
    return 0;
}

PIGPIO_LIRC_EXPORT int gpioWaveAddGeneric(unsigned numPulses, gpioPulse_t* pulses)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveAddGeneric");
    }
    return pigpio_rules::addPulses(state().pending, numPulses, pulses);
}

PIGPIO_LIRC_EXPORT int gpioWaveCreate(void)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveCreate");
    }
    return createWave();
}

PIGPIO_LIRC_EXPORT int gpioWaveDelete(unsigned wave_id)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveDelete");
    }
    std::vector<Wave>& waves = state().waves;
    if (const int bad =
            pigpio_rules::checkWaveId("gpioWaveDelete", waveInUse(waves, wave_id), wave_id)) {
        return bad;
    }
    waves[wave_id].frame = Frame();
    pigpio_rules::freeWave(waves, wave_id);
    return 0;
}

PIGPIO_LIRC_EXPORT int gpioWaveTxSend(unsigned wave_id, unsigned wave_mode)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveTxSend");
    }
    return sendWave(wave_id, wave_mode);
}

PIGPIO_LIRC_EXPORT int gpioWaveTxBusy(void)
{
    if (!state().initialised) {
        return notInitialised("gpioWaveTxBusy");
    }
    const uint64_t now = monotonicNs();
    releaseIfOver(now);
    return now < state().busyUntilNs ? 1 : 0;
}

/* A sleep that outlasts the sent wave lets the device go when the wave is over, not
 * when the sleep ends: a program polls gpioWaveTxBusy every 0.1 s, and another
 * sender need not wait for the poll. */
PIGPIO_LIRC_EXPORT void time_sleep(double seconds)
{
    const double length = pigpio_rules::sleepLength(seconds);
    if (length <= 0) {
        return;
    }
    const uint64_t end = monotonicNs() + static_cast<uint64_t>(std::llround(length * 1e9));
    const State& s = state();
    if (s.lockedFd >= 0 && s.busyUntilNs < end) {
        pigpio_rules::sleepUntil(s.busyUntilNs);
        release();
    }
    pigpio_rules::sleepUntil(end);
}

PIGPIO_LIRC_EXPORT unsigned gpioVersion(void)
{
    return PIGPIO_VERSION;
}

/* The board revision as pigpio reads it (0 on a machine that is not a Pi, where
 * pigpio also logs "unknown revision=0"; this library stays quiet). */
PIGPIO_LIRC_EXPORT unsigned gpioHardwareRevision(void)
{
    const unsigned revision = treeRevision(deviceTreeRoot());
    return revision != 0 ? revision : cpuinfoRevision();
}
