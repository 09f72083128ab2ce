// A key of a lircd.conf remote as `irsend SEND_ONCE remote KEY` makes lircd send it
// (LIRC 0.10.1 lib/transmit.c, checked against irsimsend): the first frame whole,
// 1 + min_repeat frames in all, each followed by LIRC's gap.  What LIRC would not
// send, or sends in a way not built here, is refused with the reason.
#include "lirc.h"
#include "sources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// LIRC's send buffer: a pulse or space joins a pending one of its kind, a space
// before any pulse is dropped, and the space still pending at the end is dropped
// too (the gap takes its place) and left out of the frame's length.  What is sent
// is the buffer's values in turn, pulse first: a zero-length pulse between two
// spaces leaves them as two values, and the second goes on air as a pulse.  A frame
// whose last value falls on a space's place loses it, but its length keeps it.
struct Frame {
    std::vector<std::uint64_t> durations;
    std::uint64_t pulse = 0;
    std::uint64_t space = 0;
    std::uint64_t sum = 0;
    std::size_t written = 0; // values put in the buffer, the one dropped at the end too
};

void add(Frame* f, std::uint64_t* pending)
{
    f->durations.push_back(*pending);
    f->sum += *pending;
    ++f->written;
    *pending = 0;
}

void sendPulse(Frame* f, std::uint64_t us)
{
    if (f->pulse > 0) {
        f->pulse += us;
        return;
    }
    if (f->space > 0)
        add(f, &f->space);
    f->pulse = us;
}

void sendSpace(Frame* f, std::uint64_t us)
{
    if (f->durations.empty() && f->pulse == 0)
        return;
    if (f->space > 0) {
        f->space += us;
        return;
    }
    if (f->pulse > 0)
        add(f, &f->pulse);
    f->space = us;
}

void finish(Frame* f)
{
    if (f->pulse > 0)
        add(f, &f->pulse);
    f->space = 0;
    if (!f->durations.empty() && f->durations.size() % 2 == 0)
        f->durations.pop_back();
}

// plead and ptrail go in only when given: a zero-length pulse is not nothing to
// LIRC's buffer (it ends the pending space).
void sendIfGiven(Frame* f, std::uint64_t pulse)
{
    if (pulse != 0)
        sendPulse(f, pulse);
}

bool hasPair(const LircPair& p)
{
    return p.pulse > 0 && p.space > 0;
}

std::uint64_t lowBits(std::uint64_t value, std::uint64_t bits)
{
    return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1u);
}

std::uint64_t reversed(std::uint64_t value, std::uint64_t bits)
{
    std::uint64_t r = 0;
    for (std::uint64_t i = 0; i < bits; ++i)
        r = (r << 1u) | ((value >> i) & 1u);
    return r;
}

int bitCount(std::uint64_t value)
{
    int n = 0;
    for (; value != 0; value &= value - 1u)
        ++n;
    return n;
}

std::uint64_t allBits(const LircRemote& r)
{
    return r.preDataBits + r.bits + r.postDataBits;
}

// The old toggle_bit counts from the first bit sent; LIRC turns it into a mask.
std::uint64_t toggleBitMask(const LircRemote& r)
{
    if (r.toggleBitMask != 0 || r.toggleBit == 0 || r.toggleBit > allBits(r))
        return r.toggleBitMask;
    return std::uint64_t{1} << (allBits(r) - r.toggleBit);
}

std::uint64_t rc6Mask(const LircRemote& r)
{
    if (r.encoding != LircEncoding::rc6 || r.rc6Mask != 0)
        return r.rc6Mask;
    return toggleBitMask(r);
}

// What one press's frames share: the remote, and the word parts as LIRC loaded them.
struct Sender {
    const LircRemote* remote = nullptr;
    std::uint64_t pre = 0;
    std::uint64_t code = 0;
    std::uint64_t post = 0;
    std::uint64_t toggleState = 0; // the toggle_bit_mask bits of this press
};

