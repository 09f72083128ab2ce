// A pigpio wave turned into what the kernel's IR interface takes: one carrier for
// the whole write, and a list of durations that starts and ends with a pulse.
// pigpio describes the carrier itself, record by record; the kernel makes it from
// a frequency and a duty cycle, so only a wave whose bursts are all of one regular
// carrier can go through it.
#include <utility>

#include "lirc_core.h"
#include "pigpio_rules.h"

namespace pigpio_lirc {

namespace {

using pigpio_rules::format;

uint32_t carrierOf(uint64_t onUs, uint64_t offUs)
{
    const uint64_t period = onUs + offUs;
    return static_cast<uint32_t>((2000000 + period) / (2 * period));
}

// The kernel takes 1..99 percent; a carrier outside that is as near as it gets.
uint32_t dutyCycleOf(uint64_t onUs, uint64_t offUs)
{
    const uint64_t period = onUs + offUs;
    const uint64_t percent = (200 * onUs + period) / (2 * period);
    return static_cast<uint32_t>(percent < 1 ? 1 : percent > 99 ? 99 : percent);
}

// The records read so far: the line's level and the burst being read.
struct Reading {
    Frame& frame;
    bool high = false;
    bool inBurst = false;
    bool pulseSeen = false;
    uint32_t onUs = 0;  // this burst's on time
    uint32_t offUs = 0; // this burst's off time, 0 until its first period has ended
    uint64_t periods = 0;
    uint32_t firstOnUs = 0; // the first burst's, which every burst must have
    uint32_t firstOffUs = 0;
    uint64_t silenceUs = 0; // since the last pulse, or since the start
    uint64_t totalUs = 0;
};

bool refuse(Frame& frame, int status, std::string reason)
{
    frame.status = status;
    frame.reason = std::move(reason);
    frame.durations.clear();
    return false;
}

bool irregular(Reading& r, size_t index, const char* what, uint32_t us, uint32_t burstUs)
{
    return refuse(r.frame, PI_BAD_PARAM,
                  format("an irregular carrier: record %zu is %u us where the burst's %s time "
                         "is %u us",
                         index, us, what, burstUs));
}

// Past 2^32 - 1 us a duration is refused as too long anyway, so it is kept at that.
void addDuration(Reading& r, uint64_t us)
{
    r.frame.durations.push_back(us > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(us));
    r.totalUs += us;
}

void startBurst(Reading& r, uint32_t onUs)
{
    if (r.pulseSeen) {
        addDuration(r, r.silenceUs);
    } else {
        r.frame.leadingMicros = r.silenceUs;
    }
    r.silenceUs = 0;
    r.inBurst = true;
    r.onUs = onUs;
    r.offUs = 0;
    r.periods = 0;
}

bool endBurst(Reading& r, size_t index)
{
    if (!r.pulseSeen) {
        r.firstOnUs = r.onUs;
        r.firstOffUs = r.offUs;
    } else if (r.onUs != r.firstOnUs || r.offUs != r.firstOffUs) {
        return refuse(r.frame, PI_BAD_PARAM,
                      format("bursts of different carriers: %u/%u us on/off (%u Hz), then "
                             "%u/%u us (%u Hz) before record %zu",
                             r.firstOnUs, r.firstOffUs, carrierOf(r.firstOnUs, r.firstOffUs),
                             r.onUs, r.offUs, carrierOf(r.onUs, r.offUs), index));
    }
    addDuration(r, r.periods * (uint64_t{r.onUs} + r.offUs));
    r.pulseSeen = true;
    r.inBurst = false;
    return true;
}

// A silence of no time is nothing at all: bursts on either side of it are one.
bool silence(Reading& r, size_t index, uint32_t us)
{
    if (us == 0) {
        return true;
    }
    if (r.high) {
        return refuse(r.frame, PI_BAD_PARAM,
                      format("an irregular carrier: record %zu is a silence of %u us "
                             "while GPIO %u is on",
                             index, us, r.frame.gpio));
    }
    if (r.inBurst && !endBurst(r, index)) {
        return false;
    }
    r.silenceUs += us;
    return true;
}

bool switchOn(Reading& r, size_t index, uint32_t us)
{
    if (r.high) {
        return refuse(r.frame, PI_BAD_PARAM,
                      format("an irregular carrier: record %zu switches GPIO %u on while it is on",
                             index, r.frame.gpio));
    }
    if (us == 0) {
        return refuse(r.frame, PI_BAD_PARAM,
                      format("a zero duration: record %zu switches GPIO %u on for 0 us", index,
                             r.frame.gpio));
    }
    if (!r.inBurst) {
        startBurst(r, us);
    } else if (us != r.onUs) {
        return irregular(r, index, "on", us, r.onUs);
    }
    r.high = true;
    return true;
}

bool switchOff(Reading& r, size_t index, uint32_t us)
{
    if (!r.high) {
        return silence(r, index, us); // the line stays as it was
    }
    if (us == 0) {
        return refuse(r.frame, PI_BAD_PARAM,
                      format("a zero duration: record %zu switches GPIO %u off for 0 us", index,
                             r.frame.gpio));
    }
    if (r.offUs == 0) {
        r.offUs = us;
    } else if (us != r.offUs) {
        return irregular(r, index, "off", us, r.offUs);
    }
    ++r.periods;
    r.high = false;
    return true;
}

std::string gpioList(uint32_t lines)
{
    std::string list;
    for (unsigned gpio = 0; gpio <= PI_MAX_USER_GPIO; ++gpio) {
        if ((lines & (1u << gpio)) != 0) {
            list += (list.empty() ? "" : ", ") + std::to_string(gpio);
        }
    }
    return list;
}

bool finish(Reading& r, size_t count)
{
    Frame& frame = r.frame;
    if (r.high) {
        return refuse(frame, PI_BAD_PARAM, format("it leaves GPIO %u high at the end", frame.gpio));
    }
    if (r.inBurst && !endBurst(r, count)) {
        return false;
    }
    if (!r.pulseSeen) {
        return refuse(frame, PI_BAD_PARAM, format("it never switches GPIO %u on", frame.gpio));
    }
    frame.trailingMicros = r.silenceUs;
    if (frame.durations.size() > kMaxDurations) {
        return refuse(frame, PI_TOO_MANY_PULSES,
                      format("%zu durations, more than the kernel's %zu", frame.durations.size(),
                             kMaxDurations));
    }
    if (r.totalUs > kMaxFrameMicros) {
        return refuse(frame, PI_BAD_PARAM,
                      format("%llu us long, more than the kernel's %llu us",
                             static_cast<unsigned long long>(r.totalUs),
                             static_cast<unsigned long long>(kMaxFrameMicros)));
    }
    frame.carrierHz = carrierOf(r.firstOnUs, r.firstOffUs);
    frame.dutyCycle = dutyCycleOf(r.firstOnUs, r.firstOffUs);
    return true;
}

} // namespace

Frame toFrame(const gpioPulse_t* records, size_t count)
{
    Frame frame;
    if (count == 0) {
        refuse(frame, PI_EMPTY_WAVEFORM, "the waveform is empty");
        return frame;
    }
    uint32_t lines = 0;
    for (size_t i = 0; i < count; ++i) {
        lines |= records[i].gpioOn | records[i].gpioOff;
    }
    if (lines == 0) {
        refuse(frame, PI_BAD_PARAM, "it never switches a line on");
        return frame;
    }
    if ((lines & (lines - 1)) != 0) {
        refuse(frame, PI_BAD_PARAM,
               "it switches more than one line (GPIO " + gpioList(lines) + ")");
        return frame;
    }
    while ((lines & (1u << frame.gpio)) == 0) {
        ++frame.gpio;
    }

    Reading reading{frame};
    for (size_t i = 0; i < count; ++i) {
        const gpioPulse_t& record = records[i];
        // A line in both masks ends low: pigpio sets it, then clears it.
        const bool ok = record.gpioOff != 0  ? switchOff(reading, i, record.usDelay)
                        : record.gpioOn != 0 ? switchOn(reading, i, record.usDelay)
                                             : silence(reading, i, record.usDelay);
        if (!ok) {
            return frame;
        }
    }
    finish(reading, count);
    return frame;
}

} // namespace pigpio_lirc
