// What the stand-in writes: pigpio-style messages on stderr, the call log (in
// memory and in PIGPIO_SIM_LOG), the VCD trace (PIGPIO_SIM_VCD) and the report at
// the end of the process.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "sim_core.h"

namespace pigpio_sim {

namespace {

// The in-memory call log stops growing here (a busy loop on the virtual clock
// never ends); the log file still gets every line.
constexpr size_t kMaxKeptCalls = 1000000;

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

void writeLogLine(uint64_t at, const std::string& text)
{
    const int fd = state().logFd;
    if (fd >= 0) {
        writeAll(fd, std::to_string(at) + " " + text + "\n");
    }
}

} // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, so the format attribute checks every call
std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    return text;
}

bool initialisedFor(const char* fn)
{
    if (state().initialised) {
        return true;
    }
    pigpio_rules::notInitialised(fn);
    return false;
}

// ---- call log --------------------------------------------------------------------------

void openLog(const char* path)
{
    State& s = state();
    if (s.logFd >= 0) {
        ::close(s.logFd);
        s.logFd = -1;
    }
    if (path == nullptr || *path == '\0') {
        return;
    }
    s.logFd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (s.logFd < 0) {
        complain("pigpio stand-in", "cannot open PIGPIO_SIM_LOG=%s (%s)", path,
                 std::strerror(errno));
    }
}

void recordCall(uint64_t at, const std::string& text)
{
    State& s = state();
    if (s.calls.size() < kMaxKeptCalls) {
        s.calls.push_back(text);
    } else if (!s.callsCapped) {
        s.callsCapped = true;
        logWarning(at, format("the in-memory call log is full (%zu calls); later calls are "
                              "only in this file",
                              kMaxKeptCalls));
    }
    writeLogLine(at, text);
}

void logWarning(uint64_t at, const std::string& text)
{
    writeLogLine(at, "warning: " + text);
}

void logEvent(uint64_t at, const std::string& text)
{
    writeLogLine(at, text);
}

void writeOrigin(const char* path, uint64_t originNs)
{
    if (path == nullptr || *path == '\0') {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        complain("pigpio stand-in", "cannot write PIGPIO_SIM_ORIGIN=%s (%s)", path,
                 std::strerror(errno));
        return;
    }
    writeAll(fd, std::to_string(originNs) + "\n");
    ::close(fd);
}

// ---- VCD trace -------------------------------------------------------------------------

namespace {

// One printable character per GPIO, '!' for 0 up to 'V' for 53.
char vcdId(unsigned gpio)
{
    return static_cast<char>('!' + gpio);
}

struct Change {
    uint64_t at;
    unsigned gpio;
    int level;
};

int levelAtZero(const Line& line)
{
    return !line.edges.empty() && line.edges.front().at == 0 ? line.edges.front().level : 0;
}

std::vector<Change> changesAfterZero()
{
    std::vector<Change> changes;
    for (unsigned gpio = 0; gpio < kGpioCount; ++gpio) {
        const Line& line = state().lines[gpio];
        for (const Edge& edge : line.edges) {
            if (line.driven && edge.at > 0) {
                changes.push_back({edge.at, gpio, edge.level});
            }
        }
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.at < b.at; });
    return changes;
}

} // namespace

std::string vcdText(uint64_t endAt)
{
    const std::array<Line, kGpioCount>& lines = state().lines;
    std::string out = "$version pigpio stand-in $end\n"
                      "$timescale 1us $end\n"
                      "$scope module gpio $end\n";
    for (unsigned gpio = 0; gpio < kGpioCount; ++gpio) {
        if (lines[gpio].driven) {
            out += format("$var wire 1 %c gpio%u $end\n", vcdId(gpio), gpio);
        }
    }
    out += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (unsigned gpio = 0; gpio < kGpioCount; ++gpio) {
        if (lines[gpio].driven) {
            out += format("%d%c\n", levelAtZero(lines[gpio]), vcdId(gpio));
        }
    }
    out += "$end\n";
    uint64_t last = 0;
    for (const Change& change : changesAfterZero()) {
        if (change.at != last) {
            out += "#" + std::to_string(change.at) + "\n";
            last = change.at;
        }
        out += format("%d%c\n", change.level, vcdId(change.gpio));
    }
    if (endAt > last) {
        out += "#" + std::to_string(endAt) + "\n";
    }
    return out;
}

void writeVcd(uint64_t endAt)
{
    const std::string& path = state().vcdPath;
    if (path.empty()) {
        return;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        complain("pigpio stand-in", "cannot write PIGPIO_SIM_VCD=%s (%s)", path.c_str(),
                 std::strerror(errno));
        return;
    }
    writeAll(fd, vcdText(endAt));
    ::close(fd);
}

// ---- end of the process ----------------------------------------------------------------

namespace {

std::vector<std::string> exitWarnings()
{
    State& s = state();
    std::vector<std::string> warnings;
    if (s.initialised) {
        const uint64_t at = nowMicros();
        std::string text = "pigpio still initialised at exit: gpioTerminate was never called";
        if (sending(at)) {
            text += format(", and the wave being sent was cut off at %llu us",
                           static_cast<unsigned long long>(at));
        }
        warnings.push_back(text);
        terminateNow(at); // what the real library's atexit handler does
    }
    for (int id : s.neverDeleted) {
        warnings.push_back(format("wave %d was created and never deleted", id));
    }
    for (unsigned gpio = 0; gpio < kGpioCount; ++gpio) {
        if (s.lines[gpio].driven && s.lines[gpio].level != 0) {
            warnings.push_back(format("gpio %u left high at exit", gpio));
        }
    }
    return warnings;
}

} // namespace

void reportAtExit()
{
    const uint64_t at = nowMicros();
    for (const std::string& text : exitWarnings()) {
        if (state().logFd >= 0) {
            logWarning(at, text);
        } else {
            writeAll(STDERR_FILENO, "pigpio stand-in: warning: " + text + "\n");
        }
    }
}

} // namespace pigpio_sim