// RCMM's two bits a symbol, each symbol a pulse and space of its own.
void sendRcmmData(const LircRemote& r, std::uint64_t data, std::uint64_t bits, Frame* f)
{
    for (std::uint64_t i = 0; i < bits; i += 2) {
        const auto symbol = (data >> (bits - i - 2u)) & 3u;
        const LircPair& p = symbol == 0   ? r.zero
                            : symbol == 1 ? r.one
                            : symbol == 2 ? r.two
                                          : r.three;
        sendPulse(f, p.pulse);
        sendSpace(f, p.space);
    }
}

// XMP's nibbles: a nibble's value is in its space, zero's space and that many of one's.
void sendXmpData(const LircRemote& r, std::uint64_t data, std::uint64_t bits, Frame* f)
{
    for (std::uint64_t i = 0; i < bits; i += 4) {
        const auto nibble = (data >> (bits - i - 4u)) & 15u;
        sendPulse(f, r.zero.pulse);
        sendSpace(f, r.zero.space + nibble * r.one.space);
    }
}

// One bit as LIRC's send_data sends it, its quirks kept: a doubled (rc6_mask) one is
// longer only in a biphase encoding, and a doubled zero goes pulse first even where
// space_first is set.
void sendBit(const LircRemote& r, bool one, bool biphase, std::uint64_t factor, Frame* f)
{
    if (one && (biphase || r.spaceFirst)) {
        sendSpace(f, (biphase ? factor : 1) * r.one.space);
        sendPulse(f, (biphase ? factor : 1) * r.one.pulse);
    } else if (one) {
        sendPulse(f, r.one.pulse);
        sendSpace(f, r.one.space);
    } else if (factor == 2 || !r.spaceFirst) {
        sendPulse(f, factor * r.zero.pulse);
        sendSpace(f, factor * r.zero.space);
    } else {
        sendSpace(f, r.zero.space);
        sendPulse(f, r.zero.pulse);
    }
}

// Bits [done, done + bits) of the word, most significant first, as LIRC's send_data
// puts them: toggle_bit_mask and toggle_mask work on their places in the whole word.
void sendData(const Sender& s, std::uint64_t data, std::uint64_t bits, std::uint64_t done,
              int frameIndex, Frame* f)
{
    const LircRemote& r = *s.remote;
    if (r.encoding == LircEncoding::rcmm) {
        sendRcmmData(r, data, bits, f);
        return;
    }
    if (r.encoding == LircEncoding::xmp) {
        sendXmpData(r, data, bits, f);
        return;
    }
    const std::uint64_t toggleMask = toggleBitMask(r);
    const bool oneToggleBit = bitCount(toggleMask) == 1;
    const bool biphase = r.encoding == LircEncoding::shift || r.encoding == LircEncoding::rc6;
    const std::uint64_t doubled = rc6Mask(r);
    const std::uint64_t all = allBits(r);
    for (std::uint64_t i = 0; i < bits; ++i) {
        const std::uint64_t mask = std::uint64_t{1} << (all - 1u - done - i);
        bool one = ((data >> (bits - 1u - i)) & 1u) != 0;
        if ((mask & toggleMask) != 0) {
            const bool state = (s.toggleState & mask) != 0;
            one = oneToggleBit ? state : one != state;
        }
        if ((mask & r.toggleMask) != 0 && frameIndex % 2 == 1)
            one = !one;
        sendBit(r, one, biphase, (mask & doubled) != 0 ? 2 : 1, f);
    }
}

void sendHeader(const LircRemote& r, Frame* f)
{
    if (hasPair(r.header)) {
        sendPulse(f, r.header.pulse);
        sendSpace(f, r.header.space);
    }
}

