// beamfile: sends the code in "expected_message.txt", in the working directory,
// once as an NEC infrared frame on GPIO 24.
//
// The code is the start of the file's first line, at most 32 bytes, its line end
// included when it falls within them.  The exit status is 0 only when the frame
// was sent.
#include <array>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "transmitter.h"

// Opens a file for reading as fopen(path, "r") does, except that opening a FIFO
// does not wait for a writer to appear: with none, reading it finds the end at
// once.  Reads then block as fopen's would.
static std::FILE* openForReading(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

int main()
{
    constexpr const char* messageFile = "expected_message.txt";

    std::FILE* file = openForReading(messageFile);
    if (file == nullptr) {
        std::printf("Could not open file %s", messageFile);
        return 1;
    }
    // 32 bytes of code and its terminating NUL.
    std::array<char, 33> code{};
    const bool haveLine = std::fgets(code.data(), static_cast<int>(code.size()), file) != nullptr;
    (void)std::fclose(file); // opened for reading: a failed close loses nothing
    // An empty file, a file that cannot be read (a directory) or one that starts
    // with a NUL holds no code to send.
    if (!haveLine || code[0] == '\0') {
        std::printf("No code to send in %s\n", messageFile);
        return 1;
    }

    using namespace necFrame;
    const int32_t status =
        emitCode(gpioPin, carrierHz, dutyCycle, leadBurstUs, leadGapUs, oneBurstUs, zeroBurstUs,
                 oneGapUs, zeroGapUs, trailBurst, code.data());
    std::printf("IR message sent is %s\n\n", code.data());
    return status;
}
