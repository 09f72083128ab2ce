#include "protocols.h"

#include "shown.h"

#include <cctype>
#include <cinttypes>
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

// The lirc write sends a frame up to its last mark: a bi-phase frame whose last bit
// ends in silence loses that half here, as the kernel's write drops it.
void dropTrailingSpace(std::vector<std::uint32_t>* durations)
{
    if (!durations->empty() && durations->size() % 2 == 0)
        durations->pop_back();
}

std::uint32_t bit(int toggle)
{
    return toggle != 0 ? 1 : 0;
}

void necFrame(const ProtocolTimings& timings, std::uint32_t address, std::uint32_t addressCheck,
              std::uint32_t command, std::uint32_t commandCheck,
              std::vector<std::uint32_t>* durations)
{
    const std::uint32_t raw = address | addressCheck << 8 | command << 16 | commandCheck << 24;
    pulseDistance(timings.nec, 32, raw, 0, durations);
}

void encodeNec(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
               std::vector<std::uint32_t>* durations)
{
    const std::uint32_t address = (scancode >> 8) & 0xff;
    const std::uint32_t command = scancode & 0xff;
    necFrame(timings, address, address ^ 0xff, command, command ^ 0xff, durations);
}

void encodeNecx(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                std::vector<std::uint32_t>* durations)
{
    const std::uint32_t command = scancode & 0xff;
    necFrame(timings, (scancode >> 16) & 0xff, (scancode >> 8) & 0xff, command, command ^ 0xff,
             durations);
}

// Apple's and TiVo's: the scancode holds each pair's check byte above its byte.
void encodeNec32(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                 std::vector<std::uint32_t>* durations)
{
    necFrame(timings, (scancode >> 16) & 0xff, scancode >> 24, scancode & 0xff,
             (scancode >> 8) & 0xff, durations);
}

void encodeNecRepeat(const ProtocolTimings& timings, std::uint32_t /*scancode*/, int /*toggle*/,
                     std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.nec.leadMark);
    space(durations, timings.necRepeatSpace);
    mark(durations, timings.nec.bitMark);
}

void encodeJvc(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
               std::vector<std::uint32_t>* durations)
{
    const std::uint32_t raw = ((scancode >> 8) & 0xff) | (scancode & 0xff) << 8;
    pulseDistance(timings.jvc, 16, raw, 0, durations);
}

void encodeSanyo(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                 std::vector<std::uint32_t>* durations)
{
    const std::uint64_t address = (scancode >> 8) & 0x1fff;
    const std::uint64_t command = scancode & 0xff;
    const std::uint64_t raw =
        address | (address ^ 0x1fff) << 13 | command << 26 | (command ^ 0xff) << 34;
    pulseDistance(timings.nec, 42, raw, 0, durations);
}

// Both halves in one frame, as the kernel sends them: the second inverts the command
// and swaps the two closing bits, so a receiver can tell a half from a repeat.
void encodeSharp(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                 std::vector<std::uint32_t>* durations)
{
    const std::uint32_t address = (scancode >> 8) & 0x1f;
    const std::uint32_t command = scancode & 0xff;
    pulseDistance(timings.sharp, 15, address | command << 5 | 1u << 13, timings.sharpEchoSpace,
                  durations);
    pulseDistance(timings.sharp, 15, address | (command ^ 0xff) << 5 | 1u << 14, 0, durations);
}

// Pulse length: each bit is a space, then a short or long mark.
void sonyFrame(const ProtocolTimings& timings, std::uint32_t bitCount, std::uint32_t data,
               std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.sonyLeadMark);
    for (std::uint32_t i = 0; i < bitCount; ++i) {
        space(durations, timings.sonySpace);
        mark(durations, ((data >> i) & 1) != 0 ? timings.sonyOneMark : timings.sonyZeroMark);
    }
}

void encodeSony12(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    sonyFrame(timings, 12, (scancode & 0x7f) | ((scancode >> 16) & 0x1f) << 7, durations);
}

void encodeSony15(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    sonyFrame(timings, 15, (scancode & 0x7f) | ((scancode >> 16) & 0xff) << 7, durations);
}

void encodeSony20(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    const std::uint32_t raw =
        (scancode & 0x7f) | ((scancode >> 16) & 0x1f) << 7 | ((scancode >> 8) & 0xff) << 12;
    sonyFrame(timings, 20, raw, durations);
}

