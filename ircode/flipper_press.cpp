// One press of a Flipper .ir signal as Flipper's IR app sends it: its own timings
// (its firmware's lib/infrared), not the kernel's roundings.  Each encoder
// starts with a silence of its own; before the first frame that silence is idle
// line, so the press starts with the first mark and ends with the last one.
#include "protocols.h"
#include "sources.h"
#include "text.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void mark(std::vector<std::uint32_t>* durations, std::uint32_t us)
{
    appendDuration(durations, true, us);
}

void space(std::vector<std::uint32_t>* durations, std::uint32_t us)
{
    appendDuration(durations, false, us);
}

std::uint64_t lengthUs(const std::vector<std::uint32_t>& durations)
{
    std::uint64_t total = 0;
    for (const std::uint32_t us : durations)
        total += us;
    return total;
}

using FlipperFrame = void (*)(std::uint32_t address, std::uint32_t command, std::uint32_t toggle,
                              std::vector<std::uint32_t>* durations);

constexpr PulseDistanceTiming necTiming{9000, 4500, 560, 560, 1690};
constexpr PulseDistanceTiming samsungTiming{4500, 4500, 550, 550, 1650};
constexpr PulseDistanceTiming kaseikyoTiming{3456, 1728, 432, 432, 1296};
constexpr PulseDistanceTiming rcaTiming{4000, 4000, 500, 1000, 2000};
constexpr PulseDistanceTiming pioneerTiming{8500, 4225, 500, 500, 1500};

void nec(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
         std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data =
        address | (address ^ 0xFFu) << 8 | command << 16 | (command ^ 0xFFu) << 24;
    pulseDistance(necTiming, 32, data, 0, durations);
}

// Nothing inverted: a file that wants a check byte writes it.
void necExt(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
            std::vector<std::uint32_t>* durations)
{
    pulseDistance(necTiming, 32, address | command << 16, 0, durations);
}

void nec42(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
           std::vector<std::uint32_t>* durations)
{
    const std::uint64_t data = std::uint64_t{address} | std::uint64_t{address ^ 0x1FFFu} << 13 |
                               std::uint64_t{command} << 26 | std::uint64_t{command ^ 0xFFu} << 34;
    pulseDistance(necTiming, 42, data, 0, durations);
}

void nec42Ext(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
              std::vector<std::uint32_t>* durations)
{
    pulseDistance(necTiming, 42, std::uint64_t{address} | std::uint64_t{command} << 26, 0,
                  durations);
}

void necDitto(std::uint32_t /*address*/, std::uint32_t /*command*/, std::uint32_t /*toggle*/,
              std::vector<std::uint32_t>* durations)
{
    mark(durations, 9000);
    space(durations, 2250);
    mark(durations, 560);
}

// The address byte twice, where NEC would send its inverse.
void samsung32(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
               std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data = address | address << 8 | command << 16 | (command ^ 0xFFu) << 24;
    pulseDistance(samsungTiming, 32, data, 0, durations);
}

// A held Samsung32 button: the lead and a lone 1 bit.
void samsung32Held(std::uint32_t /*address*/, std::uint32_t /*command*/, std::uint32_t /*toggle*/,
                   std::vector<std::uint32_t>* durations)
{
    pulseDistance(samsungTiming, 1, 1, 0, durations);
}

// Pulse width: a 600 or 1200 mark per bit, each after a 600 space, the seven command
// bits first.
void sircFrame(std::uint32_t addressBits, std::uint32_t address, std::uint32_t command,
               std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data = command | address << 7;
    mark(durations, 2400);
    for (std::uint32_t i = 0; i < 7 + addressBits; ++i) {
        space(durations, 600);
        mark(durations, ((data >> i) & 1u) != 0 ? 1200 : 600);
    }
}

void sirc(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
          std::vector<std::uint32_t>* durations)
{
    sircFrame(5, address, command, durations);
}

void sirc15(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
            std::vector<std::uint32_t>* durations)
{
    sircFrame(8, address, command, durations);
}

