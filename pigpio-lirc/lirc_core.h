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

/* The device tree's root: PIGPIO_LIRC_DT_ROOT, else the running kernel's. */
std::string deviceTreeRoot();
/* The GPIOs of the enabled gpio-ir-tx nodes under root, found by their compatible
 * string; none where there is no such node or no tree. */
std::vector<unsigned> transmitterGpios(const std::string& root);
/* The board revision the tree names (system/linux,revision), or 0. */
unsigned treeRevision(const std::string& root);

// ---- the device: device.cpp, or a fake in the tests ---------------------------------
// Each answers as the system call of its name does: -1 and errno on failure.

int deviceOpen(const char* path);
int deviceIoctl(int fd, unsigned long request, uint32_t* value);
ssize_t deviceWrite(int fd, const void* data, size_t size);
void deviceClose(int fd);
/* The kernel's IR devices, /dev/lirc0, /dev/lirc1, ..., in number order. */
std::vector<std::string> deviceList();

} // namespace pigpio_lirc

#endif
