// The clock tests time processes on, and on which the stand-in writes where its
// own 0 lies (PIGPIO_SIM_ORIGIN).
#ifndef BEAM_TESTS_CLOCK_H
#define BEAM_TESTS_CLOCK_H

// CLOCK_MONOTONIC now, in nanoseconds.
long long monotonicNs();

#endif
