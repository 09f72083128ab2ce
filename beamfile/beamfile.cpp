// beamfile: sends the code in "expected_message.txt", in the working directory,
// once as an NEC infrared frame on GPIO 24.
//
// The code is the start of the file's first line, at most 32 bytes, its line end
// included when it falls within them.  The exit status is 0 only when the frame
// was sent.
//
// pigpio needs root, so beamfile is run under sudo or installed set-user-ID root,
// for a user who may not have root's rights otherwise.  The message file is then
// read with that user's rights, and root's are taken back for pigpio only after it
// has been closed: a link to a file that user may not read is not read.
#include <array>
#include <cstdint>
#include <cstdio>

#include "as_user.h"
#include "transmitter.h"

namespace {

enum class Message { line, none, notOpened };

// Reads at most code.size() - 1 bytes of the file's first line into code.
Message readMessage(const char* path, std::array<char, 33>& code)
{
    std::FILE* file = asUser::openForReading(path);
    if (file == nullptr) {
        return Message::notOpened;
    }
    const bool haveLine = std::fgets(code.data(), static_cast<int>(code.size()), file) != nullptr;
    (void)std::fclose(file); // opened for reading: a failed close loses nothing
    // An empty file, a file that cannot be read (a directory) or one that starts
    // with a NUL holds no code to send.
    return haveLine && code[0] != '\0' ? Message::line : Message::none;
}

} // namespace

int main()
{
    constexpr const char* messageFile = "expected_message.txt";

    // 32 bytes of code and its terminating NUL.
    std::array<char, 33> code{};
    Message read = Message::notOpened;
    if (asUser::readAsItsUser("beamfile", messageFile, [&] {
            read = readMessage(messageFile, code);
            return read == Message::notOpened ? asUser::Read::notOpened : asUser::Read::done;
        }) == asUser::Read::notOpened) {
        read = Message::notOpened;
    }
    if (read == Message::notOpened) {
        std::printf("Could not open file %s", messageFile);
        return 1;
    }
    if (read == Message::none) {
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
