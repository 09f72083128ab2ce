// beam: sends one press of a remote's button, given as a signal of a remote-code
// database's file, a kernel protocol and scancode (as "ir-ctl -S" takes them), a
// Pronto code or raw durations, through the same transmitter as beamfile.  Each
// source's signal goes out as that source's own sender sends it.  The press is one
// wave: its frames and the spaces between them go out without pauses.
//
// Exit status: 0 the press went out (or, with --print, was written); 1 the
// transmitter did not send it; 2 bad arguments or a signal that cannot be sent,
// with one line on standard error and nothing sent.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "as_user.h"
#include "codes.h"
#include "parse.h"
#include "press.h"
#include "protocols.h"
#include "sources.h"
#include "text.h"
#include "transmitter.h"

namespace {

constexpr const char* usage =
    "usage: beam --from FILE [KEY] [--repeat N] [--toggle 0|1] [OPTIONS]\n"
    "       beam -S PROTOCOL:SCANCODE [--repeat N] [--toggle 0|1] [OPTIONS]\n"
    "       beam --pronto 'HEX ...' [--repeat N] [OPTIONS]\n"
    "       beam --raw 'DURATIONS' [--carrier HZ] [--duty D] [OPTIONS]\n"
    "options: --print (write the press instead of sending it), --gpio N (default 24)\n";

enum class Source { none, file, scancode, pronto, raw };

struct Options {
    Source source = Source::none;
    std::string signal;        // the argument of --from, -S, --pronto or --raw
    const char* key = nullptr; // with --from: the signal's name; none lists them
    int repeats = 0;
    int toggle = 0;
    bool toggleGiven = false;
    std::int32_t carrierHz = 38000;
    bool carrierGiven = false;
    double dutyCycle = 0.5;
    bool dutyGiven = false;
    bool print = false;
    std::uint32_t gpioPin = necFrame::gpioPin;
};

int fail(const std::string& message)
{
    (void)std::fprintf(stderr, "beam: %s\n", printable(message).c_str());
    return 2;
}

// A duty cycle as a fraction (0.33, as Flipper writes it) or a whole percentage
// (33, as ir-ctl -D and lircd.conf take it): a point makes it a fraction, so 1.0 is
// the line always on, refused, not 1 %.  The line must go on and off every period.
int parseDuty(const char* text, double* duty)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value))
        return -1;
    const double fraction = std::strchr(text, '.') == nullptr ? value / 100.0 : value;
    if (!(fraction > 0.0 && fraction < 1.0))
        return -1;
    *duty = fraction;
    return 0;
}

int setSource(Options* o, Source source, const char* value, std::string* error)
{
    if (o->source != Source::none) {
        *error = "give one signal: --from, -S, --pronto or --raw";
        return -1;
    }
    o->source = source;
    o->signal = value;
    return 0;
}

// One option and its value; *used says whether the value was taken.
int parseOption(Options* o, const std::string& name, const char* value, bool* used,
                std::string* error)
{
    *used = true;
    if (name == "--print") {
        *used = false;
        o->print = true;
        return 0;
    }
    if (value == nullptr) {
        *error = name + " needs a value";
        return -1;
    }
    std::int64_t number = 0;
    if (name == "--from")
        return setSource(o, Source::file, value, error);
    if (name == "-S" || name == "--scancode")
        return setSource(o, Source::scancode, value, error);
    if (name == "--pronto")
        return setSource(o, Source::pronto, value, error);
    if (name == "--raw")
        return setSource(o, Source::raw, value, error);
    if (name == "--repeat") {
        if (parseSigned(value, 0, 1000, &number) != 0) {
            *error = std::string("--repeat takes a number from 0 to 1000, not '") + value + "'";
            return -1;
        }
        o->repeats = static_cast<int>(number);
        return 0;
    }
    if (name == "--toggle") {
        if (parseSigned(value, 0, 1, &number) != 0) {
            *error = std::string("--toggle takes 0 or 1, not '") + value + "'";
            return -1;
        }
        o->toggle = static_cast<int>(number);
        o->toggleGiven = true;
        return 0;
    }
    if (name == "--carrier") {
        // gpio-ir-tx takes up to 500 kHz; below 10 kHz no receiver listens.
        if (parseSigned(value, 10000, 500000, &number) != 0) {
            *error = std::string("--carrier takes a frequency from 10000 to 500000 Hz, not '") +
                     value + "'";
            return -1;
        }
        o->carrierHz = static_cast<std::int32_t>(number);
        o->carrierGiven = true;
        return 0;
    }
    if (name == "--duty") {
        if (parseDuty(value, &o->dutyCycle) != 0) {
            *error = std::string("--duty takes a fraction above 0 and below 1 (or a "
                                 "whole percentage), not '") +
                     value + "'";
            return -1;
        }
        o->dutyGiven = true;
        return 0;
    }
    if (name == "--gpio") {
        if (parseSigned(value, 0, maxGpioPin, &number) != 0) {
            *error = std::string("--gpio takes a GPIO from 0 to 31, not '") + value + "'";
            return -1;
        }
        o->gpioPin = static_cast<std::uint32_t>(number);
        return 0;
    }
    *error = "unknown option '" + name + "'";
    return -1;
}