// The first start bit is sent as its second half alone: its first half is silence.
void encodeRc5(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
               std::vector<std::uint32_t>* durations)
{
    // The second start bit is the command's seventh bit inverted: how RC5 reached
    // commands 64 to 127 and stayed compatible with the remotes that send a 1 there.
    const std::uint32_t commandHigh = (scancode >> 6) & 1;
    const std::uint32_t data = (commandHigh ^ 1) << 12 | bit(toggle) << 11 |
                               ((scancode >> 8) & 0x1f) << 6 | (scancode & 0x3f);
    mark(durations, timings.rc5Half);
    biphase(timings.rc5Half, false, 13, data, durations);
    dropTrailingSpace(durations);
}

void encodeRc5x20(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                  std::vector<std::uint32_t>* durations)
{
    const std::uint32_t commandHigh = (scancode >> 14) & 1;
    const std::uint32_t head =
        (commandHigh ^ 1) << 6 | bit(toggle) << 5 | ((scancode >> 16) & 0x1f);
    const std::uint32_t tail = ((scancode >> 8) & 0x3f) << 6 | (scancode & 0x3f);
    mark(durations, timings.rc5Half);
    biphase(timings.rc5Half, false, 7, head, durations);
    space(durations, 4 * timings.rc5Half);
    biphase(timings.rc5Half, false, 12, tail, durations);
    dropTrailingSpace(durations);
}

// StreamZap: the scancode is the frame's bits after the first start bit, with the
// toggle's place (bit 12) left out of the mask.
void encodeRc5Sz(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                 std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.rc5Half);
    biphase(timings.rc5Half, false, 14, (scancode & 0x2fff) | bit(toggle) << 12, durations);
    dropTrailingSpace(durations);
}

void rc6Frame(const ProtocolTimings& timings, std::uint32_t mode, int toggle,
              std::uint32_t bitCount, std::uint32_t data, std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.rc6LeadMark);
    space(durations, timings.rc6LeadSpace);
    biphase(timings.rc6Half, true, 4, 8 | mode, durations);
    biphase(timings.rc6ToggleHalf, true, 1, bit(toggle), durations);
    biphase(timings.rc6Half, true, bitCount, data, durations);
    dropTrailingSpace(durations);
}

void encodeRc60(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                std::vector<std::uint32_t>* durations)
{
    rc6Frame(timings, 0, toggle, 16, scancode, durations);
}

void encodeRc66a20(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                   std::vector<std::uint32_t>* durations)
{
    rc6Frame(timings, 6, toggle, 20, scancode, durations);
}

void encodeRc66a24(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                   std::vector<std::uint32_t>* durations)
{
    rc6Frame(timings, 6, toggle, 24, scancode, durations);
}

void encodeRc66a32(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                   std::vector<std::uint32_t>* durations)
{
    rc6Frame(timings, 6, toggle, 32, scancode, durations);
}

// MCE remotes keep the trailer bit 0 and toggle bit 15 of the data instead.
void encodeRc6Mce(const ProtocolTimings& timings, std::uint32_t scancode, int toggle,
                  std::vector<std::uint32_t>* durations)
{
    rc6Frame(timings, 6, 0, 32, scancode | bit(toggle) << 15, durations);
}

void encodeMcir2(const ProtocolTimings& timings, std::uint32_t bitCount, std::uint64_t data,
                 std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.mcir2LeadMark);
    biphase(timings.mcir2Half, true, bitCount, data, durations);
    dropTrailingSpace(durations);
}

// Five header bits say keyboard (0b00100) or mouse (0b00001) before the scancode.
void encodeMcir2Keyboard(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                         std::vector<std::uint32_t>* durations)
{
    encodeMcir2(timings, 5 + 32, std::uint64_t{4} << 32 | scancode, durations);
}

void encodeMcir2Mouse(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                      std::vector<std::uint32_t>* durations)
{
    encodeMcir2(timings, 5 + 29, std::uint64_t{1} << 29 | scancode, durations);
}

// Every bit is a unit of silence or carrier (carrier for a 0); the checked places
// are each preceded by a unit that is carrier only when this bit and the one above
// it are both 0.  The places are the kernel's IMON_CHKBITS.
void encodeImon(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                std::vector<std::uint32_t>* durations)
{
    constexpr std::uint32_t checked = 1u << 30 | 3u << 24 | 0x7fu << 16 | 0x3fu << 9;
    mark(durations, timings.imonUnit);
    for (std::uint32_t i = 31; i > 0; --i) {
        const std::uint32_t place = 1u << (i - 1);
        const bool checkMark = (checked & place) != 0 && (scancode & (place | place << 1)) == 0;
        appendDuration(durations, checkMark, timings.imonUnit);
        appendDuration(durations, (scancode & place) == 0, timings.imonUnit);
    }
    dropTrailingSpace(durations);
}

