// The kernel's IR devices, as the library reaches them.  The tests link a fake in
// place of this file (tests/fake_device.cpp).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

#include "lirc_core.h"

namespace pigpio_lirc {

int deviceOpen(const char* path)
{
    return ::open(path, O_RDWR | O_CLOEXEC);
}

int deviceIoctl(int fd, unsigned long request, uint32_t* value)
{
    return ::ioctl(fd, request, value);
}

int deviceLock(int fd, int operation)
{
    return ::flock(fd, operation);
}

ssize_t deviceWrite(int fd, const void* data, size_t size)
{
    return ::write(fd, data, size);
}

void deviceClose(int fd)
{
    ::close(fd);
}

std::vector<std::string> deviceList()
{
    std::vector<std::pair<unsigned long, std::string>> found;
    DIR* dir = ::opendir("/dev");
    if (dir == nullptr) {
        return {};
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "lirc", 4) != 0 || name[4] == '\0') {
            continue;
        }
        char* end = nullptr;
        const unsigned long number = std::strtoul(name + 4, &end, 10);
        if (std::isdigit(static_cast<unsigned char>(name[4])) != 0 && *end == '\0') {
            found.emplace_back(number, std::string("/dev/") + name);
        }
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (const auto& device : found) {
        paths.push_back(device.second);
    }
    return paths;
}

} // namespace pigpio_lirc