int parseArguments(int argc, char** argv, Options* o, std::string* error)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        // --name=value as well as --name value.
        const std::size_t equals = name.find('=');
        const bool inlined = name.rfind("--", 0) == 0 && equals != std::string::npos;
        if (name.rfind('-', 0) != 0 && o->source == Source::file && o->key == nullptr) {
            o->key = argv[i]; // the KEY after --from FILE
            continue;
        }
        std::string inlineValue;
        if (inlined) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
            value = inlineValue.c_str();
        }
        bool used = false;
        if (parseOption(o, name, value, &used, error) != 0)
            return -1;
        if (used && !inlined)
            ++i;
    }
    if (o->source == Source::none) {
        *error = "nothing to send: give --from, -S, --pronto or --raw";
        return -1;
    }
    if (o->source != Source::raw && (o->carrierGiven || o->dutyGiven)) {
        *error = "--carrier and --duty go with --raw: other signals carry their own";
        return -1;
    }
    if (o->source == Source::raw && o->repeats > 0) {
        *error = "--repeat does not go with --raw: raw durations have no repeat of their own";
        return -1;
    }
    if (o->toggleGiven && o->source != Source::scancode && o->source != Source::file) {
        *error = "--toggle goes with --from and -S";
        return -1;
    }
    return 0;
}

// The file's signals, read with the rights of the user beam runs for, as beamfile
// reads its message file.  Returns 0, or 2 with the one line said (a file that user
// may not read is refused, and no line of it reaches a message).
int readFile(const char* path, std::vector<Signal>* signals)
{
    std::string text;
    std::string error;
    const asUser::Read read = asUser::readAsItsUser("beam", path, [&] {
        errno = 0;
        if (readTextFile(path, &text, &error) == 0)
            return asUser::Read::done;
        return error.rfind("cannot open", 0) == 0 ? asUser::Read::notOpened : asUser::Read::unread;
    });
    if (read != asUser::Read::done) {
        const asUser::Reader reader = asUser::readerOf();
        // readAsItsUser has said why where it switched users; otherwise this says it.
        if (read == asUser::Read::unread || (!reader.asUser && reader.refusal == nullptr))
            return fail(error);
        return 2;
    }
    Failure failure;
    if (readSignals(text, signals, &failure) != 0) {
        const std::string where =
            failure.line > 0 ? std::string(path) + ":" + std::to_string(failure.line) : path;
        return fail(where + ": " + failure.what);
    }
    return 0;
}

// The toggle a remote sent last is kept per remote in the user's runtime folder, so
// that the next press sends the other value, as a remote's own button does.  Without
// the folder (or under sudo, which does not pass it on) every press is a first press.
std::string toggleFile()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/' || asUser::readerOf().asUser)
        return "";
    return std::string(runtime) + "/beam-toggles";
}

// "COUNT<TAB>REMOTE" lines: the presses sent of each remote.
unsigned earlierPresses(const std::string& file, const std::string& remote)
{
    std::FILE* f = file.empty() ? nullptr : std::fopen(file.c_str(), "r");
    if (f == nullptr)
        return 0;
    unsigned presses = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char* tab = std::strchr(line, '\t');
        if (tab == nullptr)
            continue;
        std::string name(tab + 1);
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        if (name == remote)
            presses = static_cast<unsigned>(std::strtoul(line, nullptr, 10));
    }
    (void)std::fclose(f);
    return presses;
}

