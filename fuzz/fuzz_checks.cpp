#include "fuzz_checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <pigpio_sim.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The interface's limits, as documented rather than as the transmitter names them.
constexpr uint32_t highestWaveGpio = 31;
constexpr size_t longestCode = 512;

// One logged call split into its text before " = " and its result.
struct LoggedCall {
    std::string call;
    long result = 0;
    bool hasResult = false;
};

std::vector<LoggedCall> loggedCalls()
{
    std::vector<LoggedCall> calls;
    for (int i = 0; i < pigpioSimCallCount(); ++i) {
        const std::string line = pigpioSimCall(i);
        LoggedCall c;
        const size_t equals = line.rfind(" = ");
        c.call = line.substr(0, equals);
        if (equals != std::string::npos) {
            c.result = std::strtol(line.c_str() + equals + 3, nullptr, 10);
            c.hasResult = true;
        }
        calls.push_back(c);
    }
    return calls;
}

std::string callText(const LoggedCall& c)
{
    return c.hasResult ? c.call + " = " + std::to_string(c.result) : c.call;
}

// Walks the call log in order; each step names the call it expects next.
struct CallCursor {
    const std::vector<LoggedCall>& calls;
    size_t next = 0;

    const LoggedCall& take(const std::string& call)
    {
        require(next < calls.size(), "the call log ends early, expected", call);
        const LoggedCall& c = calls[next++];
        require(c.call == call, ("expected " + call + ", logged").c_str(), callText(c));
        return c;
    }
};

std::string format(const char* fmt, long value)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

} // namespace

void privateSimLock()
{
    const char* set = std::getenv("PIGPIO_SIM_LOCK_FILE");
    if (set != nullptr && *set != '\0') {
        return;
    }
    const char* base = std::getenv("TMPDIR");
    const std::string path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                             "/beam-fuzz-" + std::to_string(getpid()) + ".pid";
    setenv("PIGPIO_SIM_LOCK_FILE", path.c_str(), 1);
}

void require(bool holds, const char* what, const std::string& detail)
{
    if (!holds) {
        std::fprintf(stderr, "\nfuzz check failed: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

std::string captureStdout(void (*fn)(void* context), void* context)
{
    static const int memory = memfd_create("beam-fuzz-stdout", MFD_CLOEXEC);
    static const int terminal = dup(STDOUT_FILENO);
    require(memory >= 0 && terminal >= 0, "cannot set up the capture of standard output");

    std::fflush(stdout);
    require(ftruncate(memory, 0) == 0 && lseek(memory, 0, SEEK_SET) == 0 &&
                dup2(memory, STDOUT_FILENO) == STDOUT_FILENO,
            "cannot redirect standard output");
    fn(context);
    std::fflush(stdout);
    require(dup2(terminal, STDOUT_FILENO) == STDOUT_FILENO, "cannot restore standard output");

    struct stat info {};
    require(fstat(memory, &info) == 0, "cannot measure the captured output");
    std::string out(static_cast<size_t>(info.st_size), '\0');
    require(pread(memory, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size()),
            "cannot read the captured output");
    return out;
}

std::string codeLines(const std::string& code)
{
    std::string lines = "code size is " + std::to_string(code.size()) + "\n";
    for (const char c : code) {
        if (c != '0' && c != '1') {
            lines += "Warning: Non-binary digit in command\n";
        }
    }
    return lines;
}

int checkEmission(uint32_t gpioPin, const std::string& code, const std::string& out, int32_t status)
{
    require(status == 0 || status == 1, "status neither 0 nor 1:", std::to_string(status));
    // The stand-in keeps the first million calls: more means hours of polling.
    require(pigpioSimCallCount() < 1000000, "the call log overflowed: the frame played for hours");
    const std::vector<LoggedCall> calls = loggedCalls();

    std::string expected;
    if (gpioPin > highestWaveGpio) {
        expected = "";
    } else if (code.size() > longestCode) {
        expected = "code size is " + std::to_string(code.size()) + "\n";
    } else if (calls.empty()) {
        expected = codeLines(code) + "Code too long for one frame: more than 11999 pulses\n";
    }
    if (gpioPin > highestWaveGpio || code.size() > longestCode || calls.empty()) {
        require(out == expected, "a refused code printed",
                "\n[" + out + "]\nnot\n[" + expected + "]");
        require(status == 1, "a refused code gave status 0");
        require(calls.empty(),
                "a refused code called pigpio:", calls.empty() ? "" : callText(calls.front()));
        return 0;
    }

    // A frame went to pigpio: every call in order, with the answers a working
    // pigpio (or an injected fault) gives.
    CallCursor log{calls};
    const LoggedCall& init = log.take("gpioInitialise()");
    require(init.result >= 0, "pigpio refused to start although no fault was injected");
    require(log.take("gpioSetMode(" + std::to_string(gpioPin) + ", 1)").result == 0,
            "gpioSetMode failed");
    require(log.take("gpioWaveClear()").result == 0, "gpioWaveClear failed");

    require(log.next < calls.size(), "no gpioWaveAddGeneric call");
    unsigned records = 0;
    const LoggedCall& add = calls[log.next];
    require(std::sscanf(add.call.c_str(), "gpioWaveAddGeneric(%u, pulses)", &records) == 1,
            "expected gpioWaveAddGeneric, logged", callText(add));
    log.take("gpioWaveAddGeneric(" + std::to_string(records) + ", pulses)");
    require(records >= 1 && records < PI_WAVE_MAX_PULSES,
            "pigpio was handed a wave it refuses, of records:", std::to_string(records));
    require(add.result == static_cast<long>(records),
            "pigpio did not take the whole wave:", callText(add));

    const long waveId = log.take("gpioWaveCreate()").result;
    std::string tail;
    bool sent = false;
    if (waveId >= 0) {
        const long result = log.take("gpioWaveTxSend(" + std::to_string(waveId) + ", 0)").result;
        tail = format("Result: %li\n", result);
        sent = result >= 0;
    } else {
        tail = format("Wave creation failure!\n %li", waveId);
    }
    // Polls until the wave has played, never past its end.
    long busy = 0;
    while ((busy = log.take("gpioWaveTxBusy()").result) == 1) {
        log.take("time_sleep(0.1)");
    }
    require(busy == 0, "gpioWaveTxBusy gave an error:", std::to_string(busy));
    if (waveId >= 0) {
        require(log.take("gpioWaveDelete(" + std::to_string(waveId) + ")").result == 0,
                "gpioWaveDelete failed");
    }
    log.take("gpioTerminate()");
    require(log.next == calls.size(),
            "calls after gpioTerminate:", log.next < calls.size() ? callText(calls[log.next]) : "");

    expected = codeLines(code) + "pulse count is " + std::to_string(records) + "\n" + tail;
    require(out == expected, "a sent frame printed", "\n[" + out + "]\nnot\n[" + expected + "]");
    require(status == (sent ? 0 : 1), "the status does not follow pigpio's answer");
    return waveId >= 0 ? static_cast<int>(records) : 0;
}
