// libFuzzer target: the input, byte for byte, is a file given to nec-code --from, and
// also a scancode for -S.  Besides the sanitizers' checks: a file is read or refused
// with a reason and, where on a line, a line it has; the list stays one signal per
// line of three tab-separated fields; every signal is found again by its name; and a
// signal that can be sent says where it came from.  Every signal's press, as its
// source sends it, is one a transmitter takes, or refused with a one-line reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codes.h"
#include "sources.h"

namespace {

void require(bool holds, const char* what, const std::string& detail = "")
{
    if (!holds) {
        (void)std::fprintf(stderr, "\nfuzz check failed: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

bool oneField(const std::string& text)
{
    return text.find_first_of("\t\n") == std::string::npos;
}

bool oneLine(const std::string& text)
{
    return text.find('\n') == std::string::npos;
}

// The press a source's encoder makes of a file's signal, with a few repeats and
// either toggle.
void checkPress(const Signal& s, int repeats, unsigned earlierPresses)
{
    PressRequest request;
    request.repeats = repeats;
    request.earlierPresses = earlierPresses;
    Press press;
    std::string error;
    if (pressOf(s.definition, request, &press, &error) != 0) {
        require(!error.empty() && oneLine(error),
                "a press refused without a one-line reason:", s.name);
        return;
    }
    const std::string where = s.name + ": " + durationText(press.durations);
    require(!press.durations.empty(), "an empty press", where);
    require(press.carrierHz > 0 && press.carrierHz <= 500000, "a carrier out of range", where);
    require(press.dutyCycle > 0.0 && press.dutyCycle < 1.0, "a duty cycle out of range", where);
    require(press.frames >= 1, "a press of no frame", where);
    for (const std::uint32_t us : press.durations)
        require(us > 0, "a duration of 0", where);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Signal> signals;
    Failure failure;
    if (readSignals(text, &signals, &failure) != 0) {
        require(!failure.what.empty(), "a refusal without a reason");
        require(oneLine(failure.what), "a reason of more than one line:", failure.what);
        std::size_t lines = 0;
        for (const char c : text)
            lines += c == '\n' ? 1 : 0;
        require(failure.line >= 0 && static_cast<std::size_t>(failure.line) <= lines + 1,
                "a refusal on a line the file does not have:", std::to_string(failure.line));
    } else {
        for (const Signal& s : signals) {
            require(!s.name.empty() && oneField(s.name), "a name that breaks the list:", s.name);
            require(!s.note.empty() && oneField(s.note), "a note that breaks the list:", s.note);
            std::string error;
            const int found = findSignal(signals, s.name, &error);
            require(found >= 0 && signals[static_cast<std::size_t>(found)].name == s.name,
                    "a signal not found by its own name:", s.name + " " + error);
            checkPress(s, size > 0 ? data[0] % 3 : 0, size > 1 ? data[1] % 2 : 0);
        }
    }

    Signal scancode;
    std::string error;
    if (parseScancode(text, &scancode, &error) == 0)
        require(scancode.sendable && !scancode.note.empty(), "a scancode without its meaning");
    else
        require(!error.empty() && oneLine(error), "a scancode refused without a one-line reason");
    return 0;
}