// A press that went out counts; the file is rewritten whole, through a new file
// renamed over it, so two senders never leave half a line.
void countPress(const std::string& file, const std::string& remote)
{
    if (file.empty())
        return;
    std::vector<std::string> lines;
    unsigned presses = 1;
    if (std::FILE* f = std::fopen(file.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            const char* tab = std::strchr(line, '\t');
            if (tab == nullptr)
                continue;
            if (std::string(tab + 1) == remote + "\n")
                presses = static_cast<unsigned>(std::strtoul(line, nullptr, 10)) + 1;
            else
                lines.emplace_back(line);
        }
        (void)std::fclose(f);
    }
    const std::string part = file + "." + std::to_string(getpid());
    std::FILE* out = std::fopen(part.c_str(), "w");
    if (out == nullptr)
        return;
    for (const std::string& line : lines)
        (void)std::fputs(line.c_str(), out);
    (void)std::fprintf(out, "%u\t%s\n", presses % 2 == 0 ? 0U : 1U, remote.c_str());
    if (std::fclose(out) != 0 || std::rename(part.c_str(), file.c_str()) != 0)
        (void)std::remove(part.c_str());
}

// Which remote a signal's toggle belongs to: the file's and, in a lircd.conf, the
// remote's name.
std::string remoteOf(const char* path, const Signal& signal)
{
    char real[PATH_MAX];
    std::string remote = realpath(path, real) != nullptr ? real : path;
    if (signal.definition.source == Definition::Source::lircd)
        remote += "\t" + signal.definition.protocol;
    for (char& c : remote)
        c = c == '\n' ? ' ' : c;
    return remote;
}

// Every signal of the file: its name, what it is, and what its press would be or
// why it cannot be sent.
int listSignals(const std::vector<Signal>& signals)
{
    for (const Signal& s : signals) {
        Press press;
        std::string error;
        std::string verdict;
        if (pressOf(s.definition, PressRequest{}, &press, &error) == 0) {
            std::uint64_t total = 0;
            for (const std::uint32_t us : press.durations)
                total += us;
            verdict = std::to_string(press.frames) +
                      (press.frames == 1 ? " frame, " : " frames, ") +
                      std::to_string(press.durations.size()) + " durations, " +
                      std::to_string(total) + " us at " + std::to_string(press.carrierHz) + " Hz";
        } else {
            verdict = "- " + error;
        }
        if (std::printf("%s\t%s\t%s\n", printable(s.name).c_str(),
                        printable(describe(s.definition)).c_str(),
                        printable(verdict).c_str()) < 0) {
            std::perror("beam: writing the list");
            return 1;
        }
    }
    if (std::fflush(stdout) != 0) {
        std::perror("beam: writing the list");
        return 1;
    }
    return 0;
}

// The press of the file's signal KEY; *remote names whose toggle it is.
int filePress(const Options& o, const std::vector<Signal>& signals, Press* press, std::string* what,
              std::string* remote, std::string* error)
{
    const int found = findSignal(signals, o.key, error);
    if (found < 0) {
        *error = o.signal + ": " + *error;
        return -1;
    }
    const Signal& s = signals[static_cast<std::size_t>(found)];
    *remote = remoteOf(o.signal.c_str(), s);
    PressRequest request;
    request.repeats = o.repeats;
    request.toggle = o.toggleGiven ? o.toggle : -1;
    request.earlierPresses = earlierPresses(toggleFile(), *remote);
    if (pressOf(s.definition, request, press, error) != 0) {
        *error = o.signal + ": " + s.name + " cannot be sent: " + *error;
        return -1;
    }
    *what = s.name + " of " + o.signal + " (" + describe(s.definition);
    if (press->toggle >= 0)
        *what += ", toggle " + std::to_string(press->toggle);
    *what += ")";
    return 0;
}

