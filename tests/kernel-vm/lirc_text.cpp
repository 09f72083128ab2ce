#include "lirc_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <linux/lirc.h>

namespace lircText {

std::string escaped(const std::string& bytes)
{
    std::string line;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte >= 0x20 && byte < 0x7f) {
            line += c;
        } else {
            char hex[5];
            (void)std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            line += hex;
        }
    }
    return line;
}

namespace {

void append(std::string& line, const std::string& word)
{
    line += line.empty() ? word : " " + word;
}

} // namespace

Mode2 mode2Text(const std::vector<uint32_t>& samples)
{
    Mode2 text;
    bool started = false;
    bool ended = false;
    bool afterPulse = false;
    for (const uint32_t sample : samples) {
        const uint32_t kind = LIRC_MODE2(sample);
        const uint32_t value = LIRC_VALUE(sample);
        if (kind == LIRC_MODE2_FREQUENCY) {
            append(text.carriers, std::to_string(value));
            continue;
        }
        if (!started && kind == LIRC_MODE2_SPACE) {
            continue;
        }
        started = true;
        if (kind == LIRC_MODE2_TIMEOUT && afterPulse) {
            ended = true;
            break;
        }
        const bool pulse = kind == LIRC_MODE2_PULSE;
        if (pulse != afterPulse && (pulse || kind == LIRC_MODE2_SPACE)) {
            append(text.durations, std::to_string(value));
        } else if (pulse) {
            append(text.durations, "pulse:" + std::to_string(value));
        } else if (kind == LIRC_MODE2_SPACE) {
            append(text.durations, "space:" + std::to_string(value));
        } else if (kind == LIRC_MODE2_TIMEOUT) {
            append(text.durations, "timeout:" + std::to_string(value));
        } else if (kind == LIRC_MODE2_OVERFLOW) {
            append(text.durations, "overflow");
        } else {
            char raw[16];
            (void)std::snprintf(raw, sizeof raw, "0x%08x", sample);
            append(text.durations, raw);
        }
        afterPulse = pulse;
    }
    if (started && !ended) {
        append(text.durations, "unended");
    }
    return text;
}

std::string scancodeText(uint64_t scancode, uint16_t protocol, uint16_t flags)
{
    char text[64];
    (void)std::snprintf(text, sizeof text, "0x%llx proto %u%s%s",
                        static_cast<unsigned long long>(scancode), protocol,
                        (flags & LIRC_SCANCODE_FLAG_REPEAT) != 0 ? " repeat" : "",
                        (flags & LIRC_SCANCODE_FLAG_TOGGLE) != 0 ? " toggle" : "");
    return text;
}

namespace {

struct Edge {
    long long at;
    bool high;
};

// The level changes of one wire, in time order; false with a reason if the trace
// has no such wire or is not one the stand-in writes.
bool wireEdges(const std::string& vcd, const std::string& wire, std::vector<Edge>& edges,
               std::string& error)
{
    std::istringstream words(vcd);
    std::string word;
    std::string id;
    while (words >> word && word != "$enddefinitions") {
        std::string size;
        std::string code;
        std::string name;
        if (word == "$var" && words >> word >> size >> code >> name && name == wire) {
            id = code;
        }
    }
    if (id.empty()) {
        error = "no wire " + wire + " in the trace";
        return false;
    }
    long long at = 0;
    bool high = false;
    while (words >> word) {
        if (word[0] == '#') {
            at = std::strtoll(word.c_str() + 1, nullptr, 10);
        } else if ((word[0] == '0' || word[0] == '1') &&
                   word.compare(1, std::string::npos, id) == 0) {
            const bool level = word[0] == '1';
            if (level != high) {
                edges.push_back({at, level});
                high = level;
            }
        } else if (word.compare(1, std::string::npos, id) == 0) {
            error = "wire " + wire + " is neither 0 nor 1 at " + std::to_string(at) + " us";
            return false;
        }
    }
    if (high) {
        error = "the trace ends with " + wire + " high";
        return false;
    }
    return true;
}

} // namespace

TraceFrame traceFrame(const std::string& vcd, const std::string& wire)
{
    TraceFrame frame;
    std::vector<Edge> edges;
    if (!wireEdges(vcd, wire, edges, frame.error)) {
        return frame;
    }
    if (edges.empty()) {
        frame.error = "no pulse on " + wire;
        return frame;
    }
    // Edges alternate, rising first, because levels start low and end low.
    long long period = 0;
    for (size_t i = 2; i < edges.size(); i += 2) {
        const long long gap = edges[i].at - edges[i - 2].at;
        period = period == 0 || gap < period ? gap : period;
    }
    long long previousEnd = -1;
    for (size_t i = 0; i < edges.size();) {
        const long long first = edges[i].at;
        size_t last = i; // the last rising edge of this pulse
        while (period > 0 && last + 2 < edges.size() &&
               edges[last + 2].at - edges[last + 1].at < 3 * period) {
            last += 2;
        }
        const long long lastFall = edges[last + 1].at;
        const long long wholePeriods = edges[last].at + period - first;
        const long long length = std::max(lastFall - first, wholePeriods);
        if (previousEnd >= 0) {
            frame.durations.push_back(static_cast<uint32_t>(first - previousEnd));
        }
        frame.durations.push_back(static_cast<uint32_t>(length));
        previousEnd = first + length;
        i = last + 2;
    }
    frame.carrierHz = period > 0 ? static_cast<uint32_t>((1000000 + period / 2) / period) : 0;
    return frame;
}

} // namespace lircText
