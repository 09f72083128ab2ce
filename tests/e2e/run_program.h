// Runs an installed program as a user would: in a folder of its own, against the
// pigpio stand-in, with standard output and error captured as bytes.
#ifndef BEAM_TESTS_RUN_PROGRAM_H
#define BEAM_TESTS_RUN_PROGRAM_H

#include <string>
#include <vector>

struct Outcome {
    int status = -1; // exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
    double seconds = 0;        // wall-clock time from start to exit
    long long read = -1;       // bytes the process read with read(2) and kin, -1 if unknown
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

// The path of an installed program, e.g. installedProgram("beamfile").
std::string installedProgram(const std::string& name);

// Runs program in dir with this process's environment, less any PIGPIO_SIM_*
// variable, plus `env` ("NAME=value" each), and PIGPIO_SIM_ON_PI=1 unless `env`
// names it: the stand-in refuses to start on a Raspberry Pi unless a simulation is
// asked for.  Standard input is empty.  With a
// user id of 0 or more, the program runs as that user and group, with no other
// groups (this process must be root); it then exits 125 if the switch failed.
// A program that cannot be started exits 127; both say why on standard error.
// The command line is the cross emulator (if any), then BEAM_TEST_WRAPPER's words
// (if set), then the program and args.
Outcome runProgram(const std::string& program, const std::string& dir,
                   const std::vector<std::string>& env, const std::vector<std::string>& args = {},
                   int user = -1);

// The same, and the harness sends the program `when.signal` once `when` is met.
Outcome runProgramSignalled(const std::string& program, const std::string& dir,
                            const std::vector<std::string>& env, const SignalWhen& when);

// Runs a program of the machine that runs the tests (a tool such as sigrok-cli),
// never through the emulator of a cross build, as runProgram does otherwise.
Outcome runHostProgram(const std::string& program, const std::string& dir,
                       const std::vector<std::string>& args);

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const
    {
        return path_;
    }
    std::string file(const std::string& name) const
    {
        return path_ + "/" + name;
    }
    // Writes bytes to a file in the folder.
    void write(const std::string& name, const std::string& bytes) const;
    // The whole content of a file in the folder, empty when it does not exist.
    std::string read(const std::string& name) const;

  private:
    std::string path_;
};

#endif
