// nec-code: prints the line of a message file for one NEC remote-control code, so that
// "nec-code 0x00 0x45 > expected_message.txt" gives beamfile what to send.  The code
// may also be a kernel scancode or a signal of a remote-code database's file.
//
// Exit status: 0 done, 1 the output could not be written, 2 bad arguments, a file that
// cannot be read, or a signal that cannot be sent (then nothing goes to stdout).
#include "codes.h"
#include "nec_code.h"
#include "text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A full disk must not leave a short message file behind a status of 0.
int flushed()
{
    if (std::fflush(stdout) != 0) {
        std::perror("nec-code: writing the output");
        return 1;
    }
    return 0;
}

int printCode(std::uint32_t code)
{
    char line[33];
    codeBits(code, line);
    if (std::printf("%s\n", line) < 0) {
        std::perror("nec-code: writing the line");
        return 1;
    }
    return flushed();
}

// Every error is one line, whatever the arguments or the file held.
int fail(const std::string& message)
{
    (void)std::fprintf(stderr, "nec-code: %s\n", printable(message).c_str());
    return 2;
}

int fromFile(const char* path, const char* key)
{
    std::string text;
    std::string error;
    if (readTextFile(path, &text, &error) != 0)
        return fail(error);
    std::vector<Signal> signals;
    Failure failure;
    if (readSignals(text, &signals, &failure) != 0) {
        const std::string where =
            failure.line > 0 ? std::string(path) + ":" + std::to_string(failure.line) : path;
        return fail(where + ": " + failure.what);
    }
    if (key == nullptr) {
        for (const Signal& s : signals) {
            char line[33] = "-";
            if (s.sendable)
                codeBits(s.code, line);
            if (std::printf("%s\t%s\t%s\n", s.name.c_str(), line, s.note.c_str()) < 0) {
                std::perror("nec-code: writing the list");
                return 1;
            }
        }
        return flushed();
    }
    const int found = findSignal(signals, key, &error);
    if (found < 0)
        return fail(std::string(path) + ": " + error);
    const Signal& s = signals[static_cast<std::size_t>(found)];
    if (!s.sendable)
        return fail(std::string(path) + ": " + s.name + " cannot be sent: " + s.note);
    return printCode(s.code);
}

// A scancode the kernel refuses still names its bytes; the note says so, on stderr
// so that the line alone goes where stdout goes.
int fromScancode(const char* text)
{
    Signal s;
    std::string error;
    if (parseScancode(text, &s, &error) != 0)
        return fail(error);
    if (s.note.find("not canonical") != std::string::npos)
        (void)std::fprintf(stderr, "nec-code: note: %s\n", s.note.c_str());
    return printCode(s.code);
}

} // namespace

int main(int argc, char** argv)
{
    const char usage_line[] = "usage: nec-code ADDRESS COMMAND | nec-code --raw HEX32 | "
                              "nec-code -S PROTOCOL:SCANCODE | nec-code --from FILE [KEY]";

    const char help_text[] =
        "Prints the 32 bits of an NEC frame, first sent first, for a message file.\n"
        "  ADDRESS  0..0xFF: the address, then its inverse;\n"
        "           0x100..0xFFFF: an extended address, low byte first.\n"
        "  COMMAND  0..0xFF: the command, then its inverse.\n"
        "  HEX32    the code as LIRC writes it (pre_data then code), first bit on air\n"
        "           the highest: 1 to 8 hex digits, 0x optional, e.g. 0x00FFA25D.\n"
        "  -S, --scancode PROTOCOL:SCANCODE\n"
        "           a scancode as the kernel, ir-keytable and ir-ctl -S write it:\n"
        "           nec:0xAACC (address AA, command CC), necx:0xAAaaCC (extended\n"
        "           address AA then aa), nec32:0xaaAAddDD (on air AA aa DD dd).\n"
        "           Always hex, 0x optional (ir-ctl reads 070000 as octal, 65535 as\n"
        "           decimal). Scancodes the kernel refuses as not canonical still give\n"
        "           the bytes they name.\n"
        "  --from FILE [KEY]\n"
        "           the signal KEY of a Flipper IR file, an irdb CSV, an ir-keytable\n"
        "           keymap or a lircd.conf; without KEY, every signal: its name, its\n"
        "           line or -, and where it came from or why it cannot be sent.\n"
        "           A repeated name is NAME, NAME#2, ...; KEY may differ in case.\n"
        "Numbers are decimal, or hex after 0x; a leading 0 is not octal (010 is 10).\n"
        "What cannot be sent exactly is refused (status 2), never approximated.\n"
        "Example: nec-code 0x00 0x45 > expected_message.txt\n";

    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s\n%s", usage_line, help_text);
        return flushed();
    }
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--from") == 0)
        return fromFile(argv[2], argc == 4 ? argv[3] : nullptr);
    if (argc == 2 && std::strncmp(argv[1], "--scancode=", 11) == 0)
        return fromScancode(argv[1] + 11);
    if (argc == 3 && (std::strcmp(argv[1], "-S") == 0 || std::strcmp(argv[1], "--scancode") == 0))
        return fromScancode(argv[2]);
    if (argc != 3) {
        (void)std::fprintf(stderr, "%s\n", usage_line);
        return 2;
    }

    std::uint32_t code = 0;
    if (std::strcmp(argv[1], "--raw") == 0) {
        if (parseRaw(argv[2], &code) != 0)
            return fail(std::string("HEX32 must be 1 to 8 hex digits, not '") + argv[2] + "'");
    } else {
        unsigned long address = 0;
        unsigned long command = 0;
        if (parseNumber(argv[1], 0xFFFF, &address) != 0)
            return fail(std::string("ADDRESS must be 0..0xFFFF, decimal or 0x hex, not '") +
                        argv[1] + "'");
        if (parseNumber(argv[2], 0xFF, &command) != 0)
            return fail(std::string("COMMAND must be 0..0xFF, decimal or 0x hex, not '") + argv[2] +
                        "'");
        code = necCode(static_cast<std::uint16_t>(address), static_cast<std::uint8_t>(command));
    }
    return printCode(code);
}
