// Everything the stand-in writes: its messages on stderr (pigpio's own complaints
// come from pigpio/rules), the call log in memory and in PIGPIO_SIM_LOG, the
// warnings there, the VCD trace (PIGPIO_SIM_VCD), the origin file
// (PIGPIO_SIM_ORIGIN) and the report at the end of the process.  It reads the
// state, and changes nothing but its own.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "sim_core.h"

namespace pigpio_sim {

using pigpio_rules::complain;
using pigpio_rules::writeAll;

namespace {

// The in-memory call log stops growing here (a busy loop on the virtual clock
// never ends); the log file still gets every line.
constexpr size_t kMaxKeptCalls = 1000000;

// Where the stand-in's notes about itself come from, in the place of a function's.
constexpr const char* kSelf = "pigpio stand-in";

struct Output {
    int logFd = -1;
    std::string vcdPath;
    std::deque<std::string> calls;
    bool callsCapped = false;
};

Output& output()
{
    // Never destroyed, so that the exit report can still use it.
    static Output* const instance = new Output();
    return *instance;
}

void writeLogLine(uint64_t at, const std::string& text)
{
    const int fd = output().logFd;
    if (fd >= 0) {
        writeAll(fd, std::to_string(at) + " " + text + "\n");
    }
}

void logWarning(uint64_t at, const std::string& text)
{
    writeLogLine(at, "warning: " + text);
}

// A file rewritten whole; `name` is the variable that named it.
void writeFile(const char* name, const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        complain(kSelf, "cannot write %s=%s (%s)", name, path.c_str(), std::strerror(errno));
        return;
    }
    writeAll(fd, text);
    ::close(fd);
}

void openLog(const std::string& path)
{
    Output& out = output();
    if (out.logFd >= 0) {
        ::close(out.logFd);
        out.logFd = -1;
    }
    if (path.empty()) {
        return;
    }
    out.logFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out.logFd < 0) {
        complain(kSelf, "cannot open PIGPIO_SIM_LOG=%s (%s)", path.c_str(), std::strerror(errno));
    }
}

} // namespace

// ---- call log --------------------------------------------------------------------------

void resetOutput(const std::string& logPath, const std::string& vcdPath)
{
    Output& out = output();
    out.calls.clear();
    out.callsCapped = false;
    out.vcdPath = vcdPath;
    openLog(logPath);
}

void recordCall(uint64_t at, const std::string& text)
{
    Output& out = output();
    if (out.calls.size() < kMaxKeptCalls) {
        out.calls.push_back(text);
    } else if (!out.callsCapped) {
        out.callsCapped = true;
        logWarning(at, format("the in-memory call log is full (%zu calls); later calls are "
                              "only in this file",
                              kMaxKeptCalls));
    }
    writeLogLine(at, text);
}

const std::deque<std::string>& loggedCalls()
{
    return output().calls;
}

// ---- messages --------------------------------------------------------------------------

void noteIgnored(const Malformed& value)
{
    complain(kSelf, "ignoring %s=%s: want %s", value.name, value.value.c_str(), value.want);
}

void refuseOnPi(const std::string& model)
{
    complain("initCheckPermitted",
             "pigpio stand-in: this machine is a %s, but this build only simulates one and "
             "sends nothing",
             model.c_str());
    complain("initCheckPermitted",
             "pigpio stand-in: to send, reconfigure with -DBEAM_PIGPIO=auto on the Pi and "
             "rebuild (scripts/build-pigpio.sh installs pigpio where it is missing); "
             "PIGPIO_SIM_ON_PI=1 simulates anyway");
}

void refuseInitialise(const std::string& source)
{
    complain("initCheckPermitted", "pigpio stand-in: initialisation refused (%s)", source.c_str());
}

// pigpio's words, with the stand-in's file in place of /var/run/pigpio.pid.
void refuseLock(const std::string& path)
{
    complain("initInitialise", "Can't lock %s", path.c_str());
}

void warnNotAnOutput(uint64_t at, unsigned gpio)
{
    logWarning(at, format("gpioWaveTxSend: gpio %u is not an output; on a Pi the wave would "
                          "not reach the pin",
                          gpio));
}

void warnDeletedWhileSent(uint64_t at, unsigned waveId)
{
    logWarning(at, format("gpioWaveDelete: wave %u is still being sent; on a Pi its control "
                          "blocks may be overwritten mid-flight",
                          waveId));
}

void warnClearedWhileSent(uint64_t at)
{
    logWarning(at, "gpioWaveClear: a wave is still being sent; on a Pi its control blocks may "
                   "be overwritten mid-flight");
}

// The log file only: neither is a call.
void reportPlannedSignal(uint64_t at, int signo)
{
    writeLogLine(at, format("PIGPIO_SIM_SIGNAL: kill(getpid(), %d)", signo));
}

void reportUnhandledSignal(uint64_t at, int signo)
{
    complain("sigHandler", "Unhandled signal %d, terminating", signo);
    writeLogLine(at, format("sigHandler: Unhandled signal %d, terminating", signo));
}

void writeOrigin(const std::string& path, uint64_t originNs)
{
    if (!path.empty()) {
        writeFile("PIGPIO_SIM_ORIGIN", path, std::to_string(originNs) + "\n");
    }
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

} // namespace

void writeVcd(uint64_t endAt)
{
    const std::string& path = output().vcdPath;
    if (path.empty()) {
        return;
    }
    writeFile("PIGPIO_SIM_VCD", path, vcdText(endAt));
}

// ---- end of the process ----------------------------------------------------------------

void reportAtExit(uint64_t at, bool initialised, bool cutOff)
{
    const State& s = state();
    std::vector<std::string> warnings;
    if (initialised) {
        std::string text = "pigpio still initialised at exit: gpioTerminate was never called";
        if (cutOff) {
            text += format(", and the wave being sent was cut off at %llu us",
                           static_cast<unsigned long long>(at));
        }
        warnings.push_back(text);
    }
    for (int id : s.neverDeleted) {
        warnings.push_back(format("wave %d was created and never deleted", id));
    }
    for (unsigned gpio = 0; gpio < kGpioCount; ++gpio) {
        if (s.lines[gpio].driven && s.lines[gpio].level != 0) {
            warnings.push_back(format("gpio %u left high at exit", gpio));
        }
    }
    for (const std::string& text : warnings) {
        if (output().logFd >= 0) {
            logWarning(at, text);
        } else {
            writeAll(STDERR_FILENO, std::string(kSelf) + ": warning: " + text + "\n");
        }
    }
}

// Without a trace or a log, a simulated send looks like a real one on screen.
void noteSimulatedSend()
{
    writeAll(STDERR_FILENO,
             std::string(kSelf) +
                 ": this was a simulation, nothing left this machine; to keep a trace of what a "
                 "Pi would have sent, set PIGPIO_SIM_VCD=FILE (PIGPIO_SIM_LOG=FILE logs the "
                 "pigpio calls)\n");
}

} // namespace pigpio_sim
