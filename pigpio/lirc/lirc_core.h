/*
 * The inner parts of the kernel transmitter library, shared by its source files
 * and its tests, and hidden from users (nothing here is exported from
 * libpigpio.so.1).
 */
#ifndef PIGPIO_LIRC_CORE_H
#define PIGPIO_LIRC_CORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

#include "pigpio.h"

namespace pigpio_lirc {

// pigpio's codes for two refusals that the project's slice of pigpio.h leaves out.
constexpr int kNotPermitted = -41;  // PI_NOT_PERMITTED: the wave is for another GPIO
constexpr int kBadFileWrite = -132; // PI_BAD_FILE_WRITE: the device failed a send

// What the kernel takes in one write: at most LIRCBUF_SIZE durations, together at
// most half a second.
constexpr size_t kMaxDurations = 1024;
constexpr uint64_t kMaxFrameMicros = 500000;

// The silence that follows every frame before another sender of this library may
// send: a receiver takes frames closer than this for one.
constexpr uint64_t kSilenceAfterNs = 40000000;
// How long a send waits for another sender to let the device go, and how often it
// looks.
constexpr uint64_t kLockWaitNs = 10000000000;
constexpr uint64_t kLockPollNs = 2000000;

// Where the overlay that makes a GPIO a transmitter is set, for the notes.
constexpr const char* kConfigFile = "/boot/firmware/config.txt";

/* A wave as the kernel takes it, or why it cannot. */
struct Frame {
    int status = 0;                  // 0, or the pigpio error code of the refusal
    std::string reason;              // why it was refused
    unsigned gpio = 0;               // the one line the wave switches
    std::vector<uint32_t> durations; // pulse, space, pulse, ..., pulse, in us
    uint32_t carrierHz = 0;
    uint32_t dutyCycle = 0;      // percent, 1..99
    uint64_t leadingMicros = 0;  // silence before the first pulse
    uint64_t trailingMicros = 0; // silence after the last pulse
};

/* The records of a created wave as pulses and spaces: each burst of carrier (on and
 * off records alternating, constant on and off times) one pulse of its whole
 * length, each run of silences one space. */
Frame toFrame(const gpioPulse_t* records, size_t count);

// ---- device_tree.cpp ---------------------------------------------------------------

/* An enabled gpio-ir-tx node of the device tree: its folder and the GPIO it sends on. */
struct TreeNode {
    std::string path;
    unsigned gpio = 0;
};

/* The device tree's root: PIGPIO_LIRC_DT_ROOT, else the running kernel's. */
std::string deviceTreeRoot();
/* The enabled gpio-ir-tx nodes under root, found by their compatible string, in the
 * order of their paths; none where there is no such node or no tree. */
std::vector<TreeNode> transmitterNodes(const std::string& root);
/* The board revision the tree names (system/linux,revision), or 0. */
unsigned treeRevision(const std::string& root);

// ---- sysfs.cpp: which device-tree node a /dev/lircN is the driver of --------------

/* The sysfs root: PIGPIO_LIRC_SYSFS, else /sys. */
std::string sysfsRoot();
/* The path with every link resolved, or empty where it does not exist. */
std::string resolvedPath(const std::string& path);
/* Whether sysfs is there to ask (it has a class folder). */
bool sysfsPresent(const std::string& sysfs);
/* The resolved device-tree node whose driver made the IR device at devicePath:
 * sysfs/class/lirc/lircN is the lirc device, its `device` the rc device, that one's
 * `device` the device the driver is bound to, and its `of_node` the node.  Empty for
 * a device without a node (a USB transmitter, rc-loopback). */
std::string nodeOfDevice(const std::string& sysfs, const std::string& devicePath);
/* Whether the gpio-ir-tx driver is loaded (sysfs/bus/platform/drivers/gpio-ir-tx). */
bool gpioIrTxLoaded(const std::string& sysfs);

// ---- transmitters.cpp: which /dev/lircN sends a wave --------------------------------

/* A device the library opened, or one bound to the tree that it could not open. */
struct Transmitter {
    std::string path;
    int fd = -1;           // -1: not open (permission denied)
    uint32_t features = 0; // LIRC_GET_FEATURES
    bool inTree = false;   // its driver is bound to a gpio-ir-tx node
    unsigned gpio = 0;     // that node's GPIO
};

/* How the device for a wave is found. */
enum class Choice {
    Named,  // PIGPIO_LIRC_DEVICE: that one; a gpio-ir-tx on another GPIO refuses the wave
    ByTree, // the one bound to the gpio-ir-tx node on the wave's GPIO
    First,  // no gpio-ir-tx in the tree: the first that transmits
};

struct Transmitters {
    bool opened = false; // false: gpioInitialise fails (a note said why)
    Choice choice = Choice::First;
    std::vector<Transmitter> devices; // in /dev/lircN order
    std::vector<TreeNode> tree;       // the tree's gpio-ir-tx nodes
};

/* gpioInitialise's part: opens the devices a wave may be sent with (the named one,
 * those bound to the tree's nodes, or the first that transmits), with a note on
 * stderr where none can be had or the choice is not plain. */
Transmitters openTransmitters();
/* The device to send a wave for `gpio` with: its index in devices, or a negative
 * pigpio error after one line on stderr (from gpioWaveCreate) saying why not. */
int transmitterFor(const Transmitters& open, unsigned gpio);
/* Closes every open device. */
void closeTransmitters(Transmitters& open);

// ---- pigpio_lirc.cpp ------------------------------------------------------------------

/* Takes the exclusive lock (flock) on the open device, waiting at most waitNs for
 * another sender to let it go: 0, or kBadFileWrite after a note saying why not. */
int lockTransmitter(int fd, const std::string& path, uint64_t waitNs);

// ---- the device: device.cpp, or a fake in the tests ---------------------------------
// Each answers as the system call of its name does: -1 and errno on failure.

int deviceOpen(const char* path);
int deviceIoctl(int fd, unsigned long request, uint32_t* value);
int deviceLock(int fd, int operation); // flock(2)
ssize_t deviceWrite(int fd, const void* data, size_t size);
void deviceClose(int fd);
/* The kernel's IR devices, /dev/lirc0, /dev/lirc1, ..., in number order. */
std::vector<std::string> deviceList();

} // namespace pigpio_lirc

#endif
