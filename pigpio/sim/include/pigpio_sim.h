/*
 * Inspection and control of the pigpio stand-in, for tests in the same process.
 * In code and environment variables the stand-in is called `sim` (pigpio/sim,
 * pigpioSim*, PIGPIO_SIM_*), because it simulates a Raspberry Pi, and a short word
 * without a hyphen fits names and environment variables alike.
 * Nothing here exists in the real library: programs never include this header;
 * only tests do.  Processes that are not tests steer the stand-in through the
 * PIGPIO_SIM_* environment variables instead (see README.md).
 *
 * Times are microseconds on the stand-in's clock, which starts at 0 when the
 * library is loaded or reset.  On the real-time clock it follows CLOCK_MONOTONIC;
 * on the virtual clock it moves only when time_sleep is called.
 */
#ifndef PIGPIO_SIM_H
#define PIGPIO_SIM_H

#include <stdint.h>

#include "pigpio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the state of a freshly loaded library: pigpio not initialised, no waves,
 * no pending pulses, every line an input at level 0, the clock at 0, call log,
 * edges and kept wave empty, and where pigpio's signal handler is, the disposition
 * from before the first gpioInitialise put back.  Faults, the clock mode and the rest of the
 * PIGPIO_SIM_* environment are read again; the setters below override them. */
void pigpioSimReset(void);

/* Fault injection: sets the fault of a PIGPIO_SIM_FAIL_* variable (`name`, e.g.
 * "PIGPIO_SIM_FAIL_WAVE_CREATE") as that variable does, until the next reset; a
 * value the variable would ignore clears it.  PIGPIO_SIM_FAIL_INIT: non-zero makes
 * every gpioInitialise return PI_INIT_FAILED; the others: a negative pigpio error
 * code that the call returns instead of doing its work.  0, or -1 for a name that
 * is no fault. */
int pigpioSimSetFault(const char* name, int value);

/* The same for one fault each, kept for the tests written with them; the note of a
 * refused gpioInitialise names the function that set its fault. */
void pigpioSimFailInitialise(int fail);
void pigpioSimFailWaveCreate(int errorCode);
void pigpioSimFailWaveTxSend(int errorCode);

/* Sends `signo` to this process, through its real signal mask, when the clock
 * reaches `micros` after the first gpioWaveTxSend since the reset: a time_sleep that
 * reaches that point stops there for it (a blocked signal stays pending, else its
 * handler runs), then sleeps on.  Once; 0 clears it.  (PIGPIO_SIM_SIGNAL.) */
void pigpioSimSignalAfterSend(int signo, uint64_t micros);

/* Non-zero (the default after a reset): gpioInitialise installs pigpio's signal
 * handlers, as pigpio does.  0: it leaves the process's own alone, for a test
 * process that needs them (libFuzzer's timeout alarm is a SIGALRM). */
void pigpioSimSignalHandlers(int install);

/* Non-zero: the virtual clock, where time_sleep advances time instead of sleeping. */
void pigpioSimUseVirtualClock(int on);
uint64_t pigpioSimNowMicros(void);

/* Every call into pigpio's interface since the last reset, in order, one line each,
 * as "name(arguments) = result", or "name(arguments)" for functions without a
 * result: "gpioSetMode(24, 1) = 0", "gpioWaveAddGeneric(2103, pulses) = 2103",
 * "time_sleep(0.1)", "gpioTerminate()".  A pulse pointer shows as "pulses", or
 * "NULL" when null.  The index runs from 0; out of range gives NULL. */
int pigpioSimCallCount(void);
const char* pigpioSimCall(int index);

/* The records of the most recently created wave, as stored after merging; kept
 * after the wave is deleted and pigpio terminated, until the next reset or create.
 * NULL with *count 0 when no wave was created. */
const gpioPulse_t* pigpioSimWavePulses(int* count);

/* The level changes of one line since the last reset, in time order, as played
 * (a wave cut off by gpioTerminate or by another send shows only what was played).
 * pigpioSimEdge returns 0, or -1 for an index out of range. */
int pigpioSimEdgeCount(unsigned gpio);
int pigpioSimEdge(unsigned gpio, int index, uint64_t* atMicros, int* level);

/* The level a line has now, played up to the current time. */
int pigpioSimLevel(unsigned gpio);

#ifdef __cplusplus
}
#endif

#endif
