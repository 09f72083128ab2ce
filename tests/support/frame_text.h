// Frames written as text, so a test can state a whole frame in one line.
#ifndef BEAM_TESTS_FRAME_TEXT_H
#define BEAM_TESTS_FRAME_TEXT_H

#include <string>

#include <pigpio.h>

// The envelope of a frame: "m" and the length in microseconds of each burst (its
// on and off records together), "s" and the length of each silence, in order,
// e.g. "m8892s4500m546s1688m546".
std::string envelopeText(const gpioPulse_t* pulses, int count);

// The NEC envelope a code should give with the frame both programs send: every
// '0' or '1' one burst and gap, anything else nothing, then the trailing burst.
std::string necEnvelope(const std::string& code);

#endif
