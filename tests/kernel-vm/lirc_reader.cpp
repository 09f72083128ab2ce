// lirc_reader: the kernel-VM stage's own view of a lirc device (scripts/test-kernel-vm.sh).
//
//   lirc_reader run DEVICE [--as UID] [--carrier] -- PROGRAM [ARG...]
//       Runs PROGRAM in the current folder, as user and group UID if given, while
//       reading DEVICE twice: raw durations (LIRC_MODE_MODE2) and what the kernel's
//       decoders made of them (LIRC_MODE_SCANCODE); with --carrier, only the
//       carrier the device reports instead.
//   lirc_reader replay DEVICE FILE
//       Writes the frame in FILE (from `trace`) to DEVICE, reading it back the same way.
//   lirc_reader perf RUNS SHIM FLOOR -- PROGRAM [ARG...]
//       Times RUNS runs of PROGRAM with SHIM (lirc_write_clock.so) preloaded, and
//       of the program FLOOR (e.g. /bin/true) for comparison.
//   lirc_reader trace VCD WIRE
//       Demodulates WIRE of a pigpio stand-in trace into such a FILE.
//   lirc_reader scancodes DEVICE FILE
//       Has the kernel encode each scancode of FILE (lines "KIND NAME PROTO SCANCODE",
//       from kernel_scancodes) in LIRC_MODE_SCANCODE and reads back what it sent.
//
// Output, one item per line, for the stage to compare: "STDOUT <escaped>",
// "STDERR <escaped>", "STATUS <n>" (or "STATUS signal <n>"), "WRITE <durations
// written>", "RECEIVER <device>" (or "RECEIVER none: <reason>"), "MODE2
// <durations>", one "SCANCODE <scancode> proto <n>" per decoded frame, "CARRIER
// <Hz>", and "PERF <measure> <median> <worst>" in microseconds; for scancodes, one
// "SENT <the file's line> | carrier <Hz> durations <durations>" or "... | refused
// <errno>" per line.
//
// Each open file of a lirc device keeps its own queue of what arrived, so the
// queues are read after the sender is done: they hold the whole frame by then,
// because a write to a lirc device returns only once the frame has been sent.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/lirc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "clock.h"
#include "files.h"
#include "lirc_text.h"
#include "run_program.h"

