// What both fuzz targets check after a run of emitCode against the pigpio
// stand-in: the bytes it printed, its status and the calls it made must tell the
// same story, and the wave it handed over must be one pigpio takes.
#ifndef BEAM_FUZZ_CHECKS_H
#define BEAM_FUZZ_CHECKS_H

#include <cstdint>
#include <string>

// Stops the run with a message on standard error (libFuzzer keeps the input).
void require(bool holds, const char* what, const std::string& detail = "");

// Points the stand-in's lock file at a name of this process's own, unless one is
// set: the two targets, run at once, each initialise pigpio thousands of times a
// second, and must not lock each other out.
void privateSimLock();

// Calls fn(context) with standard output going to a memory file; returns what it
// printed.  Standard error stays where it was, so sanitizer and libFuzzer reports
// are never captured.
std::string captureStdout(void (*fn)(void* context), void* context);

// The lines emitCode may print for code before it builds a frame: its size and a
// warning per byte that is neither '0' nor '1'.
std::string codeLines(const std::string& code);

// Checks a run of emitCode(gpioPin, ..., code) that printed `out` and returned
// `status`, from the stand-in's call log: a refused code touches no pigpio
// function and prints only what comes before its refusal; a frame that went to
// pigpio was announced with the record count pigpio received, below 12000, and
// was reported as pigpio answered (which may refuse a wave of fewer records for
// its DMA control blocks).  Returns the record count of the wave pigpio created,
// or 0 when it created none.
int checkEmission(uint32_t gpioPin, const std::string& code, const std::string& out,
                  int32_t status);

#endif
