// What the kernel library's tests share: waves as the programs build them, the
// durations the kernel should get for them, and temporary folders (TempDir, from
// tests/support/files.h).
#ifndef PIGPIO_LIRC_TEST_H
#define PIGPIO_LIRC_TEST_H

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "pigpio.h"

using Records = std::vector<gpioPulse_t>;
using Durations = std::vector<uint32_t>;

/* Whole carrier periods on one line: an on record and an off record each. */
void addBurst(Records& records, unsigned gpio, int periods, uint32_t onUs, uint32_t offUs);
void addSilence(Records& records, uint32_t us);

/* The programs' NEC frame of a code of '0' and '1': 342 periods of 13/13 us, 4500 us,
 * per bit 21 periods and 1688 or 562 us, and 21 periods. */
Records necRecords(const std::string& code, unsigned gpio = 24);
/* What the kernel should be given for it: 8892, 4500, per bit 546 and 1688 or 562, 546. */
Durations necDurations(const std::string& code);

/* Big-endian 32-bit cells, as a device-tree property holds them. */
std::string cells(const std::vector<uint32_t>& values);

::testing::AssertionResult contains(const std::string& text, const std::string& part);

/* gpioInitialise's answer and what it said on stderr. */
std::pair<int, std::string> initialise();
/* The programs' calls up to the create: the wave id, or pigpio's error. */
int create(Records records);

/* The library in this process on a fake device: no devices yet, and an empty device
 * tree and sysfs of the test's own, so that this machine's never decide a test. */
class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const TempDir& tree() const
    {
        return tree_;
    }
    const TempDir& sysfs() const
    {
        return sysfs_;
    }

  private:
    TempDir tree_;
    TempDir sysfs_;
};

#endif
