// libFuzzer target: the input, byte for byte, is expected_message.txt, and
// beamfile's own main (beamfile/beamfile.cpp, compiled in with main renamed)
// reads and sends it against the pigpio stand-in in this process.  It runs in a
// temporary folder of its own; the fuzzer's own files stay where it was started,
// except the file of an input that crashes inside beamfile, which lands in that
// folder unless -artifact_prefix is an absolute path (scripts/fuzz.sh gives one).
//
// Besides the sanitizers' checks: the code sent is the start of the first line,
// at most 32 bytes and up to a NUL, whatever follows; beamfile prints exactly
// what that code calls for; the frame on the line is the NEC frame of its
// digits; and what emitCode itself must obey (fuzz_checks.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <pigpio_sim.h>
#include <unistd.h>

#include "frame_text.h"
#include "fuzz_checks.h"

int beamfileMain();

namespace {

struct Folder {
    std::string path;
    std::string message;
    int started = -1; // the folder the fuzzer was started in
};

Folder& folder()
{
    static Folder f;
    return f;
}

void removeFolder()
{
    unlink(folder().message.c_str());
    rmdir(folder().path.c_str());
}

void writeMessage(const uint8_t* data, size_t size)
{
    const int fd = open(folder().message.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0, "cannot create the message file");
    require(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size),
            "cannot write the message file");
    close(fd);
}

// What beamfile should send: fgets's line, at most 32 bytes and through a line
// end, as the C string it is.
std::string codeOf(const uint8_t* data, size_t size)
{
    std::string line;
    for (size_t i = 0; i < size && line.size() < 32; ++i) {
        line += static_cast<char>(data[i]);
        if (data[i] == '\n') {
            break;
        }
    }
    return line.c_str();
}

struct Run {
    int status;
};

void runBeamfile(void* context)
{
    require(chdir(folder().path.c_str()) == 0, "cannot enter the working folder");
    static_cast<Run*>(context)->status = beamfileMain();
    require(fchdir(folder().started) == 0, "cannot leave the working folder");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/beam-fuzz-XXXXXX";
    require(mkdtemp(pattern.data()) != nullptr, "cannot make a working folder");
    folder().path = pattern;
    folder().message = pattern + "/expected_message.txt";
    folder().started = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    require(folder().started >= 0, "cannot open the folder the fuzzer started in");
    std::atexit(removeFolder);
    // No trace or log files: the call log in memory is what gets checked.
    for (const char* name : {"PIGPIO_SIM_LOG", "PIGPIO_SIM_VCD", "PIGPIO_SIM_FAIL_INIT",
                             "PIGPIO_SIM_FAIL_WAVE_CREATE", "PIGPIO_SIM_FAIL_WAVE_TX_SEND"}) {
        unsetenv(name);
    }
    privateSimLock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeMessage(data, size);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    pigpioSimSignalHandlers(0); // libFuzzer's own, its timeout alarm among them, stay
    Run run{-1};
    const std::string out = captureStdout(runBeamfile, &run);

    const std::string code = codeOf(data, size);
    if (code.empty()) {
        require(out == "No code to send in expected_message.txt\n", "an empty code printed", out);
        require(run.status == 1, "an empty code gave status 0");
        require(pigpioSimCallCount() == 0, "an empty code called pigpio");
        return 0;
    }
    const std::string sentLine = "IR message sent is " + code + "\n\n";
    require(out.size() >= sentLine.size() &&
                out.compare(out.size() - sentLine.size(), sentLine.size(), sentLine) == 0,
            "the output does not end with the code sent:", out);
    const int records =
        checkEmission(24, code, out.substr(0, out.size() - sentLine.size()), run.status);
    require(run.status == 0, "a frame of at most 32 bits was not sent");

    int count = 0;
    const gpioPulse_t* pulses = pigpioSimWavePulses(&count);
    require(count == records, "the wave created is not the wave handed over");
    require(envelopeText(pulses, count) == necEnvelope(code),
            "the frame is not the code's:", envelopeText(pulses, count));
    require(pigpioSimLevel(24) == 0, "the line is high after the frame");
    return 0;
}
