#include "frame_text.h"

std::string envelopeText(const gpioPulse_t* pulses, int count)
{
    std::string text;
    char kind = 0;
    unsigned long length = 0;
    for (int i = 0; i < count; ++i) {
        const char recordKind = (pulses[i].gpioOn | pulses[i].gpioOff) != 0 ? 'm' : 's';
        if (recordKind != kind && kind != 0) {
            text += kind + std::to_string(length);
            length = 0;
        }
        kind = recordKind;
        length += pulses[i].usDelay;
    }
    if (kind != 0) {
        text += kind + std::to_string(length);
    }
    return text;
}

std::string necEnvelope(const std::string& code)
{
    // 342 and 21 whole periods of 13 us on and 13 us off.
    std::string text = "m8892s4500";
    for (const char bit : code) {
        if (bit == '1') {
            text += "m546s1688";
        } else if (bit == '0') {
            text += "m546s562";
        }
    }
    return text + "m546";
}
