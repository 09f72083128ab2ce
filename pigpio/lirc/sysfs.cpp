// Which device-tree node a /dev/lircN belongs to, as the kernel lays it out in
// sysfs (drivers/media/rc/rc-main.c and lirc_dev.c, drivers/base/core.c):
//
//   /sys/class/lirc/lirc1 -> ../../devices/platform/gpio-ir-transmitter@18/rc/rc1/lirc1
//   .../rc/rc1/lirc1/device -> ../../rc1            the lirc device's parent, the rc device
//   .../rc/rc1/device -> ../../../gpio-ir-transmitter@18   the device the driver is bound to
//   .../gpio-ir-transmitter@18/of_node -> /sys/firmware/devicetree/base/gpio-ir-transmitter@18
//
// An rc device without a parent (rc-loopback, in /sys/devices/virtual/rc) has no
// `device` link, and a USB transmitter's parent has no of_node.  The rc device
// exists only while its driver is bound, so a node reached this way is bound.
#include <cstdlib>
#include <sys/stat.h>

#include "lirc_core.h"

namespace pigpio_lirc {

std::string sysfsRoot()
{
    const char* named = std::getenv("PIGPIO_LIRC_SYSFS");
    return named != nullptr && *named != '\0' ? named : "/sys";
}

std::string resolvedPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string result = resolved;
    std::free(resolved);
    return result;
}

bool sysfsPresent(const std::string& sysfs)
{
    struct stat info {};
    return ::stat((sysfs + "/class").c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string nodeOfDevice(const std::string& sysfs, const std::string& devicePath)
{
    // The name the kernel gave it, also when the path is a link (a udev alias).
    const std::string real = resolvedPath(devicePath);
    const std::string& path = real.empty() ? devicePath : real;
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty()) {
        return {};
    }
    return resolvedPath(sysfs + "/class/lirc/" + name + "/device/device/of_node");
}

bool gpioIrTxLoaded(const std::string& sysfs)
{
    struct stat info {};
    return ::stat((sysfs + "/bus/platform/drivers/gpio-ir-tx").c_str(), &info) == 0;
}

} // namespace pigpio_lirc