// Two bits per mark: the space after it says which of four values they are.
void rcmmFrame(const ProtocolTimings& timings, std::uint32_t bitCount, std::uint32_t data,
               std::vector<std::uint32_t>* durations)
{
    mark(durations, timings.rcmmLeadMark);
    space(durations, timings.rcmmLeadSpace);
    for (std::uint32_t i = bitCount; i >= 2; i -= 2) {
        mark(durations, timings.rcmmMark);
        space(durations, timings.rcmmSpaces[(data >> (i - 2)) & 3]);
    }
    mark(durations, timings.rcmmMark);
}

void encodeRcmm12(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    rcmmFrame(timings, 12, scancode, durations);
}

void encodeRcmm24(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    rcmmFrame(timings, 24, scancode, durations);
}

void encodeRcmm32(const ProtocolTimings& timings, std::uint32_t scancode, int /*toggle*/,
                  std::vector<std::uint32_t>* durations)
{
    rcmmFrame(timings, 32, scancode, durations);
}

// What rc_validate_scancode refuses: a scancode that another protocol of the family
// sends the same way, so that a decoder would report it under that other name.
const char* refusal(const KernelProtocol& protocol, std::uint32_t scancode)
{
    const std::string name = protocol.name;
    if (name == "necx" && (((scancode >> 16) ^ ~(scancode >> 8)) & 0xff) == 0)
        return "its second address byte is the first's inverse: send it as nec";
    if (name == "nec32" && (((scancode >> 8) ^ ~scancode) & 0xff) == 0)
        return "bits 8-15 are the inverse of bits 0-7: send it as nec or necx";
    if (name == "rc6_mce" && (scancode & 0xffff0000) != 0x800f0000)
        return "an rc6_mce scancode starts 0x800f";
    if (name == "rc6_6a_32" && (scancode & 0xffff0000) == 0x800f0000)
        return "a scancode starting 0x800f is rc6_mce's";
    return nullptr;
}

// Periods, frame start to frame start, where the kernel gives none (it sends one
// frame per write):
// - NEC family: 110000, the NEC repeat code's period (Flipper; the kernel's
//   rc-main repeat_period 110 ms).
// - RC5 family: 114000, the IRP's ^114m.  RC6: 107000, the IRP's ^107m for RC6
//   and MCE.
// - Sony: 45000, the IRP's ^45m and Flipper's period.  JVC: 59080, the IRP's
//   ^59.08m (the IRP repeats without the lead; we resend the frame whole).
// - Sanyo: 108659, its frame (always 85013: as many ones as zeros) plus the 42
//   units of silence the kernel's decoder notes as the real gap.
// - Sharp: 134000, the IRP's two halves of ^67m each.  RC-MM: 100000, the IRP
//   Nokia32's ^100m.
// - imon and MCIR2: no source but the kernel's rc-main repeat_period, 114 and 100 ms.
// The least space between frames is each encoder's trailer space (imon has none:
// its decoder's minimum timeout).
const KernelProtocol protocols[] = {
    {"rc5", 0x1f7f, 36000, encodeRc5, encodeRc5, 114000, 8890, true},
    {"rc5x_20", 0x1f7f3f, 36000, encodeRc5x20, encodeRc5x20, 114000, 8890, true},
    {"rc5_sz", 0x2fff, 36000, encodeRc5Sz, encodeRc5Sz, 114000, 8890, true},
    {"jvc", 0xffff, 38000, encodeJvc, encodeJvc, 59080, 18375, false},
    {"sony12", 0x1f007f, 40000, encodeSony12, encodeSony12, 45000, 6600, false},
    {"sony15", 0xff007f, 40000, encodeSony15, encodeSony15, 45000, 6600, false},
    {"sony20", 0x1fff7f, 40000, encodeSony20, encodeSony20, 45000, 6600, false},
    {"nec", 0xffff, 38000, encodeNec, encodeNecRepeat, 110000, 5630, false},
    {"necx", 0xffffff, 38000, encodeNecx, encodeNecRepeat, 110000, 5630, false},
    {"nec32", 0xffffffff, 38000, encodeNec32, encodeNecRepeat, 110000, 5630, false},
    {"sanyo", 0x1fffff, 38000, encodeSanyo, encodeSanyo, 108659, 5630, false},
    {"mcir2-kbd", 0xffffff, 36000, encodeMcir2Keyboard, encodeMcir2Keyboard, 100000, 3330, false},
    {"mcir2-mse", 0x1fffff, 36000, encodeMcir2Mouse, encodeMcir2Mouse, 100000, 3330, false},
    {"rc6_0", 0xffff, 36000, encodeRc60, encodeRc60, 107000, 2664, true},
    {"rc6_6a_20", 0xfffff, 36000, encodeRc66a20, encodeRc66a20, 107000, 2664, true},
    {"rc6_6a_24", 0xffffff, 36000, encodeRc66a24, encodeRc66a24, 107000, 2664, true},
    {"rc6_6a_32", 0xffffffff, 36000, encodeRc66a32, encodeRc66a32, 107000, 2664, true},
    {"rc6_mce", 0xffff7fff, 36000, encodeRc6Mce, encodeRc6Mce, 107000, 2664, true},
    {"sharp", 0x1fff, 38000, encodeSharp, encodeSharp, 134000, 40000, false},
    {"imon", 0x7fffffff, 38000, encodeImon, encodeImon, 114000, 24960, false},
    {"rc-mm-12", 0xfff, 36000, encodeRcmm12, encodeRcmm12, 100000, 1556, false},
    {"rc-mm-24", 0xffffff, 36000, encodeRcmm24, encodeRcmm24, 100000, 1556, false},
    {"rc-mm-32", 0xffffffff, 36000, encodeRcmm32, encodeRcmm32, 100000, 1556, false},
};

