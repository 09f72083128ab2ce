// libFuzzer target: the input, byte for byte, is a file given to nec-code --from, and
// also a scancode for -S.  Besides the sanitizers' checks: a file is read or refused
// with a reason and, where on a line, a line it has; the list stays one signal per
// line of three tab-separated fields; every signal is found again by its name; and a
// signal that can be sent says where it came from.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codes.h"

namespace {

void require(bool holds, const char* what, const std::string& detail = "")
{
    if (!holds) {
        std::fprintf(stderr, "\nfuzz check failed: %s %s\n", what, detail.c_str());
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
