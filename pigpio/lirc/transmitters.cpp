// Which /dev/lircN a wave goes out on.  The device numbers follow the order in
// which drivers registered, so on a board with two transmitters, or a USB one that
// came first, /dev/lirc0 need not be the GPIO the wave is for.  Where the device tree
// has gpio-ir-tx nodes, the device is the one whose driver is bound to the node on
// the wave's GPIO, found through sysfs; the GPIO is known only once the wave is
// created, so gpioInitialise opens every such device and gpioWaveCreate picks one.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <linux/lirc.h>
#include <sys/stat.h>

#include "lirc_core.h"
#include "pigpio_rules.h"

namespace pigpio_lirc {

namespace {

using pigpio_rules::complain;

// What a Raspberry Pi needs for the programs' GPIO 24 to become a transmitter.
constexpr const char* kOverlayLine = "dtoverlay=gpio-ir-tx,gpio_pin=24";

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

bool denied(int openErrno)
{
    return openErrno == EACCES || openErrno == EPERM;
}

Transmitter transmitterOf(const Probe& tried)
{
    Transmitter device;
    device.path = tried.path;
    device.fd = tried.fd;
    device.features = tried.features;
    return device;
}

// The device's group decides who may use it; udev sets it, so it differs by system.
void noteDenied(const char* fn, const std::string& path)
{
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

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items)
{
    std::string list;
    for (size_t i = 0; i < items.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return list;
}

std::string gpioList(const std::vector<TreeNode>& tree)
{
    std::vector<std::string> gpios;
    gpios.reserve(tree.size());
    for (const TreeNode& node : tree) {
        gpios.push_back(std::to_string(node.gpio));
    }
    return listed(gpios);
}

// What makes `gpio` a transmitter on a Raspberry Pi.
std::string overlayFix(unsigned gpio)
{
    return pigpio_rules::format("put dtoverlay=gpio-ir-tx,gpio_pin=%u in %s and reboot", gpio,
                                kConfigFile);
}

// Why no /dev/lirc device belongs to a node of the tree.
const char* unboundReason(const std::string& sysfs)
{
    return gpioIrTxLoaded(sysfs)
               ? "the gpio-ir-tx driver is loaded but not bound to it (dmesg may say why, e.g. "
                 "its GPIO is in use)"
               : "the gpio-ir-tx driver is not loaded (sudo modprobe gpio-ir-tx)";
}

// ---- gpioInitialise: the device PIGPIO_LIRC_DEVICE names ---------------------------

Transmitters openNamed(const std::string& path, std::vector<TreeNode> tree)
{
    Transmitters open;
    open.choice = Choice::Named;
    open.tree = std::move(tree);
    const Probe tried = probe(path);
    if (tried.fd < 0) {
        const char* fn = "gpioInitialise";
        if (denied(tried.openErrno)) {
            noteDenied(fn, path);
        } else if (tried.openErrno != 0) {
            complain(fn, "cannot open %s (PIGPIO_LIRC_DEVICE): %s", path.c_str(),
                     std::strerror(tried.openErrno));
        } else if (tried.featuresErrno != 0) {
            complain(fn, "%s is not an IR device: %s", path.c_str(),
                     std::strerror(tried.featuresErrno));
        } else {
            complain(fn, "%s cannot transmit: it is an IR receiver", path.c_str());
        }
        return open;
    }
    Transmitter device = transmitterOf(tried);
    const std::string node = nodeOfDevice(sysfsRoot(), path);
    for (const TreeNode& candidate : open.tree) {
        if (!node.empty() && resolvedPath(candidate.path) == node) {
            device.inTree = true;
            device.gpio = candidate.gpio;
            break;
        }
    }
    open.devices.push_back(device);
    open.opened = true;
    return open;
}

// ---- gpioInitialise: the first device that transmits ---------------------------------

Transmitters openFirst(std::vector<TreeNode> tree)
{
    Transmitters open;
    open.choice = Choice::First;
    open.tree = std::move(tree);
    std::string firstDenied;
    size_t receivers = 0;
    std::vector<std::string> others; // further transmitters, for the note
    for (const std::string& path : deviceList()) {
        const Probe tried = probe(path);
        if (tried.fd >= 0 && open.devices.empty()) {
            open.devices.push_back(transmitterOf(tried));
        } else if (tried.fd >= 0) {
            others.push_back(path);
            deviceClose(tried.fd);
        } else if (denied(tried.openErrno) && firstDenied.empty()) {
            firstDenied = path;
        } else if (tried.openErrno == 0 && tried.featuresErrno == 0) {
            ++receivers;
        }
    }
    const char* fn = "gpioInitialise";
    if (!open.devices.empty()) {
        if (!others.empty()) {
            const std::string& first = open.devices.front().path;
            others.insert(others.begin(), first);
            complain(fn,
                     "several IR transmitters (%s): this sends with the first, %s; name the "
                     "one to use in PIGPIO_LIRC_DEVICE",
                     listed(others).c_str(), first.c_str());
        }
        open.opened = true;
    } else if (!firstDenied.empty()) {
        noteDenied(fn, firstDenied);
    } else {
        complain(fn,
                 "no IR transmitter (%s): on a Raspberry Pi, add %s to %s and reboot; for a "
                 "USB transmitter, name its device in PIGPIO_LIRC_DEVICE",
                 receivers > 0 ? "the /dev/lirc devices here only receive" : "no /dev/lirc device",
                 kOverlayLine, kConfigFile);
    }
    return open;
}

// ---- gpioInitialise: the devices bound to the tree's gpio-ir-tx nodes --------------------

Transmitters openBound(std::vector<TreeNode> tree, const std::string& sysfs)
{
    Transmitters open;
    open.choice = Choice::ByTree;
    open.tree = std::move(tree);
    std::vector<std::string> nodes;
    nodes.reserve(open.tree.size());
    for (const TreeNode& node : open.tree) {
        nodes.push_back(resolvedPath(node.path));
    }
    for (const std::string& path : deviceList()) {
        const std::string node = nodeOfDevice(sysfs, path);
        const auto match = std::find(nodes.begin(), nodes.end(), node);
        if (node.empty() || match == nodes.end()) {
            continue; // not a gpio-ir-tx of the tree: a USB transmitter, a receiver
        }
        const Probe tried = probe(path);
        if (tried.fd >= 0 || denied(tried.openErrno)) {
            Transmitter device = transmitterOf(tried);
            device.inTree = true;
            device.gpio = open.tree[static_cast<size_t>(match - nodes.begin())].gpio;
            open.devices.push_back(device);
        }
    }
    const char* fn = "gpioInitialise";
    const auto usable = [](const Transmitter& d) { return d.fd >= 0; };
    if (std::any_of(open.devices.begin(), open.devices.end(), usable)) {
        open.opened = true;
    } else if (!open.devices.empty()) {
        noteDenied(fn, open.devices.front().path);
    } else {
        std::vector<std::string> where;
        where.reserve(open.tree.size());
        for (const TreeNode& node : open.tree) {
            where.push_back("GPIO " + std::to_string(node.gpio) + ", " + node.path);
        }
        complain(
            fn,
            "no driver is bound to the IR transmitter%s in the device tree (gpio-ir-tx on %s): %s",
            open.tree.size() > 1 ? "s" : "", listed(where).c_str(), unboundReason(sysfs));
    }
    return open;
}

bool hasNodeOn(const std::vector<TreeNode>& tree, unsigned gpio)
{
    return std::any_of(tree.begin(), tree.end(),
                       [gpio](const TreeNode& node) { return node.gpio == gpio; });
}

// The wave's GPIO has no transmitter in the tree at all.
int refuseGpio(const std::vector<TreeNode>& tree, unsigned gpio)
{
    complain("gpioWaveCreate",
             "the wave is for GPIO %u, but the IR transmitter (gpio-ir-tx in the device tree) "
             "is on GPIO %s: %s",
             gpio, gpioList(tree).c_str(), overlayFix(gpio).c_str());
    return kNotPermitted;
}

} // namespace

Transmitters openTransmitters()
{
    std::vector<TreeNode> tree = transmitterNodes(deviceTreeRoot());
    const char* named = std::getenv("PIGPIO_LIRC_DEVICE");
    if (named != nullptr && *named != '\0') {
        return openNamed(named, std::move(tree));
    }
    const std::string sysfs = sysfsRoot();
    // Without sysfs to match devices to nodes, the first one, checked against the tree.
    if (!tree.empty() && sysfsPresent(sysfs)) {
        return openBound(std::move(tree), sysfs);
    }
    return openFirst(std::move(tree));
}

int transmitterFor(const Transmitters& open, unsigned gpio)
{
    const char* fn = "gpioWaveCreate";
    switch (open.choice) {
    case Choice::Named: {
        const Transmitter& device = open.devices.front();
        if (device.inTree && device.gpio != gpio) {
            const std::string fix =
                hasNodeOn(open.tree, gpio)
                    ? "unset PIGPIO_LIRC_DEVICE, or name the transmitter on GPIO " +
                          std::to_string(gpio)
                    : overlayFix(gpio);
            complain(fn,
                     "the wave is for GPIO %u, but %s (PIGPIO_LIRC_DEVICE) is the IR transmitter "
                     "on GPIO %u (gpio-ir-tx in the device tree): %s",
                     gpio, device.path.c_str(), device.gpio, fix.c_str());
            return kNotPermitted;
        }
        return 0;
    }
    case Choice::First:
        if (!open.tree.empty() && !hasNodeOn(open.tree, gpio)) {
            return refuseGpio(open.tree, gpio);
        }
        return 0;
    case Choice::ByTree:
        break;
    }
    if (!hasNodeOn(open.tree, gpio)) {
        return refuseGpio(open.tree, gpio);
    }
    for (size_t i = 0; i < open.devices.size(); ++i) {
        const Transmitter& device = open.devices[i];
        if (device.gpio != gpio) {
            continue;
        }
        if (device.fd >= 0) {
            return static_cast<int>(i);
        }
        noteDenied(fn, device.path);
        return kNotPermitted;
    }
    const auto node = std::find_if(open.tree.begin(), open.tree.end(),
                                   [gpio](const TreeNode& n) { return n.gpio == gpio; });
    complain(fn,
             "the IR transmitter for GPIO %u (gpio-ir-tx in the device tree, %s) has no "
             "driver bound: %s",
             gpio, node->path.c_str(), unboundReason(sysfsRoot()));
    return kNotPermitted;
}

void closeTransmitters(Transmitters& open)
{
    for (Transmitter& device : open.devices) {
        if (device.fd >= 0) {
            deviceClose(device.fd);
            device.fd = -1;
        }
    }
}

} // namespace pigpio_lirc
