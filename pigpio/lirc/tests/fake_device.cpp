// The fake device behind the library's device calls.  In a process of its own (a
// program run by the tests) it is set up from the environment: FAKE_LIRC_LOG=FILE
// makes one transmitter, /dev/lirc0, that appends each call to FILE;
// FAKE_LIRC_WRITE_ERRNO=N makes its writes fail with errno N; FAKE_LIRC_LOCK=FILE
// makes FILE its inode for flock, shared by every process given the same; and
// FAKE_LIRC_TIMES=FILE makes a write take the frame's time and appends
// "<event> <CLOCK_MONOTONIC ns>" lines to FILE for lock, carrier, write (its start),
// written (its end), unlock and close.
#include "fake_device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "lirc_core.h"
#include "pigpio_rules.h"

namespace fake_lirc {

namespace {

// File descriptors of the fake, far above what the process opens itself.
constexpr int kFirstFd = 1000;

struct Fake {
    std::deque<Device> devices; // a deque, so that references stay valid
    std::vector<std::string> calls;
    std::vector<int> openFds;                 // device index + kFirstFd
    std::vector<std::pair<int, int>> lockFds; // an open fd and its lock file's real one
    bool fromEnvironment = false;
    std::string logPath;
    std::string timesPath;
};

Fake& fake()
{
    static Fake instance;
    return instance;
}

void record(const std::string& call)
{
    Fake& f = fake();
    f.calls.push_back(call);
    if (f.logPath.empty()) {
        return;
    }
    std::FILE* log = std::fopen(f.logPath.c_str(), "a");
    if (log != nullptr) {
        (void)std::fprintf(log, "%s\n", call.c_str());
        (void)std::fclose(log); // the test reading it finds what is missing
    }
}

// `at`: when the event happened, if not now; writing the line takes time of its own.
void stamp(const char* event, uint64_t at = 0)
{
    const Fake& f = fake();
    if (f.timesPath.empty()) {
        return;
    }
    const std::string line = std::string(event) + " " +
                             std::to_string(at != 0 ? at : pigpio_rules::monotonicNs()) + "\n";
    const int fd = ::open(f.timesPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        pigpio_rules::writeAll(fd, line);
        ::close(fd);
    }
}

int realLockFd(int fd)
{
    for (const auto& [open, real] : fake().lockFds) {
        if (open == fd) {
            return real;
        }
    }
    return -1;
}

void setUpFromEnvironment()
{
    Fake& f = fake();
    if (f.fromEnvironment) {
        return;
    }
    f.fromEnvironment = true;
    const char* log = std::getenv("FAKE_LIRC_LOG");
    if (log == nullptr || !f.devices.empty()) {
        return;
    }
    f.logPath = log;
    Device& device = add("/dev/lirc0");
    const char* writeErrno = std::getenv("FAKE_LIRC_WRITE_ERRNO");
    device.writeErrno =
        writeErrno != nullptr ? static_cast<int>(std::strtol(writeErrno, nullptr, 10)) : 0;
    const char* lock = std::getenv("FAKE_LIRC_LOCK");
    device.lockPath = lock != nullptr ? lock : "";
    const char* times = std::getenv("FAKE_LIRC_TIMES");
    f.timesPath = times != nullptr ? times : "";
    device.realTime = !f.timesPath.empty();
}

Device* byFd(int fd)
{
    Fake& f = fake();
    const int index = fd - kFirstFd;
    for (const int open : f.openFds) {
        if (open == fd && index >= 0 && static_cast<size_t>(index) < f.devices.size()) {
            return &f.devices[static_cast<size_t>(index)];
        }
    }
    return nullptr;
}

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

void reset()
{
    Fake& f = fake();
    f.devices.clear();
    f.calls.clear();
    f.openFds.clear();
    for (const auto& fds : f.lockFds) {
        ::close(fds.second);
    }
    f.lockFds.clear();
    f.fromEnvironment = true;
    f.logPath.clear();
    f.timesPath.clear();
}

Device& add(const std::string& path, uint32_t features)
{
    Device& device = fake().devices.emplace_back();
    device.path = path;
    device.features = features;
    return device;
}

const Device* find(const std::string& path)
{
    for (const Device& device : fake().devices) {
        if (device.path == path) {
            return &device;
        }
    }
    return nullptr;
}

const std::vector<std::string>& calls()
{
    return fake().calls;
}

int openCount()
{
    return static_cast<int>(fake().openFds.size());
}

} // namespace fake_lirc

namespace pigpio_lirc {

using fake_lirc::Device;

int deviceOpen(const char* path)
{
    fake_lirc::setUpFromEnvironment();
    fake_lirc::Fake& f = fake_lirc::fake();
    fake_lirc::record(std::string("open ") + path);
    for (size_t i = 0; i < f.devices.size(); ++i) {
        Device& device = f.devices[i];
        if (device.path != path) {
            continue;
        }
        if (device.openErrno != 0) {
            return fake_lirc::fail(device.openErrno);
        }
        const int fd = fake_lirc::kFirstFd + static_cast<int>(i);
        if (!device.lockPath.empty()) {
            const int real = ::open(device.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (real < 0) {
                return -1;
            }
            f.lockFds.emplace_back(fd, real);
        }
        ++device.opens;
        f.openFds.push_back(fd);
        return fd;
    }
    return fake_lirc::fail(ENOENT);
}

int deviceIoctl(int fd, unsigned long request, uint32_t* value)
{
    Device* device = fake_lirc::byFd(fd);
    if (device == nullptr) {
        return fake_lirc::fail(EBADF);
    }
    if (request == LIRC_GET_FEATURES) {
        fake_lirc::record("features");
        if (device->featuresErrno != 0) {
            return fake_lirc::fail(device->featuresErrno);
        }
        *value = device->features;
        return 0;
    }
    // As lirc_dev: a device without the feature does not know the request.
    if (request == LIRC_SET_SEND_CARRIER) {
        fake_lirc::record("carrier " + std::to_string(*value));
        fake_lirc::stamp("carrier");
        if ((device->features & LIRC_CAN_SET_SEND_CARRIER) == 0) {
            return fake_lirc::fail(ENOTTY);
        }
        if (device->carrierErrno != 0) {
            return fake_lirc::fail(device->carrierErrno);
        }
        device->carriers.push_back(*value);
        return 0;
    }
    if (request == LIRC_SET_SEND_DUTY_CYCLE) {
        fake_lirc::record("duty " + std::to_string(*value));
        if ((device->features & LIRC_CAN_SET_SEND_DUTY_CYCLE) == 0) {
            return fake_lirc::fail(ENOTTY);
        }
        if (device->dutyCycleErrno != 0) {
            return fake_lirc::fail(device->dutyCycleErrno);
        }
        device->dutyCycles.push_back(*value);
        return 0;
    }
    fake_lirc::record("ioctl " + std::to_string(request));
    return fake_lirc::fail(ENOTTY);
}

int deviceLock(int fd, int operation)
{
    Device* device = fake_lirc::byFd(fd);
    if (device == nullptr) {
        return fake_lirc::fail(EBADF);
    }
    if (device->lockErrno != 0) {
        return fake_lirc::fail(device->lockErrno);
    }
    const int real = fake_lirc::realLockFd(fd);
    if (real >= 0 && ::flock(real, operation) != 0) {
        return -1;
    }
    const bool unlock = (operation & LOCK_UN) != 0;
    (unlock ? device->unlocks : device->locks).push_back(pigpio_rules::monotonicNs());
    const char* what = unlock ? "unlock" : "lock";
    fake_lirc::record(what);
    fake_lirc::stamp(what);
    return 0;
}

ssize_t deviceWrite(int fd, const void* data, size_t size)
{
    Device* device = fake_lirc::byFd(fd);
    if (device == nullptr) {
        return fake_lirc::fail(EBADF);
    }
    const auto* durations = static_cast<const uint32_t*>(data);
    const std::vector<uint32_t> written(durations, durations + size / sizeof(uint32_t));
    std::string call = "write";
    for (const uint32_t duration : written) {
        call += " " + std::to_string(duration);
    }
    fake_lirc::record(call);
    if (device->writeErrno != 0) {
        return fake_lirc::fail(device->writeErrno);
    }
    // What the kernel checks before it sends anything.
    uint64_t total = 0;
    for (const uint32_t duration : written) {
        total += duration;
        if (duration == 0) {
            return fake_lirc::fail(EINVAL);
        }
    }
    if (size % sizeof(uint32_t) != 0 || written.size() % 2 == 0 || written.size() > kMaxDurations ||
        total > kMaxFrameMicros) {
        return fake_lirc::fail(EINVAL);
    }
    device->writes.push_back(written);
    const uint64_t start = pigpio_rules::monotonicNs();
    if (device->realTime) {
        fake_lirc::stamp("write", start);
        pigpio_rules::sleepUntil(start + total * 1000u);
        fake_lirc::stamp("written");
    }
    device->writeTimes.emplace_back(start, pigpio_rules::monotonicNs());
    if (device->writeReports >= 0) {
        return static_cast<ssize_t>(device->writeReports) * 4;
    }
    return static_cast<ssize_t>(size);
}

void deviceClose(int fd)
{
    fake_lirc::Fake& f = fake_lirc::fake();
    Device* device = fake_lirc::byFd(fd);
    if (device == nullptr) {
        return;
    }
    fake_lirc::record("close " + device->path);
    fake_lirc::stamp("close");
    ++device->closes;
    for (size_t i = 0; i < f.lockFds.size(); ++i) {
        if (f.lockFds[i].first == fd) {
            ::close(f.lockFds[i].second);
            f.lockFds.erase(f.lockFds.begin() + static_cast<long>(i));
            break;
        }
    }
    for (size_t i = 0; i < f.openFds.size(); ++i) {
        if (f.openFds[i] == fd) {
            f.openFds.erase(f.openFds.begin() + static_cast<long>(i));
            break;
        }
    }
}

std::vector<std::string> deviceList()
{
    fake_lirc::setUpFromEnvironment();
    std::vector<std::string> paths;
    for (const Device& device : fake_lirc::fake().devices) {
        paths.push_back(device.path);
    }
    return paths;
}

} // namespace pigpio_lirc
