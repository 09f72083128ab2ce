/*
 * The slice of pigpio's C interface (version 79) that this project uses, for the
 * stand-in library.  Names, prototypes, constants and the pulse record layout are
 * those of the real header, so that sources built against this one build
 * unchanged against pigpio, and binaries run against either libpigpio.so.1.
 */
#ifndef PIGPIO_H
#define PIGPIO_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#define PIGPIO_VERSION 79

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    uint32_t gpioOn;
    uint32_t gpioOff;
    uint32_t usDelay;
} gpioPulse_t;

#define PI_MIN_GPIO 0
#define PI_MAX_GPIO 53
#define PI_MAX_USER_GPIO 31

#define PI_OFF 0
#define PI_ON 1
#define PI_CLEAR 0
#define PI_SET 1
#define PI_LOW 0
#define PI_HIGH 1

#define PI_INPUT 0
#define PI_OUTPUT 1
#define PI_ALT0 4
#define PI_ALT1 5
#define PI_ALT2 6
#define PI_ALT3 7
#define PI_ALT4 3
#define PI_ALT5 2

#define PI_WAVE_MODE_ONE_SHOT 0
#define PI_WAVE_MODE_REPEAT 1
#define PI_WAVE_MODE_ONE_SHOT_SYNC 2
#define PI_WAVE_MODE_REPEAT_SYNC 3

#define PI_WAVE_BLOCKS 4
#define PI_WAVE_MAX_PULSES (PI_WAVE_BLOCKS * 3000)
#define PI_WAVE_MAX_MICROS (30 * 60 * 1000000)
#define PI_MAX_WAVES 250

/* Unparenthesised, as in pigpio's header: a minus sign and a literal bind the same anywhere.
 * NOLINTBEGIN(bugprone-macro-parentheses) */
#define PI_INIT_FAILED -1
#define PI_BAD_USER_GPIO -2
#define PI_BAD_GPIO -3
#define PI_BAD_MODE -4
#define PI_BAD_LEVEL -5
#define PI_NOT_INITIALISED -31
#define PI_INITIALISED -32
#define PI_BAD_WAVE_MODE -33
#define PI_TOO_MANY_PULSES -36
#define PI_BAD_WAVE_ID -66
#define PI_TOO_MANY_CBS -67
#define PI_TOO_MANY_OOL -68
#define PI_EMPTY_WAVEFORM -69
#define PI_NO_WAVEFORM_ID -70
#define PI_BAD_PARAM -81
#define PI_BAD_POINTER -90
/* NOLINTEND(bugprone-macro-parentheses) */

int gpioInitialise(void);
void gpioTerminate(void);

int gpioSetMode(unsigned gpio, unsigned mode);
int gpioRead(unsigned gpio);
int gpioWrite(unsigned gpio, unsigned level);

int gpioWaveClear(void);
int gpioWaveAddNew(void);
int gpioWaveAddGeneric(unsigned numPulses, gpioPulse_t* pulses);
int gpioWaveCreate(void);
int gpioWaveDelete(unsigned wave_id);
int gpioWaveTxSend(unsigned wave_id, unsigned wave_mode);
int gpioWaveTxBusy(void);

int gpioWaveGetMaxPulses(void);
int gpioWaveGetMaxMicros(void);
int gpioWaveGetMaxCbs(void);

void time_sleep(double seconds);
double time_time(void);

unsigned gpioVersion(void);
unsigned gpioHardwareRevision(void);

#ifdef __cplusplus
}
#endif

#endif
