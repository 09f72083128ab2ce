// libFuzzer target: the input, byte for byte, is a Pronto code, an ir-ctl send
// file and a PROTOCOL:SCANCODE for the kernel's encoders; its first byte also picks
// the repeats (0..3) and the toggle.  Besides the
// sanitizers' checks: a press read is one a sender takes (a mark first and last,
// each duration 1..maxDurationUs, at most maxDurations, a carrier in range or 0);
// a refusal is one printable line; and raw durations written out as ir-ctl text
// read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "parse.h"
#include "protocols.h"

namespace {

void require(bool holds, const char* what, const std::string& detail = "")
{
    if (!holds) {
        (void)std::fprintf(stderr, "\nfuzz check failed: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

void checkPress(const Press& press, const char* parser)
{
    const std::string where = std::string(parser) + ": " + durationText(press.durations);
    require(!press.durations.empty(), "an empty press read", where);
    require(press.durations.size() <= maxDurations, "too many durations read", where);
    require(press.durations.size() % 2 == 1, "a press that does not end with a mark", where);
    for (const std::uint32_t us : press.durations)
        require(us >= 1 && us <= maxDurationUs, "a duration out of range", where);
    require(press.carrierHz == 0 || (press.carrierHz >= 10000 && press.carrierHz <= 500000),
            "a carrier out of range", where + " at " + std::to_string(press.carrierHz));
}

void checkError(const std::string& error, const char* parser)
{
    require(!error.empty(), "a refusal without a reason from", parser);
    for (const char c : error)
        require(c >= 0x20 && c < 0x7f, "a reason that is not one printable line:", error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int repeats = size > 0 ? data[0] % 4 : 0;

    Press pronto;
    std::string error;
    if (parsePronto(text, repeats, &pronto, &error) == 0) {
        checkPress(pronto, "pronto");
        require(pronto.frames >= 1 && pronto.frames <= repeats + 1,
                "a frame count off:", std::to_string(pronto.frames));
    } else {
        checkError(error, "pronto");
    }

    Press raw;
    std::uint32_t dropped = 0;
    error.clear();
    if (parseRaw(text, &raw, &dropped, &error) == 0) {
        checkPress(raw, "raw");
        require(dropped <= maxDurationUs, "a dropped space out of range:", std::to_string(dropped));
        Press again;
        std::uint32_t droppedAgain = 1;
        const std::string written = durationText(raw.durations);
        require(parseRaw(written, &again, &droppedAgain, &error) == 0 &&
                    again.durations == raw.durations && droppedAgain == 0,
                "durations written out do not read back:", written + " / " + error);
    } else {
        checkError(error, "raw");
    }

    // The encoders, on whatever scancode the text names: a press within the limits
    // they promise, or a reason.
    const KernelProtocol* protocol = nullptr;
    std::uint32_t scancode = 0;
    error.clear();
    if (parseKernelScancode(text, &protocol, &scancode, &error) == 0) {
        require((scancode & ~protocol->scancodeMask) == 0, "a scancode outside its mask");
        Press press;
        const int toggle = size > 0 ? (data[0] >> 2u) & 1 : 0;
        if (kernelPress(*protocol, scancode, toggle, repeats, &press, &error) == 0) {
            checkPress(press, protocol->name);
            require(press.frames == repeats + 1, "a frame count off:", protocol->name);
            require(press.carrierHz == protocol->carrierHz, "another carrier than the protocol's");
        } else {
            checkError(error, protocol->name);
        }
    } else {
        checkError(error, "scancode");
    }
    return 0;
}
