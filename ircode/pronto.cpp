#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "parse.h"
#include "shown.h"
#include "text.h"

namespace {

// The Pronto clock: a frequency code counts periods of this many microseconds.
constexpr double prontoClockUs = 0.241246;
constexpr std::int32_t lowestCarrierHz = 10000;
constexpr std::int32_t highestCarrierHz = 500000;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int wordValue(const std::string& word, std::size_t index, std::uint16_t* value, std::string* error)
{
    const std::string where = "word " + std::to_string(index) + " " + shown(word);
    std::uint32_t sum = 0;
    for (const char c : word) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            *error = where + " is not a hex number";
            return -1;
        }
        sum = (sum << 4 | static_cast<std::uint32_t>(digit)) & 0xFFFFF;
    }
    // Refused by length, not value: a fifth digit, even a leading 0, means two words
    // ran together or one was cut, and the pairs after it would be shifted.
    if (word.size() > 4) {
        *error = where + " has more than 4 hex digits";
        return -1;
    }
    *value = static_cast<std::uint16_t>(sum);
    return 0;
}

// The short forms name a protocol and its parameters instead of durations.  Their
// durations and carrier are the protocol's as IrpTransmogrifier defines them, which
// the facts at hand do not pin down exactly enough to send (which carrier, which
// toggle, where the extent goes); refusing beats sending something close.
const char* shortFormName(std::uint16_t type)
{
    switch (type) {
    case 0x5000:
        return "RC5";
    case 0x5001:
        return "RC5X";
    case 0x6000:
        return "RC6";
    case 0x900A:
        return "NEC1";
    default:
        return nullptr;
    }
}

std::string hex4(std::uint16_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

int checkHeader(const std::vector<std::uint16_t>& words, std::string* error)
{
    const std::uint16_t type = words[0];
    if (type != 0x0000 && type != 0x0100) {
        const char* name = shortFormName(type);
        *error = name != nullptr ? "Pronto type " + hex4(type) + " (" + name +
                                       " short form) is not supported: give the learned form "
                                       "(0000)"
                                 : "word 0 " + hex4(type) +
                                       " is no Pronto type (0000, 0100, 5000, 5001, 6000, 900A)";
        return -1;
    }
    if (words[1] == 0) {
        *error = "word 1: frequency code 0000 gives no time unit";
        return -1;
    }
    if (words[2] == 0 && words[3] == 0) {
        *error = "words 2 and 3 are both 0: the code holds no signal";
        return -1;
    }
    const std::size_t expected = 4 + 2 * (std::size_t{words[2]} + std::size_t{words[3]});
    if (words.size() != expected) {
        *error = std::to_string(words.size()) + " words, but words 2 and 3 (" +
                 std::to_string(words[2]) + " + " + std::to_string(words[3]) + " pairs) call for " +
                 std::to_string(expected);
        return -1;
    }
    return 0;
}

int burstDurations(const std::vector<std::uint16_t>& words, double unitUs,
                   std::vector<std::uint32_t>* durations, std::string* error)
{
    for (std::size_t i = 4; i < words.size(); ++i) {
        // At most 65535 x 15810 us: exact enough in a double, and no wrap on 32 bits.
        const double us = std::round(words[i] * unitUs);
        const std::string where = "word " + std::to_string(i) + " " + hex4(words[i]);
        if (us < 1) {
            *error = where + (words[i] == 0 ? " is a zero duration" : " rounds to 0 us");
            return -1;
        }
        if (us > maxDurationUs) {
            *error = where + " is " + std::to_string(static_cast<std::uint64_t>(us)) +
                     " us, more than " + std::to_string(maxDurationUs);
            return -1;
        }
        durations->push_back(static_cast<std::uint32_t>(us));
    }
    return 0;
}

// The intro once, then the repeat: once in the intro's place when there is none,
// and repeats times after.  Counted 64 bits wide so that a huge repeats cannot
// wrap on a 32-bit size_t before it is refused.
int sequence(const std::vector<std::uint32_t>& bursts, std::size_t introSize, int repeats,
             Press* press, std::string* error)
{
    const std::size_t repeatSize = bursts.size() - introSize;
    const std::uint64_t repeatTimes =
        repeatSize == 0 ? 0 : static_cast<std::uint64_t>(repeats) + (introSize == 0 ? 1 : 0);
    const std::uint64_t total = introSize + repeatSize * repeatTimes - 1;
    if (total > maxDurations) {
        *error = "the press has " + std::to_string(total) + " durations, more than " +
                 std::to_string(maxDurations);
        return -1;
    }
    const auto repeatStart = bursts.begin() + static_cast<std::ptrdiff_t>(introSize);
    std::vector<std::uint32_t> durations(bursts.begin(), repeatStart);
    durations.reserve(static_cast<std::size_t>(total) + 1);
    for (std::uint64_t i = 0; i < repeatTimes; ++i)
        durations.insert(durations.end(), repeatStart, bursts.end());
    // Each frame's last off time is the gap before the next frame, so it stays between
    // frames; after the last one there is no frame to keep apart, and a press ends with
    // its last mark as every other source's does (the kernel's lirc write drops it too).
    durations.pop_back();
    press->durations = durations;
    press->frames = static_cast<int>((introSize > 0 ? 1 : 0) + repeatTimes);
    return 0;
}

} // namespace

int parsePronto(const std::string& text, int repeats, Press* press, std::string* error)
{
    if (repeats < 0) {
        *error = "repeats " + std::to_string(repeats) + " is negative";
        return -1;
    }
    // A code pasted from a web page may be wrapped over lines.
    std::string unwrapped = text;
    std::replace(unwrapped.begin(), unwrapped.end(), '\n', ' ');
    const std::vector<std::string> texts = words(unwrapped);
    if (texts.empty()) {
        *error = "no Pronto words";
        return -1;
    }
    std::vector<std::uint16_t> values(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (wordValue(texts[i], i, &values[i], error) != 0)
            return -1;
    }
    if (values.size() < 4) {
        *error = "only " + std::to_string(values.size()) + " words: a Pronto code has at least 4";
        return -1;
    }
    if (values.size() % 2 != 0) {
        *error = std::to_string(values.size()) + " words: a Pronto code has an even count";
        return -1;
    }
    if (checkHeader(values, error) != 0)
        return -1;

    const double unitUs = values[1] * prontoClockUs;
    const bool modulated = values[0] == 0x0000;
    const double carrier = std::round(1e6 / unitUs);
    if (modulated && (carrier < lowestCarrierHz || carrier > highestCarrierHz)) {
        *error = "word 1 " + hex4(values[1]) + " is a carrier of " +
                 std::to_string(static_cast<std::int64_t>(carrier)) + " Hz, not " +
                 std::to_string(lowestCarrierHz) + ".." + std::to_string(highestCarrierHz);
        return -1;
    }
    std::vector<std::uint32_t> bursts;
    if (burstDurations(values, unitUs, &bursts, error) != 0)
        return -1;

    Press made = *press; // the duty cycle, which Pronto does not give, stays the caller's
    made.carrierHz = modulated ? static_cast<std::int32_t>(carrier) : 0;
    if (sequence(bursts, 2 * std::size_t{values[2]}, repeats, &made, error) != 0)
        return -1;
    *press = made;
    return 0;
}
