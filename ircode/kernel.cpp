// The Linux kernel's NEC: what its scancodes mean on air (ir_nec_scancode_to_raw),
// which ones its encoder refuses (rc_validate_scancode), and how its decoder reads
// a capture (ir_nec_decode's state machine, with its margins), all from
// drivers/media/rc/ of Linux 6.1.
#include "codes.h"
#include "nec_code.h"
#include "text.h"

#include <cstdio>

std::string hexNumber(std::uint64_t value)
{
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

namespace {

// index 0 is the first byte on air
std::uint32_t airByte(std::uint32_t code, int index)
{
    return reverseBits((code >> static_cast<unsigned>(24 - 8 * index)) & 0xFFu);
}

const char* variantName(NecVariant variant)
{
    switch (variant) {
    case NecVariant::nec:
        return "nec";
    case NecVariant::necx:
        return "necx";
    case NecVariant::nec32:
        break;
    }
    return "nec32";
}

} // namespace

// The kernel's scancode_bits for each (rc-main.c, protocols[]).
std::uint32_t variantLargest(NecVariant variant)
{
    switch (variant) {
    case NecVariant::nec:
        return 0xFFFFu;
    case NecVariant::necx:
        return 0xFFFFFFu;
    case NecVariant::nec32:
        break;
    }
    return 0xFFFFFFFFu;
}

NecVariant variantBySize(std::uint32_t scancode)
{
    if (scancode <= 0xFFFFu)
        return NecVariant::nec;
    return scancode <= 0xFFFFFFu ? NecVariant::necx : NecVariant::nec32;
}

std::uint32_t scancodeCode(NecVariant variant, std::uint32_t scancode)
{
    const std::uint32_t command = scancode & 0xFFu;
    switch (variant) {
    case NecVariant::nec: {
        const std::uint32_t address = (scancode >> 8u) & 0xFFu;
        return airCode(address, ~address, command, ~command);
    }
    case NecVariant::necx:
        return airCode(scancode >> 16u, scancode >> 8u, command, ~command);
    case NecVariant::nec32:
        break;
    }
    return airCode(scancode >> 16u, scancode >> 24u, command, scancode >> 8u);
}

namespace {

// rc_validate_scancode: false for what the kernel refuses to send as not canonical.
bool kernelAccepts(NecVariant variant, std::uint32_t scancode)
{
    if (variant == NecVariant::necx)
        return (((scancode >> 16u) ^ ~(scancode >> 8u)) & 0xFFu) != 0;
    if (variant == NecVariant::nec32)
        return (((scancode >> 8u) ^ ~scancode) & 0xFFu) != 0;
    return true;
}

// What the kernel's decoder reports for a frame (ir_nec_bytes_to_scancode).
std::uint32_t decodedScancode(std::uint32_t code, NecVariant* variant)
{
    const std::uint32_t address = airByte(code, 0);
    const std::uint32_t notAddress = airByte(code, 1);
    const std::uint32_t command = airByte(code, 2);
    const std::uint32_t notCommand = airByte(code, 3);
    if ((command ^ notCommand) != 0xFFu) {
        *variant = NecVariant::nec32;
        return notAddress << 24u | address << 16u | notCommand << 8u | command;
    }
    if ((address ^ notAddress) != 0xFFu) {
        *variant = NecVariant::necx;
        return address << 16u | notAddress << 8u | command;
    }
    *variant = NecVariant::nec;
    return address << 8u | command;
}

std::string decodedNote(std::uint32_t code)
{
    NecVariant variant = NecVariant::nec;
    const std::uint32_t scancode = decodedScancode(code, &variant);
    return std::string(variantName(variant)) + " " + hexNumber(scancode);
}

} // namespace

std::string scancodeNote(NecVariant variant, std::uint32_t scancode)
{
    std::string note = std::string(variantName(variant)) + " " + hexNumber(scancode);
    if (!kernelAccepts(variant, scancode)) {
        note += " (the kernel refuses it as not canonical; its decoder reads these bytes as " +
                decodedNote(scancodeCode(variant, scancode)) + ")";
    }
    return note;
}

int parseScancode(const std::string& text, Signal* signal, std::string* error)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        *error = "a scancode is PROTOCOL:SCANCODE (e.g. nec:0x408), not '" + printable(text) + "'";
        return -1;
    }
    const std::string protocol = lower(text.substr(0, colon));
    const std::string digits = text.substr(colon + 1);
    NecVariant variant = NecVariant::nec;
    if (protocol == "nec") {
        variant = NecVariant::nec;
    } else if (protocol == "necx") {
        variant = NecVariant::necx;
    } else if (protocol == "nec32") {
        variant = NecVariant::nec32;
    } else {
        *error = "'" + printable(text.substr(0, colon)) +
                 "' is no NEC protocol: beamfile sends NEC frames, give nec, necx or nec32";
        return -1;
    }
    const bool prefixed =
        digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    std::uint64_t scancode = 0;
    if (parseUnsigned(prefixed ? digits.substr(2) : digits, 16, UINT64_MAX, &scancode) != 0) {
        *error = "the scancode of " + protocol + " is hex digits, 0x optional, not '" +
                 printable(digits) + "'";
        return -1;
    }
    if (scancode > variantLargest(variant)) {
        *error = "scancode " + hexNumber(scancode) + " is too large for " + protocol +
                 " (at most " + hexNumber(variantLargest(variant)) + ")";
        return -1;
    }
    const auto value = static_cast<std::uint32_t>(scancode);
    signal->name = printable(text);
    signal->sendable = true;
    signal->code = scancodeCode(variant, value);
    signal->note = scancodeNote(variant, value);
    return 0;
}

