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
#include <grp.h>
#include <linux/lirc.h>
#include <sys/stat.h>

#include "lirc_core.h"
#include "pigpio_rules.h"

#define PIGPIO_LIRC_EXPORT __attribute__((visibility("default")))

using namespace pigpio_lirc;
using pigpio_rules::complain;
using pigpio_rules::monotonicNs;
using pigpio_rules::notInitialised;
using pigpio_rules::waveInUse;

namespace {

// What a Raspberry Pi needs for the programs' GPIO 24 to become a transmitter.
constexpr const char* kOverlayLine = "dtoverlay=gpio-ir-tx,gpio_pin=24";

struct Wave {
    Frame frame;
    bool used = false;
};

struct State {
    bool initialised = false;
    int fd = -1;
    std::string device;
    uint32_t features = 0;
    std::vector<unsigned> treeGpios; // where the device tree puts gpio-ir-tx
    std::array<unsigned, PI_MAX_GPIO + 1> modes{};
    std::vector<gpioPulse_t> pending;
    std::vector<Wave> waves;  // index = wave id
    uint64_t busyUntilNs = 0; // the end of a sent wave's trailing silence
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

// ---- opening the transmitter -------------------------------------------------------

struct Probe {
    std::string path;
    int fd = -1;           // open and able to send, else -1
    int openErrno = 0;     // the open failed
    int featuresErrno = 0; // LIRC_GET_FEATURES failed: not an IR device
    uint32_t features = 0;
};

Probe probe(const std::string& path)
{
    Probe result;
    result.path = path;
    const int fd = deviceOpen(path.c_str());
    if (fd < 0) {
        result.openErrno = errno;
        return result;
    }
    if (deviceIoctl(fd, LIRC_GET_FEATURES, &result.features) != 0) {
        result.featuresErrno = errno;
    } else if ((result.features & LIRC_CAN_SEND_PULSE) != 0) {
        result.fd = fd;
        return result;
    }
    deviceClose(fd);
    return result;
}

bool denied(const Probe& tried)
{
    return tried.openErrno == EACCES || tried.openErrno == EPERM;
}

// The device's group decides who may use it; udev sets it, so it differs by system.
void noteDenied(const std::string& path)
{
    const char* fn = "gpioInitialise";
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        complain(fn, "cannot open %s: %s", path.c_str(), std::strerror(EACCES));
        return;
    }
    if (info.st_gid == 0) {
        complain(fn,
                 "cannot open %s: permission denied; it belongs to root alone (group root): "
                 "a udev rule can give it a group of its own",
                 path.c_str());
        return;
    }
    std::array<char, 1024> buffer{};
    group entry{};
    group* found = nullptr;
    std::string name = std::to_string(info.st_gid);
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
        name = found->gr_name;
    }
    complain(fn,
             "cannot open %s: permission denied; it belongs to group %s: add yourself to it "
             "(sudo usermod -aG %s $USER) and log in again",
             path.c_str(), name.c_str(), name.c_str());
}

// The device PIGPIO_LIRC_DEVICE names: the fd, or -1 after a note saying why not.
Probe openNamed(const std::string& path)
{
    const char* fn = "gpioInitialise";
    Probe tried = probe(path);
    if (tried.fd >= 0) {
        return tried;
    }
    if (denied(tried)) {
        noteDenied(path);
    } else if (tried.openErrno != 0) {
        complain(fn, "cannot open %s (PIGPIO_LIRC_DEVICE): %s", path.c_str(),
                 std::strerror(tried.openErrno));
    } else if (tried.featuresErrno != 0) {
        complain(fn, "%s is not an IR device: %s", path.c_str(),
                 std::strerror(tried.featuresErrno));
    } else {
        complain(fn, "%s cannot transmit: it is an IR receiver", path.c_str());
    }
    return tried;
}

// The first /dev/lircN that can transmit, or a note on how to get one.
Probe openFirst()
{
    std::string firstDenied;
    size_t receivers = 0;
    for (const std::string& path : deviceList()) {
        Probe tried = probe(path);
        if (tried.fd >= 0) {
            return tried;
        }
        if (denied(tried) && firstDenied.empty()) {
            firstDenied = path;
        } else if (tried.openErrno == 0 && tried.featuresErrno == 0) {
            ++receivers;
        }
    }
    if (!firstDenied.empty()) {
        noteDenied(firstDenied);
        return Probe{};
    }
    complain("gpioInitialise",
             "no IR transmitter (%s): on a Raspberry Pi, add %s to %s and reboot; for a USB "
             "transmitter, name its device in PIGPIO_LIRC_DEVICE",
             receivers > 0 ? "the /dev/lirc devices here only receive" : "no /dev/lirc device",
             kOverlayLine, kConfigFile);
    return Probe{};
}

// ---- waves -----------------------------------------------------------------------------

