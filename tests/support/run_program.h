// Starts a program as a user would: in a folder of its own, against the pigpio
// stand-in, with standard output and error captured as bytes, and never for longer
// than a deadline.  Every test that starts a process starts it here, and so does
// the latency tool (bench/).
#ifndef BEAM_TESTS_RUN_PROGRAM_H
#define BEAM_TESTS_RUN_PROGRAM_H

#include <string>
#include <vector>

struct Outcome {
    int status = -1; // exit status, or 128 + the signal that ended it
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
    double seconds = 0;        // wall-clock time from start to exit
    long long read = -1;       // bytes the process read with read(2) and kin, -1 if unknown
    long long startedNs = 0;   // CLOCK_MONOTONIC right before the harness started it
    long long signalledNs = 0; // CLOCK_MONOTONIC when the harness signalled it, 0 if not
    long long exitedNs = 0;    // CLOCK_MONOTONIC when the harness saw it end
};

// A signal the harness sends the running program from outside, once the file
// `file` holds `text` (say, once the stand-in's log shows the wave's send).
struct SignalWhen {
    int signal = 0;
    std::string file;
    std::string text;
};

// A program still running this long is killed (status 128 + SIGKILL).
constexpr int runDeadlineSeconds = 20;

// One run of a program, and how it is started.
struct Command {
    std::string program;
    std::vector<std::string> args;
    std::string dir = ".";        // the folder it runs in
    std::vector<std::string> env; // "NAME=value" each, over this process's environment
    // As it is: not through the cross emulator nor BEAM_TEST_WRAPPER, for a program
    // of the machine that runs the tests (a tool such as sigrok-cli) or one timed.
    bool direct = false;
    // 0 or more: runs as that user and group, with no other groups (this process
    // must be root); it then exits 125 if the switch failed.
    int user = -1;
    bool stdoutFull = false; // standard output is /dev/full, where every write fails
    // This process's PIGPIO_SIM_* variables passed on too, for a tool that runs
    // what its caller names with the caller's environment (tests/kernel-vm).
    bool keepSim = false;
    SignalWhen signal; // sent once met, if its signal is not 0
};

// The stand-in's lock file for a program run as `user` (-1: this process's user)
// that this process starts or runs in itself: in a folder of this process's own,
// which any user may write to and which goes when the process exits.  Tests run
// at once (ctest -j, two clones, two users) never lock one another out; those of
// one process share it, as senders on one Pi do.
std::string simLockFile(int user = -1);

// Runs a command with this process's environment, less any PIGPIO_SIM_* variable
// (unless keepSim), any SUDO_* one and any that `env` sets, plus `env` ("NAME=value"
// each), and PIGPIO_SIM_ON_PI=1 and PIGPIO_SIM_LOCK_FILE=simLockFile(user) unless the
// result names them: the stand-in refuses to start on a Raspberry Pi unless a
// simulation is asked for, and a lock file of the harness's own keeps other runs out.
// Standard input is empty.  A program that cannot be started exits 127 (126 when the
// folder cannot be entered); either way it says why on standard error.  Unless
// direct, the command line is the cross emulator (if any), then BEAM_TEST_WRAPPER's
// words (if set), then the program and args.
Outcome runCommand(const Command& command);

// The path of an installed program, e.g. installedProgram("beamfile").
std::string installedProgram(const std::string& name);

// runCommand, for the commands most tests run.
Outcome runProgram(const std::string& program, const std::string& dir,
                   const std::vector<std::string>& env, const std::vector<std::string>& args = {},
                   int user = -1);

// The same, and the harness sends the program `when.signal` once `when` is met.
Outcome runProgramSignalled(const std::string& program, const std::string& dir,
                            const std::vector<std::string>& env, const SignalWhen& when);

// A program of the machine that runs the tests (a tool such as sigrok-cli), never
// through the emulator of a cross build.
Outcome runHostProgram(const std::string& program, const std::string& dir,
                       const std::vector<std::string>& args);

#endif