// ---- The decoder ----

namespace {

constexpr std::uint32_t unit = 563; // NEC_UNIT
constexpr std::uint32_t half = unit / 2;

bool eqMargin(std::uint32_t d, std::uint32_t expected, std::uint32_t margin)
{
    return d > expected - margin && d < expected + margin;
}

bool geqMargin(std::uint32_t d, std::uint32_t expected, std::uint32_t margin)
{
    return d > expected - margin;
}

enum class State { inactive, headerSpace, bitPulse, bitSpace, trailerPulse, trailerSpace };

struct Decoder {
    State state = State::inactive;
    bool isNecX = false;
    bool necxRepeat = false;
    int count = 0;
    std::uint32_t bits = 0;
};

enum class Event { none, rejected, frame, repeat };

// The states of ir_nec_decode, one function each; a mark or space a state does not
// take is rejected, and the decoder starts again.
Event inactive(Decoder& dec, bool pulse, std::uint32_t d)
{
    if (!pulse)
        return Event::rejected;
    if (eqMargin(d, 16 * unit, unit * 2)) {
        dec.isNecX = false;
        dec.necxRepeat = false;
    } else if (eqMargin(d, 8 * unit, half)) {
        dec.isNecX = true;
    } else {
        return Event::rejected;
    }
    dec.count = 0;
    dec.state = State::headerSpace;
    return Event::none;
}

Event headerSpace(Decoder& dec, bool pulse, std::uint32_t d)
{
    if (pulse)
        return Event::rejected;
    if (eqMargin(d, 8 * unit, unit))
        dec.state = State::bitPulse;
    else if (eqMargin(d, 4 * unit, half))
        dec.state = State::trailerPulse;
    else
        return Event::rejected;
    return Event::none;
}

Event bitSpace(Decoder& dec, bool pulse, std::uint32_t d)
{
    if (pulse)
        return Event::rejected;
    if (dec.necxRepeat && dec.count == 1 && geqMargin(d, 10 * unit, half)) {
        dec.state = State::inactive;
        return Event::repeat;
    }
    if (dec.count > 1)
        dec.necxRepeat = false;
    dec.bits <<= 1u;
    if (eqMargin(d, 3 * unit, half))
        dec.bits |= 1u;
    else if (!eqMargin(d, unit, half))
        return Event::rejected;
    ++dec.count;
    dec.state = dec.count == 32 ? State::trailerPulse : State::bitPulse;
    return Event::none;
}

Event trailerSpace(Decoder& dec, bool pulse, std::uint32_t d)
{
    if (pulse || !geqMargin(d, 10 * unit, half))
        return Event::rejected;
    dec.state = State::inactive;
    if (dec.count != 32)
        return Event::repeat;
    if (dec.isNecX)
        dec.necxRepeat = true;
    return Event::frame;
}

// A bit's or the trailer's mark.
Event mark(Decoder& dec, bool pulse, std::uint32_t d, State next)
{
    if (!pulse || !eqMargin(d, unit, half))
        return Event::rejected;
    dec.state = next;
    return Event::none;
}

Event step(Decoder& dec, bool pulse, std::uint32_t d)
{
    Event event = Event::rejected;
    switch (dec.state) {
    case State::inactive:
        event = inactive(dec, pulse, d);
        break;
    case State::headerSpace:
        event = headerSpace(dec, pulse, d);
        break;
    case State::bitPulse:
        event = mark(dec, pulse, d, State::bitSpace);
        break;
    case State::bitSpace:
        event = bitSpace(dec, pulse, d);
        break;
    case State::trailerPulse:
        event = mark(dec, pulse, d, State::trailerSpace);
        break;
    case State::trailerSpace:
        event = trailerSpace(dec, pulse, d);
        break;
    }
    if (event == Event::rejected)
        dec.state = State::inactive;
    return event;
}

// The frames in a capture and the repeat codes after them, as the decoder reports
// them; -1 with *note at the first mark or space it rejects.
int decodeAll(const std::vector<std::uint32_t>& durations, std::vector<std::uint32_t>* frames,
              bool* necx, int* repeats, std::string* note)
{
    Decoder dec;
    const std::size_t n = durations.size();
    // The line stays idle after a capture: its last space, or one after its last
    // mark, lasts until the decoder's timeout.
    for (std::size_t i = 0; i < n + n % 2; ++i) {
        const bool pulse = i % 2 == 0;
        const Event event = step(dec, pulse, i + 1 >= n && !pulse ? UINT32_MAX : durations[i]);
        if (event == Event::rejected) {
            *note = "not one NEC frame: the kernel's NEC decoder rejects duration " +
                    std::to_string(i + 1) +
                    (i < n ? " (" + std::to_string(durations[i]) + " us)" : " (the end)");
            return -1;
        }
        if (event == Event::repeat && frames->empty()) {
            *note = "not one NEC frame: a repeat code comes first";
            return -1;
        }
        *repeats += event == Event::repeat ? 1 : 0;
        if (event == Event::frame) {
            frames->push_back(dec.bits);
            *necx = *necx || dec.isNecX;
        }
    }
    return 0;
}

} // namespace

int necFromDurations(const std::vector<std::uint32_t>& durations, std::uint32_t* code,
                     std::string* note)
{
    std::vector<std::uint32_t> frames;
    bool necx = false;
    int repeats = 0;
    if (decodeAll(durations, &frames, &necx, &repeats, note) != 0)
        return -1;
    if (frames.empty()) {
        *note = "no NEC frame";
        return -1;
    }
    if (necx) {
        *note = "a 4.5 ms lead burst (NECx, as Samsung's): beamfile sends NEC's 9 ms";
        return -1;
    }
    for (const std::uint32_t frame : frames) {
        if (frame != frames[0]) {
            *note = "not one NEC frame: " + std::to_string(frames.size()) + " frames that differ";
            return -1;
        }
    }
    *code = frames[0];
    *note = "one NEC frame, as the kernel decodes it: " + decodedNote(frames[0]);
    if (frames.size() > 1)
        *note += ", sent " + std::to_string(frames.size()) + " times";
    if (repeats > 0)
        *note += ", then " + std::to_string(repeats) + " repeat code" + (repeats > 1 ? "s" : "");
    return 0;
}
