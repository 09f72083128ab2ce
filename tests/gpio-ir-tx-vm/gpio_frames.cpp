// gpio_frames: the gpio-ir-tx VM stage's report of one case's kernel trace
// (scripts/test-gpio-ir-tx-vm.sh).
//
//   gpio_frames [--base N] [--programs PREFIX[,PREFIX...]] [--raw RAW] TRACE
//       Prints the frames on every line and the programs' runs (gpio_trace.h has
//       the lines); N is the first global GPIO number of the bank, so that lines
//       are numbered as the device tree numbers them; RAW is the same trace read
//       with tracefs' raw option, for times in nanoseconds.  Exits 1 when a file
//       cannot be read, or the trace holds events that could not be read, paired
//       or were lost.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "files.h"
#include "gpio_trace.h"

namespace {

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const size_t end = comma == std::string::npos ? list.size() : comma;
        if (end > start) {
            items.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return items;
}

int usage()
{
    (void)std::fprintf(stderr,
                       "usage: gpio_frames [--base N] [--programs PREFIX[,PREFIX...]] [--raw RAW] "
                       "TRACE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned base = 0;
    std::vector<std::string> programs;
    const char* raw = nullptr;
    int i = 1;
    for (; i + 1 < argc; i += 2) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--base") == 0) {
            const unsigned long value = std::strtoul(argv[i + 1], &end, 10);
            if (*argv[i + 1] == '\0' || *end != '\0' || value > 100000) {
                return usage();
            }
            base = static_cast<unsigned>(value);
        } else if (std::strcmp(argv[i], "--programs") == 0) {
            programs = split(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--raw") == 0) {
            raw = argv[i + 1];
        } else {
            break;
        }
    }
    if (i + 1 != argc) {
        return usage();
    }
    for (const char* file : {static_cast<const char*>(argv[i]), raw}) {
        if (file != nullptr && access(file, R_OK) != 0) {
            (void)std::fprintf(stderr, "gpio_frames: cannot read %s\n", file);
            return 1;
        }
    }
    const std::string times = raw != nullptr ? readFile(raw) : "";
    if (raw != nullptr && times.empty()) {
        (void)std::fprintf(stderr, "gpio_frames: %s is empty\n", raw);
        return 1;
    }
    const gpioTrace::Trace trace = gpioTrace::parseTrace(readFile(argv[i]), times);
    (void)std::fputs(
        gpioTrace::report(trace, gpioTrace::findFrames(trace.edges), base, programs).c_str(),
        stdout);
    return trace.errors.empty() && trace.lost == 0 ? 0 : 1;
}
