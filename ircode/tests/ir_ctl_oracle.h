// ir-ctl (v4l-utils) run on the fake transmitter, as an oracle: what it would send,
// and the timings its user-space encoders compute, which differ from the kernel's.
#ifndef IRCODE_TESTS_IR_CTL_ORACLE_H
#define IRCODE_TESTS_IR_CTL_ORACLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "protocols.h"

// v4l-utils' ir-ctl computes each duration from nanoseconds (562500 x 16 = 9000 us)
// where the kernel multiplies a rounded unit (563 x 16 = 9008).  Its 1.22.1 sends
// Sharp's bits with 1000/2000 us spaces, fixed upstream since.
ProtocolTimings v4lUtilsTimings();

struct IrCtlRun {
    int status = -1; // the wait status
    std::int32_t carrierHz = 0;
    std::vector<std::uint32_t> durations;
};

#ifdef FAKE_LIRC_TRANSMITTER
// ir-ctl -d FAKE followed by sendArgs ("-S", "nec:0x408" or "-k", FILE, "-K", KEY).
IrCtlRun runIrCtl(const std::vector<std::string>& sendArgs);
#endif

#endif