// Its 13-bit address is the device (5 bits) then the extension (8), as on air.
void sirc20(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
            std::vector<std::uint32_t>* durations)
{
    sircFrame(13, address, command, durations);
}

// The second start bit is the seventh command bit inverted: 1 for RC5, 0 for RC5X,
// whose commands are RC5's plus 64.  The first start bit's leading half is silence.
void rc5Frame(std::uint32_t secondStart, std::uint32_t address, std::uint32_t command,
              std::uint32_t toggle, std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data = 1u << 13 | secondStart << 12 | toggle << 11 | address << 6 | command;
    biphase(888, false, 14, data, durations);
}

void rc5(std::uint32_t address, std::uint32_t command, std::uint32_t toggle,
         std::vector<std::uint32_t>* durations)
{
    rc5Frame(1, address, command, toggle, durations);
}

void rc5x(std::uint32_t address, std::uint32_t command, std::uint32_t toggle,
          std::vector<std::uint32_t>* durations)
{
    rc5Frame(0, address, command, toggle, durations);
}

// Mode 0 only; the toggle's halves are twice the others'.
void rc6(std::uint32_t address, std::uint32_t command, std::uint32_t toggle,
         std::vector<std::uint32_t>* durations)
{
    mark(durations, 2666);
    space(durations, 889);
    biphase(444, true, 4, 0x8, durations);
    biphase(888, true, 1, toggle, durations);
    biphase(444, true, 16, address << 8 | command, durations);
}

// The address packs id:2 vendor:16 genre1:4 genre2:4; the third byte's low nibble is
// the vendor's four nibbles XORed, the last byte the XOR of bytes 3 to 5.
void kaseikyo(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
              std::vector<std::uint32_t>* durations)
{
    const std::uint32_t vendor = (address >> 8) & 0xFFFFu;
    const std::uint32_t nibbles = vendor ^ vendor >> 8;
    const std::uint32_t parity = (nibbles ^ nibbles >> 4) & 0xFu;
    const std::uint32_t byte3 = parity | ((address >> 4) & 0xFu) << 4;
    const std::uint32_t byte4 = (address & 0xFu) | (command & 0xFu) << 4;
    const std::uint32_t byte5 = (command >> 4) | ((address >> 24) & 0x3u) << 6;
    const std::uint64_t data = std::uint64_t{vendor} | std::uint64_t{byte3} << 16 |
                               std::uint64_t{byte4} << 24 | std::uint64_t{byte5} << 32 |
                               std::uint64_t{byte3 ^ byte4 ^ byte5} << 40;
    pulseDistance(kaseikyoTiming, 48, data, 0, durations);
}

void rca(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
         std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data =
        address | command << 4 | (address ^ 0xFu) << 12 | (command ^ 0xFFu) << 16;
    pulseDistance(rcaTiming, 24, data, 0, durations);
}

// The closing mark and its 500 space are the 33rd bit, a 0.
void pioneer(std::uint32_t address, std::uint32_t command, std::uint32_t /*toggle*/,
             std::vector<std::uint32_t>* durations)
{
    const std::uint32_t data =
        address | (address ^ 0xFFu) << 8 | command << 16 | (command ^ 0xFFu) << 24;
    pulseDistance(pioneerTiming, 32, data, 500, durations);
}

// The spaces between frames: a period from one frame's start to the next one's, or,
// where periodUs is 0, the encoder's silence after the frame (the frame's own
// trailing half or bit space adds to it).
struct FlipperProtocol {
    const char* name;
    std::uint32_t addressBits;
    std::uint32_t commandBits;
    std::int32_t carrierHz;
    int minFrames; // what the worker sends however short the press
    FlipperFrame encode;
    FlipperFrame encodeHeld; // the frames after the first
    std::uint32_t periodUs;
    std::uint32_t gapAfterFirstUs;
    std::uint32_t gapAfterHeldUs;
    bool hasToggle;
};

