// nec-code: prints the line of a message file for one NEC remote-control code, so that
// "nec-code 0x00 0x45 > expected_message.txt" gives beamfile what to send.
//
// Exit status: 0 done, 1 the line could not be written, 2 bad arguments.
#include "nec_code.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    const char usage_line[] =
        "usage: nec-code ADDRESS COMMAND | nec-code --raw HEX32 | nec-code --help";

    const char help_text[] =
        "Prints the 32 bits of an NEC frame, first sent first, for a message file.\n"
        "  ADDRESS  0..0xFF: the address, then its inverse;\n"
        "           0x100..0xFFFF: an extended address, low byte first.\n"
        "  COMMAND  0..0xFF: the command, then its inverse.\n"
        "  HEX32    the code as LIRC writes it (pre_data then code), first bit on air\n"
        "           the highest: 1 to 8 hex digits, 0x optional, e.g. 0x00FFA25D.\n"
        "Numbers are decimal, or hex after 0x; a leading 0 is not octal (010 is 10).\n"
        "Example: nec-code 0x00 0x45 > expected_message.txt\n";

    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s\n%s", usage_line, help_text);
        return 0;
    }
    if (argc != 3) {
        (void)std::fprintf(stderr, "%s\n", usage_line);
        return 2;
    }

    std::uint32_t code = 0;
    if (std::strcmp(argv[1], "--raw") == 0) {
        if (parseRaw(argv[2], &code) != 0) {
            (void)std::fprintf(stderr, "nec-code: HEX32 must be 1 to 8 hex digits, not '%s'\n",
                               argv[2]);
            return 2;
        }
    } else {
        unsigned long address = 0;
        unsigned long command = 0;
        if (parseNumber(argv[1], 0xFFFF, &address) != 0) {
            (void)std::fprintf(stderr,
                               "nec-code: ADDRESS must be 0..0xFFFF, decimal or 0x hex, not '%s'\n",
                               argv[1]);
            return 2;
        }
        if (parseNumber(argv[2], 0xFF, &command) != 0) {
            (void)std::fprintf(stderr,
                               "nec-code: COMMAND must be 0..0xFF, decimal or 0x hex, not '%s'\n",
                               argv[2]);
            return 2;
        }
        code = necCode(static_cast<std::uint16_t>(address), static_cast<std::uint8_t>(command));
    }

    char line[33];
    codeBits(code, line);
    // A full disk must not leave a short message file behind a status of 0.
    if (std::printf("%s\n", line) < 0 || std::fflush(stdout) != 0) {
        std::perror("nec-code: writing the line");
        return 1;
    }
    return 0;
}
