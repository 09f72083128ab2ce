// Flipper Zero IR files: "key: value" lines, signals separated by # lines, each one
// parsed (a protocol with address and command, four hex bytes least significant
// first) or raw (durations, mark first).
#include "codes.h"
#include "text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

struct Fields {
    int line = 0; // of its name
    std::map<std::string, std::string> values;
    std::map<std::string, int> lines;
};

// "04 00 00 00": a 32-bit number written least significant byte first.
int parseBytes(const std::string& text, std::uint32_t* value)
{
    const std::vector<std::string> bytes = words(text);
    if (bytes.size() != 4)
        return -1;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint64_t byte = 0;
        if (bytes[i].size() != 2 || parseUnsigned(bytes[i], 16, 0xFF, &byte) != 0)
            return -1;
        v |= static_cast<std::uint32_t>(byte) << (8u * i);
    }
    *value = v;
    return 0;
}

std::string refusal(const std::string& protocol)
{
    const std::string p = lower(protocol);
    if (p == "samsung32")
        return "Samsung32: a 4.5 ms lead burst, not NEC's 9 ms";
    if (p == "nec42" || p == "nec42ext")
        return protocol + ": 42 bits, not NEC's 32";
    return protocol + ": not NEC";
}

int parsed(const Fields& f, Signal* s, Failure* failure)
{
    for (const char* key : {"protocol", "address", "command"}) {
        if (f.values.count(key) == 0) {
            *failure = {f.line, "signal '" + s->name + "' has no " + key + ":"};
            return -1;
        }
    }
    const std::string& protocol = f.values.at("protocol");
    std::uint32_t address = 0;
    std::uint32_t command = 0;
    for (const char* key : {"address", "command"}) {
        if (parseBytes(f.values.at(key), key[0] == 'a' ? &address : &command) != 0) {
            *failure = {f.lines.at(key), std::string(key) +
                                             " is four hex bytes (e.g. 04 00 00 00), not '" +
                                             f.values.at(key) + "'"};
            return -1;
        }
    }
    s->definition.protocol = protocol;
    s->definition.address = address;
    s->definition.command = command;
    const bool wide = address > 0xFF || command > 0xFF || lower(protocol) == "necext";
    char numbers[64];
    (void)std::snprintf(numbers, sizeof numbers,
                        wide ? "address 0x%04X command 0x%04X" : "address 0x%02X command 0x%02X",
                        address, command);
    const std::string p = lower(protocol);
    if (p == "nec") {
        if (address > 0xFF || command > 0xFF) {
            s->note =
                "NEC " + std::string(numbers) + ": more than NEC's 8 bits each (NECext has 16)";
            return 0;
        }
        s->code = airCode(address, ~address, command, ~command);
    } else if (p == "necext") {
        if (address > 0xFFFF || command > 0xFFFF) {
            s->note = "NECext " + std::string(numbers) + ": more than NECext's 16 bits each";
            return 0;
        }
        s->code = airCode(address, address >> 8u, command, command >> 8u);
    } else {
        s->note = refusal(protocol);
        return 0;
    }
    s->sendable = true;
    s->note = protocol + " " + numbers;
    return 0;
}

// The file's frequency: and duty_cycle: are the press's business (flipperPress
// refuses what Flipper would), not a reason to stop reading the file, so a value
// that is no number is kept as 0, as an absent one is.
std::int32_t frequencyOf(const Fields& f)
{
    const auto found = f.values.find("frequency");
    std::uint64_t hz = 0;
    if (found == f.values.end() || parseUnsigned(found->second, 10, INT32_MAX, &hz) != 0)
        return 0;
    return static_cast<std::int32_t>(hz);
}

double dutyOf(const Fields& f)
{
    const auto found = f.values.find("duty_cycle");
    if (found == f.values.end() || found->second.empty())
        return 0;
    const char* start = found->second.c_str();
    char* end = nullptr;
    const double duty = std::strtod(start, &end);
    if (end != start + found->second.size() || !std::isfinite(duty))
        return 0;
    return duty;
}

int raw(const Fields& f, Signal* s, Failure* failure)
{
    if (f.values.count("data") == 0) {
        *failure = {f.line, "raw signal '" + s->name + "' has no data:"};
        return -1;
    }
    std::vector<std::uint32_t> durations;
    for (const std::string& w : words(f.values.at("data"))) {
        std::uint64_t d = 0;
        if (parseUnsigned(w, 10, UINT32_MAX, &d) != 0) {
            *failure = {f.lines.at("data"),
                        "data: durations are whole microseconds, not '" + w + "'"};
            return -1;
        }
        durations.push_back(static_cast<std::uint32_t>(d));
    }
    s->definition.raw = true;
    s->definition.durations = durations;
    s->definition.carrierHz = frequencyOf(f);
    s->definition.dutyCycle = dutyOf(f);
    std::string note;
    s->sendable = necFromDurations(durations, &s->code, &note) == 0;
    s->note = "raw: " + note;
    if (s->sendable && f.values.count("frequency") != 0 && f.values.at("frequency") != "38000")
        s->note += " (captured at " + f.values.at("frequency") + " Hz; beamfile sends 38 kHz)";
    return 0;
}

int finish(const Fields& f, std::vector<Signal>* signals, Failure* failure)
{
    if (f.line == 0)
        return 0;
    Signal s;
    s.name = f.values.at("name");
    s.definition.source = Definition::Source::flipper;
    const auto type = f.values.find("type");
    if (type == f.values.end()) {
        *failure = {f.line, "signal '" + s.name + "' has no type:"};
        return -1;
    }
    int status = 0;
    if (type->second == "parsed") {
        status = parsed(f, &s, failure);
    } else if (type->second == "raw") {
        status = raw(f, &s, failure);
    } else {
        *failure = {f.lines.at("type"), "type is parsed or raw, not '" + type->second + "'"};
        return -1;
    }
    if (status == 0)
        signals->push_back(s);
    return status;
}

// One "key: value" line of the signal being read.  Long captures may be written over
// several data: lines.
int addField(Fields* f, const std::string& key, const std::string& value, int number,
             Failure* failure)
{
    if (f->line == 0) {
        *failure = {number, "'" + key + ":' before the first name:"};
        return -1;
    }
    const bool known = f->values.count(key) != 0;
    if (known && key != "data") {
        *failure = {number, "a second '" + key + ":' in signal '" + f->values["name"] + "'"};
        return -1;
    }
    std::string& slot = f->values[key];
    if (known)
        slot += " ";
    slot += value;
    f->lines.try_emplace(key, number);
    return 0;
}

} // namespace

int readFlipper(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    const std::vector<std::string> lines = splitLines(text);
    Fields current;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const std::string line = trim(lines[i]);
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            *failure = {number, "not a 'key: value' line"};
            return -1;
        }
        const std::string key = trim(line.substr(0, colon));
        const std::string value = trim(line.substr(colon + 1));
        if (current.line == 0 && (key == "Filetype" || key == "Version"))
            continue;
        if (key == "name") {
            if (value.empty() || value.find('\t') != std::string::npos) {
                *failure = {number, "a name is not empty and has no tab"};
                return -1;
            }
            if (finish(current, signals, failure) != 0)
                return -1;
            current = Fields{};
            current.line = number;
        }
        if (addField(&current, key, value, number, failure) != 0)
            return -1;
    }
    return finish(current, signals, failure);
}
