// The kernel's scancodes and its decoder's tolerances.  Expected lines are the bytes
// on air written by hand from the kernel's scancode layouts (nec AACC, necx AAaaCC,
// nec32 aaAAddDD) and the margins of ir-nec-decoder.c (NEC_UNIT 563 us).
#include "codes.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "nec_line.h"

namespace {

} // namespace

TEST(Scancode, NamesTheBytesTheKernelSends)
{
    const struct Case {
        const char* text;
        std::vector<unsigned> bytes;
        const char* note; // part of the note
    } cases[] = {
        {"nec:0x408", {0x04, 0xFB, 0x08, 0xF7}, "nec 0x408"},
        {"nec:408", {0x04, 0xFB, 0x08, 0xF7}, "nec 0x408"},
        {"NEC:0X0045", {0x00, 0xFF, 0x45, 0xBA}, "nec 0x45"},
        {"nec:0xffff", {0xFF, 0x00, 0xFF, 0x00}, "nec 0xffff"},
        // The README's old advice got this one wrong: EE 00, not EE 11.
        {"necx:0xEE005D", {0xEE, 0x00, 0x5D, 0xA2}, "necx 0xee005d"},
        {"necx:0x7a8415", {0x7A, 0x84, 0x15, 0xEA}, "necx 0x7a8415"},
        // Always hex, where ir-ctl would read octal or decimal.
        {"necx:070000", {0x07, 0x00, 0x00, 0xFF}, "necx 0x70000"},
        {"nec32:0x12345678", {0x34, 0x12, 0x78, 0x56}, "nec32 0x12345678"},
        {"nec32:ffffffff", {0xFF, 0xFF, 0xFF, 0xFF}, "nec32 0xffffffff"},
        // Not canonical: the kernel's encoder refuses them, the bytes are still these.
        {"necx:0x04fb08", {0x04, 0xFB, 0x08, 0xF7}, "refuses it as not canonical"},
        {"nec32:0x12344ab5",
         {0x34, 0x12, 0xB5, 0x4A},
         "decoder reads these bytes as necx 0x3412b5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Signal s;
        std::string error;
        ASSERT_EQ(parseScancode(c.text, &s, &error), 0) << error;
        EXPECT_EQ(lineOf(s), necLine(c.bytes));
        EXPECT_NE(s.note.find(c.note), std::string::npos) << s.note;
    }
}

TEST(Scancode, RefusesWhatNamesNoNecFrame)
{
    const struct Case {
        const char* text;
        const char* error; // part of the message
    } cases[] = {
        {"nec:0x10000", "too large for nec"},
        {"nec:65535", "too large for nec"},
        {"necx:0x1000000", "too large"},
        {"nec32:0x100000000", "too large"},
        {"nec32:0x0000000100000000", "too large"},
        {"rc5:0x1e01", "no NEC protocol"},
        {"nec-x:0x10203", "no NEC protocol"},
        {"0x408", "PROTOCOL:SCANCODE"},
        {"nec:", "hex digits"},
        {"nec:0x", "hex digits"},
        {"nec:-1", "hex digits"},
        {"nec:0x4 08", "hex digits"},
        {"nec:+408", "hex digits"},
        {"nec:0x0x408", "hex digits"},
        {"nec: 408", "hex digits"},
        {"nec:99999999999999999999", "hex digits"},
        // Found by fuzzing: the text quoted stays on the message's one line.
        {"nec:4\n08", "not '4\\x0A08'"},
        {"r\tc5:1", "'r\\x09c5' is no NEC protocol"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Signal s;
        std::string error;
        EXPECT_EQ(parseScancode(c.text, &s, &error), -1);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

namespace {

// An NEC frame's durations, mark first, with the timings given.
struct Timing {
    std::uint32_t lead = 9000, leadGap = 4500, pulse = 560, one = 1690, zero = 560, trail = 560;
};

std::vector<std::uint32_t> frame(const std::vector<unsigned>& bytes, const Timing& t = {})
{
    std::vector<std::uint32_t> d = {t.lead, t.leadGap};
    for (const unsigned byte : bytes) {
        for (unsigned i = 0; i < 8; ++i) {
            d.push_back(t.pulse);
            d.push_back(((byte >> i) & 1u) != 0 ? t.one : t.zero);
        }
    }
    d.push_back(t.trail);
    return d;
}

std::vector<std::uint32_t> joined(std::vector<std::uint32_t> a, std::uint32_t gap,
                                  const std::vector<std::uint32_t>& b)
{
    a.push_back(gap);
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint32_t> cut(std::vector<std::uint32_t> d, std::size_t n)
{
    d.resize(n);
    return d;
}

Timing with(std::uint32_t Timing::*field, std::uint32_t value)
{
    Timing t;
    t.*field = value;
    return t;
}

const std::vector<unsigned> lg = {0x04, 0xFB, 0x08, 0xF7};
const std::vector<std::uint32_t> repeatCode = {9000, 2250, 560};

} // namespace

// Each margin is open at both ends: eq_margin(d, x, m) is x - m < d < x + m.
TEST(Decoder, TakesWhatTheKernelTakesAndNothingElse)
{
    const struct Case {
        const char* what;
        std::vector<std::uint32_t> durations;
        bool taken;
        const char* note;
    } cases[] = {
        {"nominal", frame(lg), true, "nec 0x408"},
        {"beamfile's own", frame(lg, {8892, 4500, 546, 1688, 562, 546}), true, "nec 0x408"},
        {"lead 7883", frame(lg, with(&Timing::lead, 7883)), true, ""},
        {"lead 7882", frame(lg, with(&Timing::lead, 7882)), false, "duration 1 (7882 us)"},
        {"lead 10133", frame(lg, with(&Timing::lead, 10133)), true, ""},
        {"lead 10134", frame(lg, with(&Timing::lead, 10134)), false, "duration 1"},
        {"lead gap 3942", frame(lg, with(&Timing::leadGap, 3942)), true, ""},
        {"lead gap 3941", frame(lg, with(&Timing::leadGap, 3941)), false, "duration 2"},
        {"lead gap 5066", frame(lg, with(&Timing::leadGap, 5066)), true, ""},
        {"lead gap 5067", frame(lg, with(&Timing::leadGap, 5067)), false, "duration 2"},
        {"bit pulses 283", frame(lg, with(&Timing::pulse, 283)), true, ""},
        {"bit pulses 282", frame(lg, with(&Timing::pulse, 282)), false, "duration 3"},
        {"bit pulses 843", frame(lg, with(&Timing::pulse, 843)), true, ""},
        {"bit pulses 844", frame(lg, with(&Timing::pulse, 844)), false, "duration 3"},
        {"ones 1409", frame(lg, with(&Timing::one, 1409)), true, ""},
        {"ones 1408", frame(lg, with(&Timing::one, 1408)), false, "duration 8"},
        {"ones 1969", frame(lg, with(&Timing::one, 1969)), true, ""},
        {"ones 1970", frame(lg, with(&Timing::one, 1970)), false, "duration 8"},
        {"zeros 843", frame(lg, with(&Timing::zero, 843)), true, ""},
        {"zeros 844", frame(lg, with(&Timing::zero, 844)), false, "duration 4"},
        {"trailing 283", frame(lg, with(&Timing::trail, 283)), true, ""},
        {"trailing 282", frame(lg, with(&Timing::trail, 282)), false, "duration 67"},
        {"no trailing burst", cut(frame(lg), 66), false, "duration 66"},
        {"cut short", cut(frame(lg), 40), false, "duration 40"},
        {"then repeat codes", joined(joined(frame(lg), 40000, repeatCode), 96000, repeatCode), true,
         "then 2 repeat codes"},
        {"twice", joined(frame(lg), 40000, frame(lg)), true, "sent 2 times"},
        {"gap 5350 before the next", joined(frame(lg), 5350, frame(lg)), true, ""},
        {"gap 5349 before the next", joined(frame(lg), 5349, frame(lg)), false, "duration 68"},
        {"two frames that differ", joined(frame(lg), 40000, frame({0x04, 0xFB, 0x09, 0xF6})), false,
         "2 frames that differ"},
        {"a repeat code alone", repeatCode, false, "a repeat code comes first"},
        {"nothing", {}, false, "no NEC frame"},
        {"junk after the frame", joined(frame(lg), 40000, {1200, 600, 600}), false, "duration 69"},
        {"junk before the frame", joined({2400, 600, 1200}, 40000, frame(lg)), false, "duration 1"},
        {"NECx lead", frame(lg, with(&Timing::lead, 4500)), false, "4.5 ms lead burst"},
        {"extended address", frame({0xEE, 0x00, 0x5D, 0xA2}), true, "necx 0xee005d"},
        {"nec32", frame({0x34, 0x12, 0x78, 0x56}), true, "nec32 0x12345678"},
        {"zero durations", {0, 0, 0}, false, "duration 1 (0 us)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::uint32_t code = 0;
        std::string note;
        EXPECT_EQ(necFromDurations(c.durations, &code, &note) == 0, c.taken) << note;
        EXPECT_NE(note.find(c.note), std::string::npos) << note;
    }
}

TEST(Decoder, GivesTheBitsOfTheFrame)
{
    for (const std::vector<unsigned>& bytes :
         std::vector<std::vector<unsigned>>{{0x04, 0xFB, 0x08, 0xF7},
                                            {0x00, 0xFF, 0x45, 0xBA},
                                            {0xEE, 0x00, 0x5D, 0xA2},
                                            {0xFF, 0xFF, 0xFF, 0xFF},
                                            {0x00, 0x00, 0x00, 0x00}}) {
        std::uint32_t code = 0;
        std::string note;
        ASSERT_EQ(necFromDurations(frame(bytes), &code, &note), 0) << note;
        Signal s;
        s.sendable = true;
        s.code = code;
        EXPECT_EQ(lineOf(s), necLine(bytes)) << note;
    }
}