// A whole frame (LIRC's send_code); a repeat leaves out what NO_HEAD_REP and
// NO_FOOT_REP say, and its code is XORed with repeat_mask.
void sendCode(const Sender& s, bool repeat, int frameIndex, Frame* f)
{
    const LircRemote& r = *s.remote;
    if (!repeat || !r.noHeadRep)
        sendHeader(r, f);
    sendIfGiven(f, r.plead);
    if (r.preDataBits > 0) {
        sendData(s, s.pre, r.preDataBits, 0, frameIndex, f);
        if (hasPair(r.pre)) {
            sendPulse(f, r.pre.pulse);
            sendSpace(f, r.pre.space);
        }
    }
    const std::uint64_t code = repeat ? lowBits(s.code ^ r.repeatMask, r.bits) : s.code;
    sendData(s, code, r.bits, r.preDataBits, frameIndex, f);
    if (r.postDataBits > 0) {
        if (hasPair(r.post)) {
            sendPulse(f, r.post.pulse);
            sendSpace(f, r.post.space);
        }
        sendData(s, s.post, r.postDataBits, r.preDataBits + r.bits, frameIndex, f);
    }
    sendIfGiven(f, r.ptrail);
    if ((!repeat || !r.noFootRep) && hasPair(r.foot)) {
        sendSpace(f, r.foot.space);
        sendPulse(f, r.foot.pulse);
    }
    finish(f);
    // LIRC keeps the period of a CONST_LENGTH remote that sends its header only once
    // as if the first frame had none.
    if (!repeat && r.noHeadRep && r.constLength)
        f->sum -= r.header.pulse + r.header.space;
}

void sendRepeatCode(const LircRemote& r, Frame* f)
{
    if (r.repeatHeader)
        sendHeader(r, f);
    sendIfGiven(f, r.plead);
    sendPulse(f, r.repeat.pulse);
    sendSpace(f, r.repeat.space);
    sendIfGiven(f, r.ptrail);
    finish(f);
}

// Why LIRC would not send this remote's keys as the press would, or "".
std::string remoteRefusal(const LircRemote& r, const Definition& d)
{
    if (!r.unreadable.empty())
        return r.unreadable;
    if (!r.otherFlags.empty())
        return "flags " + r.flags + ": " + r.otherFlags + " is not sent here";
    if (d.raw)
        return "";
    if (r.rawCodes)
        return "a key with codes in a raw_codes remote";
    if ((r.one.pulse == 0 && r.one.space == 0) || (r.zero.pulse == 0 && r.zero.space == 0))
        return "no timings: LIRC cannot send it either";
    if (allBits(r) > 64)
        return std::to_string(allBits(r)) + " bits: LIRC's codes have 64";
    if (r.encoding == LircEncoding::rcmm && (r.preDataBits % 2 != 0 || r.bits % 2 != 0))
        return "RCMM with an odd number of bits: LIRC sends no such frame";
    if (r.encoding == LircEncoding::xmp &&
        (r.preDataBits % 4 != 0 || r.bits % 4 != 0 || r.postDataBits % 4 != 0))
        return "XMP with bits that are no whole nibbles: LIRC sends no such frame";
    if (d.codes.size() > 1)
        return "a key of " + std::to_string(d.codes.size()) +
               " codes: LIRC sends them in turn, which is not built here";
    return "";
}

int frameDurations(const Sender& s, const Definition& d, bool repeat, int frameIndex, Frame* f,
                   std::string* error)
{
    const LircRemote& r = *s.remote;
    // A raw remote's repeat is its repeat code too.  lircd 0.10.1 builds that code,
    // then sends as many values from the start of the raw code in its place (the
    // buffer points at the raw code); what the file means is sent here instead.
    if (repeat && hasPair(r.repeat)) {
        sendRepeatCode(r, f);
    } else if (d.raw) {
        for (std::size_t i = 0; i < d.durations.size(); ++i) {
            if (i % 2 == 0)
                sendPulse(f, d.durations[i]);
            else
                sendSpace(f, d.durations[i]);
        }
        finish(f);
    } else {
        sendCode(s, repeat, frameIndex, f);
        if (f->written > 256) {
            *error = std::to_string(f->written) +
                     " durations in a frame: LIRC's buffer holds 256 (\"buffer too small\")";
            return -1;
        }
    }
    if (f->durations.empty()) {
        *error = "an empty frame: LIRC sends nothing";
        return -1;
    }
    return 0;
}