std::string squeezed(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        if (c != '-' && c != '_')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string hex(std::uint32_t value)
{
    char text[16];
    (void)std::snprintf(text, sizeof text, "0x%" PRIx32, value);
    return text;
}

// Decimal, or hex after 0x; nothing else, and nothing above 32 bits.
int parseScancode(const std::string& text, std::uint32_t* value)
{
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::uint64_t base = isHex ? 16 : 10;
    const std::size_t start = isHex ? 2 : 0;
    if (text.size() <= start)
        return -1;
    std::uint64_t result = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const int c = std::tolower(static_cast<unsigned char>(text[i]));
        std::uint64_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint64_t>(c - '0');
        else if (isHex && c >= 'a' && c <= 'f')
            digit = static_cast<std::uint64_t>(c - 'a') + 10;
        else
            return -1;
        result = result * base + digit;
        if (result > 0xffffffff)
            return -1;
    }
    *value = static_cast<std::uint32_t>(result);
    return 0;
}

std::uint64_t lengthUs(const std::vector<std::uint32_t>& durations)
{
    std::uint64_t total = 0;
    for (const std::uint32_t us : durations)
        total += us;
    return total;
}

} // namespace

void pulseDistance(const PulseDistanceTiming& timing, std::uint32_t bitCount, std::uint64_t data,
                   std::uint32_t trailerSpace, std::vector<std::uint32_t>* durations)
{
    mark(durations, timing.leadMark);
    space(durations, timing.leadSpace);
    for (std::uint32_t i = 0; i < bitCount; ++i) {
        mark(durations, timing.bitMark);
        space(durations, ((data >> i) & 1) != 0 ? timing.oneSpace : timing.zeroSpace);
    }
    mark(durations, timing.bitMark);
    space(durations, trailerSpace);
}

void biphase(std::uint32_t half, bool onesMarkFirst, std::uint32_t bitCount, std::uint64_t data,
             std::vector<std::uint32_t>* durations)
{
    for (std::uint32_t i = bitCount; i > 0; --i) {
        const bool one = ((data >> (i - 1)) & 1) != 0;
        const bool markFirst = one == onesMarkFirst;
        appendDuration(durations, markFirst, half);
        appendDuration(durations, !markFirst, half);
    }
}