// Each encoder's silence before its start (NEC 110000, Samsung32 145000, SIRC
// 10000, Pioneer 26000) only ever precedes the first frame, as idle line: the table
// holds what separates frames.
const FlipperProtocol flipperProtocols[] = {
    {"NEC", 8, 8, 38000, 1, nec, necDitto, 110000, 0, 0, false},
    {"NECext", 16, 16, 38000, 1, necExt, necDitto, 110000, 0, 0, false},
    {"NEC42", 13, 8, 38000, 1, nec42, necDitto, 110000, 0, 0, false},
    {"NEC42ext", 26, 16, 38000, 1, nec42Ext, necDitto, 110000, 0, 0, false},
    {"Samsung32", 8, 8, 38000, 1, samsung32, samsung32Held, 0, 46000, 97000, false},
    {"RC5", 5, 6, 36000, 1, rc5, rc5, 0, 27000, 27000, true},
    {"RC5X", 5, 6, 36000, 1, rc5x, rc5x, 0, 27000, 27000, true},
    {"RC6", 8, 8, 36000, 1, rc6, rc6, 0, 27000, 27000, true},
    {"SIRC", 5, 7, 40000, 3, sirc, sirc, 45000, 0, 0, false},
    {"SIRC15", 8, 7, 40000, 3, sirc15, sirc15, 45000, 0, 0, false},
    {"SIRC20", 13, 7, 40000, 3, sirc20, sirc20, 45000, 0, 0, false},
    {"Kaseikyo", 26, 10, 38000, 1, kaseikyo, kaseikyo, 0, 130000, 130000, false},
    {"RCA", 4, 8, 38000, 1, rca, rca, 0, 8000, 8000, false},
    {"Pioneer", 8, 8, 40000, 2, pioneer, pioneer, 0, 26000, 26000, false},
};

constexpr double flipperDuty = 0.33;
constexpr std::int32_t rawMinHz = 10000;
constexpr std::int32_t rawMaxHz = 56000;
constexpr std::uint32_t rawRepeatSpaceUs = 180000;

std::string hex(std::uint64_t value)
{
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string tooLong(int repeats)
{
    return std::to_string(repeats) + " repeats make a press longer than " +
           std::to_string(maxPressUs / 1000000) + " s or " + std::to_string(maxPressDurations) +
           " durations";
}

int checkLength(const std::vector<std::uint32_t>& durations, int repeats, std::string* error)
{
    if (durations.size() > maxPressDurations || lengthUs(durations) > maxPressUs) {
        *error = tooLong(repeats);
        return -1;
    }
    return 0;
}

// Flipper names its protocols exactly; another case is a file Flipper would not load.
const FlipperProtocol* findProtocol(const std::string& name, std::string* error)
{
    for (const FlipperProtocol& p : flipperProtocols) {
        if (name == p.name)
            return &p;
    }
    for (const FlipperProtocol& p : flipperProtocols) {
        if (equalNoCase(name, p.name)) {
            *error = "Flipper has no protocol '" + name + "' (it names it '" + p.name + "')";
            return nullptr;
        }
    }
    *error = "Flipper has no protocol '" + name + "'";
    return nullptr;
}

int parsedPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    const FlipperProtocol* p = findProtocol(d.protocol, error);
    if (p == nullptr)
        return -1;
    if (d.address >> p->addressBits != 0 || d.command >> p->commandBits != 0) {
        *error = d.protocol + " address " + hex(d.address) + " command " + hex(d.command) +
                 ": Flipper takes " + std::to_string(p->addressBits) + " address bits and " +
                 std::to_string(p->commandBits) + " command bits";
        return -1;
    }
    if (r.toggle > 1) {
        *error = "a toggle bit is 0 or 1, not " + std::to_string(r.toggle);
        return -1;
    }
    // Flipper flips the toggle when a new press resets its encoder; what we know of
    // it does not say whether its first press sends 0 or 1, so press 0 here sends 0.
    std::uint32_t toggle = 0;
    if (p->hasToggle)
        toggle = r.toggle >= 0 ? static_cast<std::uint32_t>(r.toggle) : r.earlierPresses % 2u;
    const std::uint32_t address = static_cast<std::uint32_t>(d.address);
    const std::uint32_t command = static_cast<std::uint32_t>(d.command);
    const int frames = p->minFrames + r.repeats;
    std::vector<std::uint32_t> durations;
    std::uint64_t frameUs = 0;
    for (int k = 0; k < frames; ++k) {
        if (k > 0) {
            if (p->periodUs == 0)
                space(&durations, k == 1 ? p->gapAfterFirstUs : p->gapAfterHeldUs);
            else if (frameUs < p->periodUs)
                space(&durations, static_cast<std::uint32_t>(p->periodUs - frameUs));
            else {
                *error = d.protocol + ": a frame longer than its period";
                return -1;
            }
        }
        const std::uint64_t startUs = lengthUs(durations);
        // Called by a name: through the conditional, cppcheck missed that it adds to durations.
        const auto encode = k == 0 ? p->encode : p->encodeHeld;
        encode(address, command, toggle, &durations);
        frameUs = lengthUs(durations) - startUs;
        if (checkLength(durations, r.repeats, error) != 0)
            return -1;
    }
    if (durations.size() % 2 == 0)
        durations.pop_back();
    press->carrierHz = p->carrierHz;
    press->dutyCycle = flipperDuty;
    press->durations = durations;
    press->frames = frames;
    press->toggle = p->hasToggle ? static_cast<int>(toggle) : -1;
    return 0;
}

int rawPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    if (d.carrierHz == 0) {
        *error = "raw signal without a frequency: (Flipper requires one, 10000..56000 Hz)";
        return -1;
    }
    if (d.carrierHz < rawMinHz || d.carrierHz > rawMaxHz) {
        *error =
            "frequency " + std::to_string(d.carrierHz) + " Hz is outside Flipper's 10000..56000 Hz";
        return -1;
    }
    if (!(d.dutyCycle > 0 && d.dutyCycle <= 1)) {
        *error = "raw signal without a duty_cycle: in (0, 1], as Flipper requires";
        return -1;
    }
    if (d.dutyCycle >= 1) {
        *error = "duty_cycle 1 is a steady mark, which cannot be sent as carrier bursts";
        return -1;
    }
    if (d.durations.empty() || d.durations.size() > maxPressDurations) {
        *error = "raw data of " + std::to_string(d.durations.size()) +
                 " durations: Flipper sends 1 to " + std::to_string(maxPressDurations);
        return -1;
    }
    for (std::size_t i = 0; i < d.durations.size(); ++i) {
        if (d.durations[i] == 0) {
            *error = "raw duration " + std::to_string(i + 1) + " is 0";
            return -1;
        }
    }
    // An even count ends in a space Flipper sends: it joins the gap before a
    // held repeat, and nothing after the last one.
    std::vector<std::uint32_t> durations = d.durations;
    for (int k = 0; k < r.repeats; ++k) {
        space(&durations, rawRepeatSpaceUs);
        for (std::size_t i = 0; i < d.durations.size(); ++i)
            appendDuration(&durations, i % 2 == 0, d.durations[i]);
        if (checkLength(durations, r.repeats, error) != 0)
            return -1;
    }
    if (durations.size() % 2 == 0)
        durations.pop_back();
    if (checkLength(durations, r.repeats, error) != 0)
        return -1;
    press->carrierHz = d.carrierHz;
    press->dutyCycle = d.dutyCycle;
    press->durations = durations;
    press->frames = 1 + r.repeats;
    press->toggle = -1;
    return 0;
}

} // namespace

int flipperPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    if (r.repeats < 0) {
        *error = "a repeat count cannot be negative: " + std::to_string(r.repeats);
        return -1;
    }
    if (static_cast<std::size_t>(r.repeats) > maxPressDurations) {
        *error = tooLong(r.repeats);
        return -1;
    }
    return d.raw ? rawPress(d, r, press, error) : parsedPress(d, r, press, error);
}
