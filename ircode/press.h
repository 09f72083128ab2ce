// A press of a remote's button as it goes on air: one carrier, its duty cycle, and
// the marks (carrier on) and spaces (off) in microseconds, mark first, alternating.
// Every source (a protocol's encoder, a Pronto code, raw durations, a database's
// file) is turned into this, and the transmitter turns this into the wave.
#ifndef IRCODE_PRESS_H
#define IRCODE_PRESS_H

#include <cstdint>
#include <string>
#include <vector>

struct Press {
    std::int32_t carrierHz = 38000; // 0: unmodulated
    double dutyCycle = 0.5;         // of a carrier period, 0 < d < 1
    // Mark first; a space at the end is a silence the source sends after its last mark.
    std::vector<std::uint32_t> durations;
    int frames = 1;  // how many frames the durations hold, for the summary line
    int toggle = -1; // the toggle bit's value sent, -1 where the signal has none
};

// Appends a mark or a space: one of the same kind as the last one adds to it, so
// that encoders can write bits as they are defined (a bi-phase bit's half after
// the half before) and the press still alternates.  isMark says which kind.
void appendDuration(std::vector<std::uint32_t>* durations, bool isMark, std::uint32_t us);

// "+9000 -4500 +560 ..." : the durations as ir-ctl writes them.
std::string durationText(const std::vector<std::uint32_t>& durations);

#endif
