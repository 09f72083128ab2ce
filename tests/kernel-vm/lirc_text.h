// The text forms of the kernel-VM stage: what the reader prints about a frame the
// kernel received and decoded, and the durations of a frame in a stand-in trace.
// Pure functions, so that they are tested on the host without a lirc device.
#ifndef BEAM_TESTS_KERNEL_VM_LIRC_TEXT_H
#define BEAM_TESTS_KERNEL_VM_LIRC_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace lircText {

// Bytes as one line: printable ASCII as is, backslash doubled, \n \r \t, and
// every other byte as \xHH.
std::string escaped(const std::string& bytes);

// What a reader in LIRC_MODE_MODE2 got for one frame, as read: samples up to and
// including the timeout marker.
struct Mode2 {
    std::string durations; // "8892 4500 546 ...": the frame, first pulse first
    std::string carriers;  // "38462": every carrier report, space-separated
};

// The durations are printed as plain numbers only where they have the kind a
// frame has there (a pulse first, then a space after each pulse and a pulse after
// each space): any other sample is printed with its kind ("space:120",
// "timeout:125000", "overflow", "0x05000000"), so that comparing the line also
// compares the kinds.  A space before the first pulse is the gap since the
// previous frame, whose length depends on when that one was sent, and is left out;
// the timeout marker that ends a frame after its last pulse is left out too, and a
// frame without one ends in " unended".  Carrier reports are taken out of the
// sequence into `carriers`.
Mode2 mode2Text(const std::vector<uint32_t>& samples);

// One decoded frame: "0x45 proto 9", with " repeat" and " toggle" for the flags.
std::string scancodeText(uint64_t scancode, uint16_t protocol, uint16_t flags);

// A frame in a VCD trace of the pigpio stand-in, demodulated as a receiver would.
struct TraceFrame {
    std::vector<uint32_t> durations; // pulse, space, ..., pulse (us)
    uint32_t carrierHz = 0;          // 0 when the pulses carry no carrier
    std::string error;               // why there is no frame, else empty
};

// Demodulates wire `wire` of a VCD trace (1 us timescale).  The carrier period is
// the shortest time between two rising edges; a run of carrier periods whose
// silences are all shorter than three periods is one pulse.  A pulse lasts its
// whole periods, from its first rising edge to where the rising edge after its
// last would be, because that is how a pulse duration counts the carrier (a
// 342-period burst of 26 us is 8892 us, though its light ends with the last
// falling edge, 13 us earlier); a pulse that stays high for longer than that (no
// carrier) lasts to its falling edge.  A trace that ends with the line high, or
// with no pulse, has no frame.
TraceFrame traceFrame(const std::string& vcd, const std::string& wire);

} // namespace lircText

#endif