// The press, and what it is in a few words for the closing line.
int makePress(const Options& o, Press* press, std::string* what, std::string* error)
{
    switch (o.source) {
    case Source::scancode: {
        const KernelProtocol* protocol = nullptr;
        std::uint32_t scancode = 0;
        if (parseKernelScancode(o.signal, &protocol, &scancode, error) != 0)
            return -1;
        if (o.toggleGiven && !protocol->hasToggle) {
            *error = std::string(protocol->name) + " has no toggle bit";
            return -1;
        }
        if (kernelPress(*protocol, scancode, o.toggle, o.repeats, press, error) != 0)
            return -1;
        *what = std::string(protocol->name) + ":" + hexNumber(scancode) + " (the kernel's encoder";
        if (protocol->hasToggle)
            *what += ", toggle " + std::to_string(o.toggle);
        *what += ")";
        return 0;
    }
    case Source::pronto:
        if (parsePronto(o.signal, o.repeats, press, error) != 0)
            return -1;
        *what = "a Pronto code";
        return 0;
    case Source::raw: {
        std::uint32_t droppedUs = 0;
        if (parseRaw(o.signal, press, &droppedUs, error) != 0)
            return -1;
        if (press->carrierHz == 0 || o.carrierGiven)
            press->carrierHz = o.carrierHz;
        press->dutyCycle = o.dutyCycle;
        *what = "raw durations";
        if (droppedUs > 0)
            *what += " (their trailing space of " + std::to_string(droppedUs) + " us left out)";
        return 0;
    }
    case Source::file:
    case Source::none:
        break;
    }
    *error = "nothing to send";
    return -1;
}

std::uint64_t airTimeUs(const Press& press)
{
    std::uint64_t total = 0;
    for (const std::uint32_t us : press.durations)
        total += us;
    return total;
}

// What pigpio could not take is refused before it is started, with the number.
int checkPress(const Press& press, std::string* error)
{
    if (press.durations.empty()) {
        *error = "the signal has no mark to send";
        return -1;
    }
    if (press.carrierHz <= 0) {
        *error = "the signal is unmodulated; beam sends carrier bursts only";
        return -1;
    }
    const std::int64_t records = pressPulseCount(press.carrierHz, press.dutyCycle,
                                                 press.durations.data(), press.durations.size());
    if (records > maxFramePulses) {
        *error = "the press needs " + std::to_string(records) + " pulse records at " +
                 std::to_string(press.carrierHz) + " Hz; one pigpio wave takes at most " +
                 std::to_string(maxFramePulses);
        return -1;
    }
    return 0;
}

int printPress(const Press& press)
{
    if (std::printf("# carrier %d Hz, duty cycle %g, %d frame%s, %llu us\n%s\n",
                    static_cast<int>(press.carrierHz), press.dutyCycle, press.frames,
                    press.frames == 1 ? "" : "s", static_cast<unsigned long long>(airTimeUs(press)),
                    durationText(press.durations).c_str()) < 0 ||
        std::fflush(stdout) != 0) {
        std::perror("beam: writing the press");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        (void)std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (parseArguments(argc, argv, &options, &error) != 0)
        return fail(error);

    std::vector<Signal> signals;
    if (options.source == Source::file) {
        const int read = readFile(options.signal.c_str(), &signals);
        if (read != 0)
            return read;
        if (options.key == nullptr)
            return listSignals(signals);
    }
    Press press;
    std::string what;
    std::string remote;
    const int made = options.source == Source::file
                         ? filePress(options, signals, &press, &what, &remote, &error)
                         : makePress(options, &press, &what, &error);
    if (made != 0 || checkPress(press, &error) != 0)
        return fail(error);
    if (options.print)
        return printPress(press);

    const std::int32_t status = emitPress(options.gpioPin, press.carrierHz, press.dutyCycle,
                                          press.durations.data(), press.durations.size());
    if (status != 0)
        return 1;
    if (press.toggle >= 0 && !remote.empty() && !options.toggleGiven)
        countPress(toggleFile(), remote);
    std::printf("Sent %s on GPIO %u: %d frame%s, %zu durations, %llu us on air, %d Hz, duty "
                "cycle %g\n",
                what.c_str(), static_cast<unsigned>(options.gpioPin), press.frames,
                press.frames == 1 ? "" : "s", press.durations.size(),
                static_cast<unsigned long long>(airTimeUs(press)),
                static_cast<int>(press.carrierHz), press.dutyCycle);
    return 0;
}