// Linux 6.1's units: each protocol's #define, pre-rounded to whole microseconds,
// and its multiples of the rounded unit (16 x 563 = 9008).
ProtocolTimings kernelTimings()
{
    ProtocolTimings units{};
    units.nec = {9008, 4504, 563, 563, 1689};
    units.necRepeatSpace = 2252;
    units.jvc = {8400, 4200, 525, 525, 1575};
    units.sharp = {0, 0, 320, 680, 1680};
    units.sharpEchoSpace = 40000;
    units.sonyLeadMark = 2400;
    units.sonySpace = 600;
    units.sonyZeroMark = 600;
    units.sonyOneMark = 1200;
    units.rc5Half = 889;
    units.rc6LeadMark = 2664;
    units.rc6LeadSpace = 888;
    units.rc6Half = 444;
    units.rc6ToggleHalf = 888;
    // 417 and the spaces are the kernel's roundings of 2.5, 1.67, 2.67, 3.67 and
    // 4.67 units of 166.67, not multiples of its rounded 166.
    units.rcmmLeadMark = 417;
    units.rcmmLeadSpace = 278;
    units.rcmmMark = 166;
    units.rcmmSpaces[0] = 278;
    units.rcmmSpaces[1] = 444;
    units.rcmmSpaces[2] = 611;
    units.rcmmSpaces[3] = 778;
    units.imonUnit = 416;
    units.mcir2LeadMark = 2664;
    units.mcir2Half = 333;
    return units;
}

const KernelProtocol* kernelProtocols(std::size_t* count)
{
    *count = sizeof protocols / sizeof protocols[0];
    return protocols;
}

const KernelProtocol* findKernelProtocol(const std::string& name)
{
    const std::string wanted = squeezed(name);
    for (const KernelProtocol& protocol : protocols) {
        if (squeezed(protocol.name) == wanted)
            return &protocol;
    }
    return nullptr;
}

int parseKernelScancode(const std::string& text, const KernelProtocol** protocol,
                        std::uint32_t* scancode, std::string* error)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        *error = shown(text) + " is no PROTOCOL:SCANCODE, e.g. nec:0x408";
        return -1;
    }
    const std::string name = text.substr(0, colon);
    const KernelProtocol* found = findKernelProtocol(name);
    if (found == nullptr) {
        std::string known;
        for (const KernelProtocol& each : protocols)
            known += (known.empty() ? "" : ", ") + std::string(each.name);
        *error = "unknown protocol " + shown(name) + "; known: " + known;
        return -1;
    }
    const std::string digits = text.substr(colon + 1);
    std::uint32_t value = 0;
    if (parseScancode(digits, &value) != 0) {
        *error = shown(digits) + " is no 32-bit scancode (decimal, or hex after 0x)";
        return -1;
    }
    if ((value & ~found->scancodeMask) != 0) {
        *error = std::string(found->name) + " scancode " + hex(value) + " has bits outside " +
                 hex(found->scancodeMask);
        return -1;
    }
    if (const char* reason = refusal(*found, value)) {
        *error = std::string(found->name) + " scancode " + hex(value) + ": " + reason;
        return -1;
    }
    *protocol = found;
    *scancode = value;
    return 0;
}

int kernelPress(const KernelProtocol& protocol, std::uint32_t scancode, int toggle, int repeats,
                Press* press, std::string* error)
{
    if (repeats < 0) {
        *error = "a repeat count cannot be negative: " + std::to_string(repeats);
        return -1;
    }
    const ProtocolTimings timings = kernelTimings();
    std::vector<std::uint32_t> durations;
    protocol.encode(timings, scancode, toggle, &durations);
    std::vector<std::uint32_t> repeat;
    protocol.encodeRepeat(timings, scancode, toggle, &repeat);
    const std::uint64_t repeatUs = lengthUs(repeat);
    std::uint64_t totalUs = lengthUs(durations);
    std::uint64_t previousUs = totalUs;
    for (int i = 0; i < repeats; ++i) {
        const std::uint64_t periodUs = protocol.repeatPeriodUs;
        std::uint64_t gapUs = protocol.trailingSpaceUs;
        if (previousUs + gapUs < periodUs)
            gapUs = periodUs - previousUs;
        totalUs += gapUs + repeatUs;
        if (totalUs > maxPressUs || durations.size() + 1 + repeat.size() > maxPressDurations) {
            *error = std::to_string(repeats) + " repeats of " + protocol.name +
                     " make a press longer than " + std::to_string(maxPressUs / 1000000) +
                     " s or " + std::to_string(maxPressDurations) + " durations";
            return -1;
        }
        space(&durations, static_cast<std::uint32_t>(gapUs));
        durations.insert(durations.end(), repeat.begin(), repeat.end());
        previousUs = repeatUs;
    }
    press->carrierHz = protocol.carrierHz;
    press->dutyCycle = 0.5; // the kernel's encoders leave the duty as gpio-ir-tx sets it
    press->durations = durations;
    press->frames = 1 + repeats;
    return 0;
}
