// The protocols the kernel's IR encoders take, as "ir-ctl -S PROTOCOL:SCANCODE" names
// them: one table, one tiny pure encoder per protocol family, in the kernel's own
// timings (its rounded units: NEC 563, RC5 889, RC6 444, Sony 600, JVC 525, ...).
#ifndef IRCODE_PROTOCOLS_H
#define IRCODE_PROTOCOLS_H

#include <cstdint>
#include <string>
#include <vector>

#include "press.h"

struct KernelProtocol {
    const char* name;           // as ir-ctl -S and the kernel's sysfs name it, e.g. "rc6_mce"
    std::uint32_t scancodeMask; // the bits a scancode of this protocol may have
    std::int32_t carrierHz;     // the protocol handler's carrier
    // One frame of scancode, mark first, without the trailing space (as the kernel's
    // lirc write sends it).  toggle is the value of the toggle bit where the protocol
    // has one (the kernel always sends 0).  Appends to *durations.
    void (*encode)(std::uint32_t scancode, int toggle, std::vector<std::uint32_t>* durations);
    // What a held button sends after the first frame, and how far apart the frames'
    // starts are: a repeat code (NEC's) or the whole frame again.
    void (*encodeRepeat)(std::uint32_t scancode, int toggle, std::vector<std::uint32_t>* durations);
    std::uint32_t repeatPeriodUs;
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
// makes up the difference).  Returns 0, or -1 with *error when repeats make a
// press that no sender could send (over maxPressUs).
int kernelPress(const KernelProtocol& protocol, std::uint32_t scancode, int toggle, int repeats,
                Press* press, std::string* error);

#endif