// The silence after a frame, as lircd times the next one.
int gapAfter(const LircRemote& r, const Frame& f, bool repeatCode, std::uint64_t* gap,
             std::string* error)
{
    if (repeatCode && r.repeatGap > 0) {
        *gap = r.repeatGap;
    } else if (r.constLength) {
        if (r.gap <= f.sum) {
            *error = "gap " + std::to_string(r.gap) + " is no longer than its frame (" +
                     std::to_string(f.sum) + " us): LIRC refuses the send (\"too short gap\")";
            return -1;
        }
        *gap = r.gap - f.sum;
    } else {
        *gap = r.gap;
    }
    return 0;
}

int append(const std::vector<std::uint64_t>& durations, std::uint64_t gap, Press* press,
           std::string* error)
{
    for (std::size_t i = 0; i <= durations.size(); ++i) {
        const std::uint64_t us = i < durations.size() ? durations[i] : gap;
        if (us > UINT32_MAX) {
            *error = std::to_string(us) + " us: longer than a duration can be here";
            return -1;
        }
        appendDuration(&press->durations, i % 2 == 0 && i < durations.size(),
                       static_cast<std::uint32_t>(us));
    }
    return 0;
}

int carrier(const LircRemote& r, Press* press, std::string* error)
{
    if (r.frequency > INT32_MAX) {
        *error = "frequency " + std::to_string(r.frequency) + ": no carrier is that fast";
        return -1;
    }
    if (r.dutyCycle >= 100) {
        *error = "duty_cycle " + std::to_string(r.dutyCycle) + ": a carrier is on less than 100 %";
        return -1;
    }
    press->carrierHz = r.frequency == 0 ? 38000 : static_cast<std::int32_t>(r.frequency);
    press->dutyCycle = static_cast<double>(r.dutyCycle == 0 ? 50 : r.dutyCycle) / 100.0;
    return 0;
}

} // namespace

int lircdPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    if (d.remote == nullptr) {
        *error = "no lircd.conf remote was read for the key";
        return -1;
    }
    const LircRemote& remote = *d.remote;
    const std::string refusal = remoteRefusal(remote, d);
    if (!refusal.empty()) {
        *error = "remote " + remote.name + ": " + refusal;
        return -1;
    }
    if (r.repeats < 0 || remote.minRepeat > 1000 || r.repeats > 1000) {
        *error = "more repeats than a press can hold";
        return -1;
    }
    const int frames = 1 + static_cast<int>(remote.minRepeat) + r.repeats;
    if (remote.encoding == LircEncoding::xmp && frames > 1 && !d.raw) {
        *error = "remote " + remote.name + ": XMP repeats are not built here, only its first frame";
        return -1;
    }
    *press = Press{};
    if (carrier(remote, press, error) != 0)
        return -1;
    Sender s;
    s.remote = &remote;
    if (!d.raw) {
        s.pre = lowBits(remote.preData, remote.preDataBits);
        s.code = lowBits(d.codes[0], remote.bits);
        s.post = lowBits(remote.postData, remote.postDataBits);
        if (remote.reverse) {
            s.pre = reversed(s.pre, remote.preDataBits);
            s.code = reversed(s.code, remote.bits);
            s.post = reversed(s.post, remote.postDataBits);
        }
    }
    // The state starts clear and lircd flips it before each press it sends.
    const bool toggled = r.toggle >= 0 ? r.toggle != 0 : r.earlierPresses % 2 == 0;
    const bool toggles = !d.raw && toggleBitMask(remote) != 0 &&
                         remote.encoding != LircEncoding::rcmm &&
                         remote.encoding != LircEncoding::xmp;
    s.toggleState = toggled ? toggleBitMask(remote) : 0;
    for (int k = 0; k < frames; ++k) {
        const bool repeat = k > 0;
        Frame f;
        std::uint64_t gap = 0;
        if (frameDurations(s, d, repeat, k, &f, error) != 0)
            return -1;
        const bool repeatCode = repeat && hasPair(remote.repeat);
        if (gapAfter(remote, f, repeatCode, &gap, error) != 0 ||
            append(f.durations, gap, press, error) != 0) {
            *error = "remote " + remote.name + ": " + *error;
            return -1;
        }
    }
    press->frames = frames;
    press->toggle = toggles ? (toggled ? 1 : 0) : -1;
    return 0;
}