namespace {

// How long the queues may take to show a frame's end after its sender is done,
// and how long nothing must arrive to count as nothing received.
constexpr int frameEndMs = 2000;
constexpr int quietMs = 200;
// Longer than any space inside a frame of the kernel's encoders (Sharp's 40 ms).
constexpr uint32_t frameTimeoutUs = 100000;

// The environment variable through which lirc_write_clock.so learns where to write.
constexpr const char* timesVariable = "BEAM_LIRC_WRITE_TIMES";

struct Receiver {
    int mode2 = -1;
    int scancodes = -1;
    bool carrier = false; // reading carrier reports rather than frames
    std::string error;    // why the device could not be read, else empty
};

int openAs(const char* device, uint32_t mode, std::string& error)
{
    const int fd = open(device, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (ioctl(fd, LIRC_SET_REC_MODE, &mode) != 0) {
        error = std::string("LIRC_SET_REC_MODE: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

// Carrier reports are a setting of the device, not of the open file.
bool reportCarrier(const Receiver& receiver, uint32_t on)
{
    return ioctl(receiver.mode2, LIRC_SET_MEASURE_CARRIER_MODE, &on) == 0;
}

Receiver openReceiver(const char* device, bool carrier)
{
    Receiver receiver;
    receiver.carrier = carrier;
    receiver.mode2 = openAs(device, LIRC_MODE_MODE2, receiver.error);
    receiver.scancodes =
        receiver.mode2 < 0 ? -1 : openAs(device, LIRC_MODE_SCANCODE, receiver.error);
    if (receiver.scancodes >= 0 && carrier && !reportCarrier(receiver, 1)) {
        receiver.error = std::string("LIRC_SET_MEASURE_CARRIER_MODE: ") + std::strerror(errno);
    }
    if (!receiver.error.empty()) {
        for (const int fd : {receiver.mode2, receiver.scancodes}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        receiver.mode2 = -1;
        receiver.scancodes = -1;
    }
    return receiver;
}

bool hasPulse(const std::vector<uint32_t>& samples)
{
    return std::any_of(samples.begin(), samples.end(), [](uint32_t s) { return LIRC_IS_PULSE(s); });
}

// Reads both queues until the frame's timeout marker, or, when nothing came,
// until nothing has come for a while; then prints what arrived.  Reading the
// carrier, it stops at the first report: rc-loopback (6.1) leaves the report flag
// set on the silence it adds after a frame, so with reports on, that silence
// arrives as a second report, the frame never ends and is not decoded.
void printReceived(const char* device, Receiver& receiver)
{
    if (receiver.mode2 < 0) {
        std::printf("RECEIVER none: %s\n", receiver.error.c_str());
        std::printf("MODE2\n");
        return;
    }
    std::vector<uint32_t> samples;
    std::vector<lirc_scancode> codes;
    const int64_t start = monotonicNs();
    bool ended = false;
    while (!ended) {
        const int64_t waited = (monotonicNs() - start) / 1000000;
        const int64_t limit = hasPulse(samples) ? frameEndMs : quietMs;
        if (waited >= limit) {
            break;
        }
        pollfd ready{receiver.mode2, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit - waited)) <= 0) {
            continue;
        }
        uint32_t buffer[256];
        const ssize_t n = read(receiver.mode2, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n / 4; ++i) {
            samples.push_back(buffer[i]);
            // The decoders see each sample before the mode2 readers do, so the
            // marker comes after whatever was decoded from the frame.
            ended = ended || (LIRC_IS_TIMEOUT(buffer[i]) && hasPulse(samples)) ||
                    (receiver.carrier && LIRC_IS_FREQUENCY(buffer[i]));
        }
    }
    lirc_scancode code{};
    while (read(receiver.scancodes, &code, sizeof code) == static_cast<ssize_t>(sizeof code)) {
        codes.push_back(code);
    }
    const bool carrierOff = !receiver.carrier || reportCarrier(receiver, 0);
    close(receiver.mode2);
    close(receiver.scancodes);

    const lircText::Mode2 text = lircText::mode2Text(samples);
    std::printf("RECEIVER %s\n", device);
    if (receiver.carrier) {
        const std::string first = text.carriers.substr(0, text.carriers.find(' '));
        std::printf("CARRIER %s%s\n", first.c_str(), carrierOff ? "" : " (reports left on)");
        return;
    }
    if (!text.carriers.empty()) {
        std::printf("CARRIER %s\n", text.carriers.c_str());
    }
    std::printf("MODE2%s%s\n", text.durations.empty() ? "" : " ", text.durations.c_str());
    for (const lirc_scancode& c : codes) {
        std::printf("SCANCODE %s\n",
                    lircText::scancodeText(c.scancode, c.rc_proto, c.flags).c_str());
    }
}

// Runs argv in the current folder as the tests run a program (tests/support), with
// this process's environment (PIGPIO_SIM_* included: the stage sets them for the
// stand-in's runs), as user and group `uid` when it is 0 or more (no other groups).
Outcome runChild(char** argv, int uid)
{
    Command command;
    command.program = argv[0];
    for (char** arg = argv + 1; *arg != nullptr; ++arg) {
        command.args.emplace_back(*arg);
    }
    command.direct = true;
    command.keepSim = true;
    command.user = uid;
    return runCommand(command);
}

int run(const char* device, int uid, bool carrier, char** argv)
{
    Receiver receiver = openReceiver(device, carrier);
    (void)std::fflush(stdout);
    const Outcome child = runChild(argv, uid);
    std::printf("STDOUT %s\n", lircText::escaped(child.out).c_str());
    std::printf("STDERR %s\n", lircText::escaped(child.err).c_str());
    if (child.signal == 0) {
        std::printf("STATUS %d\n", child.status);
    } else {
        std::printf("STATUS signal %d\n", child.signal);
    }
    printReceived(device, receiver);
    return 0;
}

// A frame file: "carrier HZ" and "durations D1 D2 ..." lines.
bool readFrame(const char* path, uint32_t& carrier, std::vector<uint32_t>& durations)
{
    std::istringstream words(readFile(path));
    std::string word;
    while (words >> word) {
        if (word == "carrier") {
            words >> carrier;
        } else if (word != "durations") {
            durations.push_back(static_cast<uint32_t>(std::strtoul(word.c_str(), nullptr, 10)));
        }
    }
    return !durations.empty();
}

int replay(const char* device, const char* path)
{
    uint32_t carrier = 0;
    std::vector<uint32_t> durations;
    if (!readFrame(path, carrier, durations)) {
        (void)std::fprintf(stderr, "lirc_reader: no frame in %s\n", path);
        return 1;
    }
    Receiver receiver = openReceiver(device, false);
    const int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0 || (carrier > 0 && ioctl(fd, LIRC_SET_SEND_CARRIER, &carrier) != 0)) {
        std::printf("WRITE error %s\n", std::strerror(errno));
    } else {
        const ssize_t n = write(fd, durations.data(), durations.size() * sizeof(uint32_t));
        if (n < 0) {
            std::printf("WRITE error %s\n", std::strerror(errno));
        } else {
            std::printf("WRITE %zd\n", n / static_cast<ssize_t>(sizeof(uint32_t)));
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    printReceived(device, receiver);
    return 0;
}

// A frame sent in scancode mode, as the kernel's encoder made it.  Carrier reports
// are on, the only way rc-loopback shows the carrier the encoder set; 6.1's
// rc-loopback then stores the report before the frame's last pulse (that one is
// still held for merging) and marks its closing silence as a second report
// instead of a timeout.  So that second report is the frame's end, and the
// durations are the frame with the reports taken out.
std::string sentFrame(int mode2)
{
    std::vector<uint32_t> samples;
    int reports = 0;
    bool ended = false;
    while (!ended) {
        pollfd ready{mode2, POLLIN, 0};
        if (poll(&ready, 1, frameEndMs) <= 0) {
            break;
        }
        uint32_t buffer[256];
        const ssize_t n = read(mode2, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n / 4 && !ended; ++i) {
            reports += LIRC_IS_FREQUENCY(buffer[i]) ? 1 : 0;
            ended = reports == 2 || LIRC_IS_TIMEOUT(buffer[i]);
            samples.push_back(ended ? LIRC_TIMEOUT(0) : buffer[i]);
        }
    }
    const lircText::Mode2 text = lircText::mode2Text(samples);
    return "carrier " + (text.carriers.empty() ? "none" : text.carriers) + " durations " +
           text.durations;
}

int scancodes(const char* device, const char* path)
{
    std::string error;
    const int mode2 = openAs(device, LIRC_MODE_MODE2, error);
    const int fd = open(device, O_RDWR | O_CLOEXEC);
    uint32_t sendMode = LIRC_MODE_SCANCODE;
    uint32_t low = 1;
    uint32_t high = 1000000;
    uint32_t on = 1;
    uint32_t timeout = 0;
    uint32_t longer = frameTimeoutUs;
    // rc-loopback drops a frame whose carrier is outside its receiver's range.  Its
    // receiver ends a frame at the first space as long as its timeout, which the
    // enabled NEC decoder makes 15.6 ms: Sharp's 40 ms between its halves would
    // arrive as a timeout sample.
    if (mode2 < 0 || fd < 0 || ioctl(fd, LIRC_SET_SEND_MODE, &sendMode) != 0 ||
        ioctl(fd, LIRC_SET_REC_CARRIER_RANGE, &low) != 0 ||
        ioctl(fd, LIRC_SET_REC_CARRIER, &high) != 0 ||
        ioctl(fd, LIRC_GET_REC_TIMEOUT, &timeout) != 0 ||
        ioctl(fd, LIRC_SET_REC_TIMEOUT, &longer) != 0 ||
        ioctl(fd, LIRC_SET_MEASURE_CARRIER_MODE, &on) != 0) {
        std::printf("FAIL scancode mode on %s: %s\n", device,
                    error.empty() ? std::strerror(errno) : error.c_str());
        return 1;
    }
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        std::string name;
        unsigned protocol = 0;
        std::string scancode;
        if (!(words >> kind >> name >> protocol >> scancode)) {
            continue;
        }
        lirc_scancode code{};
        code.rc_proto = static_cast<uint16_t>(protocol);
        code.scancode = std::strtoull(scancode.c_str(), nullptr, 0);
        if (write(fd, &code, sizeof code) != static_cast<ssize_t>(sizeof code)) {
            std::printf("SENT %s | refused %s\n", line.c_str(),
                        errno == EINVAL ? "EINVAL" : std::strerror(errno));
        } else {
            std::printf("SENT %s | %s\n", line.c_str(), sentFrame(mode2).c_str());
        }
    }
    uint32_t off = 0;
    (void)ioctl(fd, LIRC_SET_MEASURE_CARRIER_MODE, &off);
    (void)ioctl(fd, LIRC_SET_REC_TIMEOUT, &timeout);
    close(fd);
    close(mode2);
    return 0;
}

// One measure over all runs, in microseconds: "PERF name median worst".
void report(const char* name, std::vector<int64_t> ns)
{
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    const double median = n % 2 == 1 ? static_cast<double>(ns[n / 2])
                                     : static_cast<double>(ns[n / 2 - 1] + ns[n / 2]) / 2;
    std::printf("PERF %s %.1f %.1f\n", name, median / 1e3, static_cast<double>(ns.back()) / 1e3);
}

int perf(int runs, const char* shim, const char* floor, char** argv)
{
    std::vector<int64_t> floorRuns;
    for (int i = 0; i < runs; ++i) {
        std::string path = floor;
        char* floorArgv[] = {path.data(), nullptr};
        const Outcome child = runChild(floorArgv, -1);
        floorRuns.push_back(child.exitedNs - child.startedNs);
    }
    const std::string times = "/tmp/lirc-write-times";
    if (setenv("LD_PRELOAD", shim, 1) != 0 || setenv(timesVariable, times.c_str(), 1) != 0) {
        return 1;
    }
    std::vector<int64_t> toLoaded;
    std::vector<int64_t> loadedToWrite;
    std::vector<int64_t> toWrite;
    std::vector<int64_t> inWrite;
    std::vector<int64_t> afterWrite;
    std::vector<int64_t> frameEndToReturn;
    std::vector<int64_t> frameEndToExit;
    for (int i = 0; i < runs; ++i) {
        (void)std::remove(times.c_str());
        const Outcome child = runChild(argv, -1);
        // lirc_write_clock.so: "LOADED_NS ENTER_NS RETURN_NS RESULT AIRTIME_US" per write.
        std::istringstream line(readFile(times));
        int64_t loaded = 0;
        int64_t enter = 0;
        int64_t back = 0;
        long long result = 0;
        int64_t airtimeUs = 0;
        if (child.status != 0 || !(line >> loaded >> enter >> back >> result >> airtimeUs) ||
            result <= 0) {
            std::printf("PERF failed run %d: status %d, times '%s'\n", i, child.status,
                        line.str().c_str());
            return 1;
        }
        const int64_t frameEnd = enter + airtimeUs * 1000;
        toLoaded.push_back(loaded - child.startedNs);
        loadedToWrite.push_back(enter - loaded);
        toWrite.push_back(enter - child.startedNs);
        inWrite.push_back(back - enter);
        afterWrite.push_back(child.exitedNs - back);
        frameEndToReturn.push_back(back - frameEnd);
        frameEndToExit.push_back(child.exitedNs - frameEnd);
    }
    std::printf("PERF runs %d\n", runs);
    report("start_to_write", toWrite);
    report("start_to_loaded", toLoaded);
    report("loaded_to_write", loadedToWrite);
    report("write_call", inWrite);
    report("write_return_to_exit", afterWrite);
    report("frame_end_to_write_return", frameEndToReturn);
    report("frame_end_to_exit", frameEndToExit);
    report("floor_start_to_exit", floorRuns);
    return 0;
}

int trace(const char* path, const char* wire)
{
    if (access(path, R_OK) != 0) {
        (void)std::fprintf(stderr, "lirc_reader: %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    const lircText::TraceFrame frame = lircText::traceFrame(readFile(path), wire);
    if (!frame.error.empty()) {
        (void)std::fprintf(stderr, "lirc_reader: %s: %s\n", path, frame.error.c_str());
        return 1;
    }
    std::printf("carrier %u\ndurations", frame.carrierHz);
    for (const uint32_t d : frame.durations) {
        std::printf(" %u", d);
    }
    std::printf("\n");
    return 0;
}

// A whole decimal number of 0 or more, else -1.
int number(const char* text)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 && value <= 1000000 ? static_cast<int>(value)
                                                                         : -1;
}

int usage()
{
    (void)std::fprintf(stderr,
                       "usage: lirc_reader run DEVICE [--as UID] [--carrier] -- PROGRAM [ARG...]\n"
                       "       lirc_reader replay DEVICE FILE\n"
                       "       lirc_reader perf RUNS SHIM FLOOR -- PROGRAM [ARG...]\n"
                       "       lirc_reader trace VCD WIRE\n"
                       "       lirc_reader scancodes DEVICE FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "run" && argc >= 5) {
        int uid = -1;
        bool carrier = false;
        int i = 3;
        for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
            if (std::strcmp(argv[i], "--as") == 0 && i + 1 < argc && number(argv[i + 1]) >= 0) {
                uid = number(argv[++i]);
            } else if (std::strcmp(argv[i], "--carrier") == 0) {
                carrier = true;
            } else {
                return usage();
            }
        }
        return i + 1 < argc ? run(argv[2], uid, carrier, argv + i + 1) : usage();
    }
    if (mode == "replay" && argc == 4) {
        return replay(argv[2], argv[3]);
    }
    if (mode == "perf" && argc >= 7 && std::strcmp(argv[5], "--") == 0 && number(argv[2]) > 0) {
        return perf(number(argv[2]), argv[3], argv[4], argv + 6);
    }
    if (mode == "trace" && argc == 4) {
        return trace(argv[2], argv[3]);
    }
    if (mode == "scancodes" && argc == 4) {
        return scancodes(argv[2], argv[3]);
    }
    return usage();
}