std::string numberList(const std::vector<unsigned>& numbers)
{
    std::string list;
    for (size_t i = 0; i < numbers.size(); ++i) {
        list += (i == 0                    ? ""
                 : i + 1 == numbers.size() ? " and "
                                           : ", ") +
                std::to_string(numbers[i]);
    }
    return list;
}

int createWave()
{
    const char* fn = "gpioWaveCreate";
    State& s = state();
    if (s.pending.empty()) {
        return PI_EMPTY_WAVEFORM;
    }
    Frame frame = toFrame(s.pending.data(), s.pending.size());
    if (frame.status != 0) {
        complain(fn, "%s cannot send this wave: %s", s.device.c_str(), frame.reason.c_str());
        return frame.status;
    }
    const std::vector<unsigned>& tree = s.treeGpios;
    if (!tree.empty() && std::find(tree.begin(), tree.end(), frame.gpio) == tree.end()) {
        complain(fn,
                 "the wave is for GPIO %u, but the IR transmitter (gpio-ir-tx in the device "
                 "tree) is on GPIO %s: put dtoverlay=gpio-ir-tx,gpio_pin=%u in %s and reboot",
                 frame.gpio, numberList(tree).c_str(), frame.gpio, kConfigFile);
        return kNotPermitted;
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
    s.waves[id].used = true;
    s.pending.clear();
    return static_cast<int>(id);
}

// Sets the carrier or duty cycle where the device can; where it cannot, it sends
// with its own, which is said once.
bool setForSend(uint32_t feature, unsigned long request, uint32_t value, const char* what,
                const char* unit, bool& noted)
{
    const char* fn = "gpioWaveTxSend";
    State& s = state();
    if ((s.features & feature) == 0) {
        if (!noted) {
            complain(fn, "%s cannot set its %s: it sends with its own, not %u %s", s.device.c_str(),
                     what, value, unit);
            noted = true;
        }
        return true;
    }
    uint32_t setting = value;
    if (deviceIoctl(s.fd, request, &setting) != 0) {
        complain(fn, "%s refused a %s of %u %s: %s", s.device.c_str(), what, value, unit,
                 std::strerror(errno));
        return false;
    }
    return true;
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
    const Frame& frame = s.waves[waveId].frame;
    if (!setForSend(LIRC_CAN_SET_SEND_CARRIER, LIRC_SET_SEND_CARRIER, frame.carrierHz, "carrier",
                    "Hz", s.carrierNoted) ||
        !setForSend(LIRC_CAN_SET_SEND_DUTY_CYCLE, LIRC_SET_SEND_DUTY_CYCLE, frame.dutyCycle,
                    "duty cycle", "%", s.dutyCycleNoted)) {
        return kBadFileWrite;
    }
    sleepNs(frame.leadingMicros * 1000u);
    const size_t size = frame.durations.size() * sizeof(uint32_t);
    const ssize_t written = deviceWrite(s.fd, frame.durations.data(), size);
    if (written < 0) {
        complain(fn, "%s could not send the wave: %s", s.device.c_str(), std::strerror(errno));
        return kBadFileWrite;
    }
    if (static_cast<size_t>(written) != size) {
        complain(fn, "%s sent only %zu of the wave's %zu durations", s.device.c_str(),
                 static_cast<size_t>(written) / sizeof(uint32_t), frame.durations.size());
        return kBadFileWrite;
    }
    s.busyUntilNs = monotonicNs() + frame.trailingMicros * 1000u;
    return static_cast<int>(frame.durations.size());
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

// ---- pigpio ----------------------------------------------------------------------------

PIGPIO_LIRC_EXPORT int gpioInitialise(void)
{
    State& s = state();
    if (s.initialised) {
        return PIGPIO_VERSION;
    }
    const char* named = std::getenv("PIGPIO_LIRC_DEVICE");
    const bool isNamed = named != nullptr && *named != '\0';
    const Probe opened = isNamed ? openNamed(named) : openFirst();
    if (opened.fd < 0) {
        return PI_INIT_FAILED;
    }
    s = State();
    s.fd = opened.fd;
    s.features = opened.features;
    s.device = opened.path;
    s.treeGpios = transmitterGpios(deviceTreeRoot());
    s.initialised = true;
    return PIGPIO_VERSION;
}

PIGPIO_LIRC_EXPORT void gpioTerminate(void)
{
    State& s = state();
    if (!s.initialised) {
        return;
    }
    deviceClose(s.fd);
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
    return monotonicNs() < state().busyUntilNs ? 1 : 0;
}

PIGPIO_LIRC_EXPORT void time_sleep(double seconds)
{
    const double length = pigpio_rules::sleepLength(seconds);
    if (length > 0) {
        sleepNs(static_cast<uint64_t>(std::llround(length * 1e9)));
    }
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
