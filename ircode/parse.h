// The two ways people write a signal by hand: a Pronto code and raw durations as
// ir-ctl reads and writes them.  Both parsers refuse rather than guess: each error is
// one line that says what is wrong and where.
#ifndef IRCODE_PARSE_H
#define IRCODE_PARSE_H

#include <cstdint>
#include <string>

#include "press.h"

// Longest press any path sends: the kernel's lirc write takes at most 500 ms and
// 1024 durations; pigpio at most 11999 records.
constexpr std::uint32_t maxDurationUs = 0xFFFFFE; // ir-ctl's largest value
constexpr std::size_t maxDurations = 1024;

// A Pronto code: 16-bit hex words separated by blanks.  The learned forms are read:
// 0000 (modulated, the carrier from word 1) and 0100 (unmodulated, carrierHz 0);
// the short forms RC5 (5000), RC5X (5001), RC6 (6000) and NEC1 (900A) are refused
// by name.  One press: the intro sequence once, or the repeat sequence once when
// there is no intro; with repeats, the repeat sequence that many times after it.
// The last off time is dropped (the press ends with a mark); press->frames counts
// the sequences sent.  The duty cycle is left as it was.
// Returns 0 and fills *press, or -1 with *error.
int parsePronto(const std::string& text, int repeats, Press* press, std::string* error);

// Raw durations as ir-ctl reads a file: "+9000 -4500 +560 ..." or bare numbers,
// separated by blanks, commas or line ends, alternating, or keyword lines
// "pulse N" / "space N" (and "timeout N"), with # and // comments; consecutive
// pulses (or spaces) add up, a leading space is dropped, and a trailing space is
// dropped as ir-ctl drops it (*droppedUs says how long it was, 0 for none).  Unlike
// ir-ctl, a value of 0, a negative one, one above maxDurationUs and more than
// maxDurations values are refused, not fixed up; "scancode" and "duty_cycle" lines
// are refused.  Fills press->durations, and press->carrierHz from a "carrier N"
// line (10000..500000); the rest of *press is left as it was.
int parseRaw(const std::string& text, Press* press, std::uint32_t* droppedUs, std::string* error);

#endif
