// The fake device behind the library's device calls.  In a process of its own (a
// program run by the tests) it is set up from the environment: FAKE_LIRC_LOG=FILE
// makes one transmitter, /dev/lirc0, that appends each call to FILE, and
// FAKE_LIRC_WRITE_ERRNO=N makes its writes fail with errno N.
#include "fake_device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "lirc_core.h"

namespace fake_lirc {

namespace {

// File descriptors of the fake, far above what the process opens itself.
constexpr int kFirstFd = 1000;

struct Fake {
    std::deque<Device> devices; // a deque, so that references stay valid
    std::vector<std::string> calls;
    std::vector<int> openFds; // device index + kFirstFd
    bool fromEnvironment = false;
    std::string logPath;
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
    f.fromEnvironment = true;
    f.logPath.clear();
}

Device& add(const std::string& path, uint32_t features)
{
    Device& device = fake().devices.emplace_back();
    device.path = path;
    device.features = features;
    return device;
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
        ++device.opens;
        const int fd = fake_lirc::kFirstFd + static_cast<int>(i);
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
    ++device->closes;
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
