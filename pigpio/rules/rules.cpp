// What the stand-in and the kernel transmitter library share: pigpio's rules and a
// few system helpers.
#include "pigpio_rules.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace pigpio_rules {

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

std::string vformat(const char* fmt, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (size <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(size) + 1, '\0');
    (void)std::vsnprintf(text.data(), text.size(), fmt, args); // its length is known
    text.resize(static_cast<size_t>(size));
    return text;
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

int addPulses(std::vector<gpioPulse_t>& pending, unsigned numPulses, const gpioPulse_t* pulses)
{
    const char* fn = "gpioWaveAddGeneric";
    if (numPulses > PI_WAVE_MAX_PULSES) {
        complain(fn, "bad number of pulses (%u)", numPulses);
        return PI_TOO_MANY_PULSES;
    }
    if (pulses == nullptr) {
        complain(fn, "bad (NULL) pulses pointer");
        return PI_BAD_POINTER;
    }
    if (numPulses > 0) {
        std::vector<gpioPulse_t> merged = mergePulses(pending, pulses, numPulses);
        if (merged.size() >= static_cast<size_t>(PI_WAVE_MAX_PULSES)) {
            return PI_TOO_MANY_PULSES;
        }
        pending.swap(merged);
    }
    return static_cast<int>(pending.size());
}

// ---- argument checks ---------------------------------------------------------------

int notInitialised(const char* fn)
{
    complain(fn, "pigpio uninitialised, call gpioInitialise()");
    return PI_NOT_INITIALISED;
}

int checkGpio(const char* fn, unsigned gpio)
{
    if (gpio > PI_MAX_GPIO) {
        complain(fn, "bad gpio (%u)", gpio);
        return PI_BAD_GPIO;
    }
    return 0;
}

namespace {

// A gpio, then a value of at most `most`, which names `what` the call sets on it.
int checkGpioAnd(const char* fn, unsigned gpio, const char* what, unsigned value, unsigned most,
                 int error)
{
    if (const int bad = checkGpio(fn, gpio)) {
        return bad;
    }
    if (value > most) {
        complain(fn, "gpio %u, bad %s (%u)", gpio, what, value);
        return error;
    }
    return 0;
}

} // namespace

int checkSetMode(unsigned gpio, unsigned mode)
{
    return checkGpioAnd("gpioSetMode", gpio, "mode", mode, PI_ALT3, PI_BAD_MODE);
}

int checkWrite(unsigned gpio, unsigned level)
{
    return checkGpioAnd("gpioWrite", gpio, "level", level, PI_HIGH, PI_BAD_LEVEL);
}

int checkWaveId(const char* fn, bool inUse, unsigned waveId)
{
    if (!inUse) {
        complain(fn, "bad wave id (%u)", waveId);
        return PI_BAD_WAVE_ID;
    }
    return 0;
}

int checkWaveMode(unsigned mode)
{
    if (mode > PI_WAVE_MODE_REPEAT_SYNC) {
        complain("gpioWaveTxSend", "bad wave mode (%u)", mode);
        return PI_BAD_WAVE_MODE;
    }
    return 0;
}

// ---- time ------------------------------------------------------------------------------

double sleepLength(double seconds)
{
    return seconds > 0 ? std::min(seconds, 1e9) : 0;
}

uint64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void sleepUntil(uint64_t deadlineNs)
{
    timespec deadline{};
    deadline.tv_sec = static_cast<decltype(deadline.tv_sec)>(deadlineNs / 1000000000u);
    deadline.tv_nsec = static_cast<decltype(deadline.tv_nsec)>(deadlineNs % 1000000000u);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// ---- text and files --------------------------------------------------------------------

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, so the format attribute checks every call
std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    return text;
}

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string fileStart(const char* path, size_t most)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string();
    }
    std::string bytes;
    std::array<char, 256> buffer{};
    while (bytes.size() < most) {
        const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), most - bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        bytes.append(buffer.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, so the format attribute checks every call
void complain(const char* fn, const char* fmt, ...)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    // On failure strftime leaves the buffer undefined: then the line goes without a date.
    if (std::strftime(stamp, sizeof stamp, "%F %T", &local) == 0) {
        stamp[0] = '\0';
    }
    va_list args;
    va_start(args, fmt);
    const std::string text = vformat(fmt, args);
    va_end(args);
    writeAll(STDERR_FILENO, std::string(stamp) + " " + fn + ": " + text + "\n");
}

} // namespace pigpio_rules
