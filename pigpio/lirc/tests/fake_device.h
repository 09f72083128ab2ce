// A fake /dev/lircN for the library's tests: it takes the library's device calls
// (the place of device.cpp), records them, and fails them on request.
#ifndef PIGPIO_LIRC_FAKE_DEVICE_H
#define PIGPIO_LIRC_FAKE_DEVICE_H

#include <cstdint>
#include <string>
#include <vector>

#include <linux/lirc.h>

namespace fake_lirc {

// gpio-ir-tx's features: it sends, and takes a carrier and a duty cycle.
constexpr uint32_t kTransmitter =
    LIRC_CAN_SEND_PULSE | LIRC_CAN_SET_SEND_CARRIER | LIRC_CAN_SET_SEND_DUTY_CYCLE;
// A receiver's: it records, and cannot send.
constexpr uint32_t kReceiver = LIRC_CAN_REC_MODE2;

struct Device {
    std::string path;
    uint32_t features = kTransmitter;
    // errno values the calls fail with; 0 lets them succeed.
    int openErrno = 0;
    int featuresErrno = 0;
    int carrierErrno = 0;
    int dutyCycleErrno = 0;
    int writeErrno = 0;
    // A transmitter that sends fewer durations than written, when not negative.
    long writeReports = -1;
    int lockErrno = 0; // flock fails with it (not EWOULDBLOCK: the lock's own answer)
    // A real file standing in for the device's inode: its flock is the device's, so
    // that senders in other processes (or other opens of it) contend for it.  Empty:
    // every lock is granted at once.
    std::string lockPath;
    // A write takes the frame's time, as the kernel's does.
    bool realTime = false;

    // What the library did with it.
    int opens = 0;
    int closes = 0;
    std::vector<uint32_t> carriers;
    std::vector<uint32_t> dutyCycles;
    std::vector<std::vector<uint32_t>> writes;
    // When, on CLOCK_MONOTONIC in ns: each lock and unlock granted, each write's start
    // and end.
    std::vector<uint64_t> locks;
    std::vector<uint64_t> unlocks;
    std::vector<std::pair<uint64_t, uint64_t>> writeTimes;
};

/* No devices, nothing recorded. */
void reset();
/* A device at path, listed after the ones before it. */
Device& add(const std::string& path, uint32_t features = kTransmitter);
/* The device at path, or nullptr. */
const Device* find(const std::string& path);
/* Every call in order, e.g. "open /dev/lirc0", "lock", "carrier 38462", "write 8892 4500 ...",
 * "unlock" (a lock refused as busy is not recorded). */
const std::vector<std::string>& calls();
/* Devices the library holds open. */
int openCount();

} // namespace fake_lirc

#endif
