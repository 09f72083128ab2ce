// The protocols the kernel's IR encoders take, as "ir-ctl -S PROTOCOL:SCANCODE" names
// them: one table, one tiny pure encoder per protocol family, in the kernel's own
// timings (its rounded units: NEC 563, RC5 889, RC6 444, Sony 600, JVC 525, ...).
#ifndef IRCODE_PROTOCOLS_H
#define IRCODE_PROTOCOLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "press.h"

// A press longer than this is a stuck button, not a press; the kernel's lirc write
// takes 1024 durations at most, and so does a Flipper's raw signal.
constexpr std::uint32_t maxPressUs = 10000000;
constexpr std::size_t maxPressDurations = 1024;

// Pulse distance: a mark, then a short space for 0 or a long one for 1; a lead of
// 0 is none.  The frame ends with one more bit mark.
struct PulseDistanceTiming {
    std::uint32_t leadMark;
    std::uint32_t leadSpace;
    std::uint32_t bitMark;
    std::uint32_t zeroSpace;
    std::uint32_t oneSpace;
};

// Least significant bit first, then the closing mark; a trailerSpace of 0 leaves the
// frame ending in that mark.  Appends to *durations.
void pulseDistance(const PulseDistanceTiming& timing, std::uint32_t bitCount, std::uint64_t data,
                   std::uint32_t trailerSpace, std::vector<std::uint32_t>* durations);

// Bi-phase, most significant bit first: a 1 is space then mark (RC5), or mark then
// space where onesMarkFirst (RC6, MCIR2).  A half next to one of its kind lengthens
// it, which is how a 1 after a 0 becomes one double-length mark.  Appends.
void biphase(std::uint32_t half, bool onesMarkFirst, std::uint32_t bitCount, std::uint64_t data,
             std::vector<std::uint32_t>* durations);

// The durations the encoders build frames of, in microseconds.  The layouts read
// their units from here, so that the same layout code can be held against another
// encoder's roundings (v4l-utils' ir-ctl computes its own from nanoseconds).
struct ProtocolTimings {
    PulseDistanceTiming nec; // and Sanyo, whose units are NEC's
    std::uint32_t necRepeatSpace;
    PulseDistanceTiming jvc;
    PulseDistanceTiming sharp;
    std::uint32_t sharpEchoSpace; // between a Sharp frame's two halves
    std::uint32_t sonyLeadMark;
    std::uint32_t sonySpace;
    std::uint32_t sonyZeroMark;
    std::uint32_t sonyOneMark;
    std::uint32_t rc5Half;
    std::uint32_t rc6LeadMark;
    std::uint32_t rc6LeadSpace;
    std::uint32_t rc6Half;
    std::uint32_t rc6ToggleHalf;
    std::uint32_t rcmmLeadMark;
    std::uint32_t rcmmLeadSpace;
    std::uint32_t rcmmMark;
    std::uint32_t rcmmSpaces[4]; // for the symbols 00, 01, 10, 11
    std::uint32_t imonUnit;
    std::uint32_t mcir2LeadMark;
    std::uint32_t mcir2Half;
};

// The kernel's (Linux 6.1 drivers/media/rc), what beam sends.
ProtocolTimings kernelTimings();

using FrameEncoder = void (*)(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                              std::vector<std::uint32_t>* durations);

struct KernelProtocol {
    const char* name;           // as ir-ctl -S names it, e.g. "rc6_mce"
    std::uint32_t scancodeMask; // the bits a scancode of this protocol may have
    std::int32_t carrierHz;     // the protocol handler's carrier
    // One frame of scancode, mark first, without the trailing space (as the kernel's
    // lirc write sends it).  toggle is the value of the toggle bit where the protocol
    // has one (the kernel always sends 0).  Appends to *durations.
    FrameEncoder encode;
    // What a held button sends after the first frame: a repeat code (NEC's) or the
    // whole frame again.
    FrameEncoder encodeRepeat;
    std::uint32_t repeatPeriodUs;  // from one frame's start to the next one's
    std::uint32_t trailingSpaceUs; // the kernel's space after a frame, the least between two
    bool hasToggle;
};

// The table, in the kernel's order; count in *count.
const KernelProtocol* kernelProtocols(std::size_t* count);

// The protocol of that name; case, '-' and '_' are ignored as ir-ctl ignores them.
const KernelProtocol* findKernelProtocol(const std::string& name);

// PROTOCOL:SCANCODE (the scancode decimal, or hex after 0x) as ir-ctl -S takes it.
// Returns 0 and sets *protocol and *scancode, or -1 and sets *error to one line
// (unknown protocol, a scancode that is no number or too large for the protocol, a
// scancode the kernel refuses).
int parseKernelScancode(const std::string& text, const KernelProtocol** protocol,
                        std::uint32_t* scancode, std::string* error);

// One press of scancode with repeats held-button frames after it; each frame after
// the first starts repeatPeriodUs after the one before (the space between them
// makes up the difference, and is never shorter than the kernel's trailing space).
// No space follows the last frame.  Returns 0, or -1 with *error when repeats is
// negative or makes a press longer than maxPressUs or maxPressDurations.
int kernelPress(const KernelProtocol& protocol, std::uint32_t scancode, int toggle, int repeats,
                Press* press, std::string* error);

#endif
