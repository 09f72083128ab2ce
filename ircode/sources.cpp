#include "sources.h"

#include <cstdio>
#include <string>

namespace {

std::string hex(std::uint64_t value)
{
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string rawText(const Definition& d)
{
    std::string text = "raw, " + std::to_string(d.durations.size()) + " durations";
    if (d.carrierHz > 0)
        text += " at " + std::to_string(d.carrierHz) + " Hz";
    return text;
}

} // namespace

int pressOf(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    *press = Press{};
    switch (d.source) {
    case Definition::Source::flipper:
        return flipperPress(d, r, press, error);
    case Definition::Source::irdb:
        return irdbPress(d, r, press, error);
    case Definition::Source::keymap:
        return keymapPress(d, r, press, error);
    case Definition::Source::lircd:
        return lircdPress(d, r, press, error);
    case Definition::Source::none:
        break;
    }
    *error = "no definition of the signal was read";
    return -1;
}

std::string describe(const Definition& d)
{
    switch (d.source) {
    case Definition::Source::flipper:
        return "Flipper " +
               (d.raw ? rawText(d)
                      : d.protocol + " address " + hex(d.address) + " command " + hex(d.command));
    case Definition::Source::irdb:
        return "irdb " + d.protocol + " device " + std::to_string(d.address) + " subdevice " +
               std::to_string(d.subdevice) + " function " + std::to_string(d.command);
    case Definition::Source::keymap:
        return "keymap " + (d.raw ? rawText(d) : d.protocol + " scancode " + hex(d.scancode));
    case Definition::Source::lircd: {
        const std::string remote = "lircd.conf remote " + d.protocol;
        if (d.raw)
            return remote + " " + rawText(d);
        std::string codes;
        for (const std::uint64_t code : d.codes)
            codes += (codes.empty() ? "" : " ") + hex(code);
        return remote + " code " + codes;
    }
    case Definition::Source::none:
        break;
    }
    return "unknown";
}
