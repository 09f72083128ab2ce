// irdb's CSV files: functionname,protocol,device,subdevice,function, numbers in
// decimal, protocols named as IRP names them (NEC1, NEC2-f16, ...).
#include "codes.h"
#include "text.h"

namespace {

// One CSV line; a field in double quotes may hold commas and "" for a quote.
int csvFields(const std::string& line, std::vector<std::string>* fields)
{
    fields->clear();
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && trim(field).empty()) {
            quoted = true;
            field.clear();
        } else if (c == ',') {
            fields->push_back(trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted)
        return -1;
    fields->push_back(trim(field));
    return 0;
}

// The note of a row that cannot be sent, or "" for an NEC one.
std::string refusal(const std::string& protocol)
{
    const std::string p = lower(protocol);
    if (p == "nec" || p == "nec1" || p == "nec2" || p == "nec1-f16" || p == "nec2-f16")
        return "";
    if (p.compare(0, 4, "necx") == 0)
        return protocol + ": a 4.5 ms lead burst, not NEC's 9 ms";
    return protocol + ": not NEC";
}

// The signal of an NEC row's numbers: sendable, or with the reason it is not.
int necRow(const std::vector<std::string>& f, int number, Signal* s, Failure* failure)
{
    std::int64_t device = 0;
    std::int64_t subdevice = 0;
    std::int64_t function = 0;
    constexpr std::int64_t wide = INT32_MAX;
    if (parseSigned(f[2], -wide, wide, &device) != 0 ||
        parseSigned(f[3], -wide, wide, &subdevice) != 0 ||
        parseSigned(f[4], -wide, wide, &function) != 0) {
        *failure = {number, "device, subdevice and function are decimal numbers"};
        return -1;
    }
    const bool f16 = lower(f[1]).find("-f16") != std::string::npos;
    const std::string numbers = f[1] + " device " + std::to_string(device) + " subdevice " +
                                std::to_string(subdevice) + " function " + std::to_string(function);
    if (device < 0 || device > 255 || subdevice < -1 || subdevice > 255 || function < 0 ||
        function > (f16 ? 65535 : 255)) {
        s->note =
            numbers + ": device and subdevice are 0..255, function 0.." + (f16 ? "65535" : "255");
        return 0;
    }
    const auto d = static_cast<std::uint32_t>(device);
    const auto sub = subdevice < 0 ? ~d & 0xFFu : static_cast<std::uint32_t>(subdevice);
    const auto fn = static_cast<std::uint32_t>(function);
    s->code = f16 ? airCode(d, sub, fn, fn >> 8u) : airCode(d, sub, fn, ~fn);
    s->sendable = true;
    s->note = subdevice < 0 ? numbers + " (" + std::to_string(sub) + ")" : numbers;
    return 0;
}

// What the row says, for irdbPress: a row of any protocol whose numbers read as
// numbers (a negative device or function names nothing any protocol sends).
void defineRow(const std::vector<std::string>& f, Signal* s)
{
    std::int64_t device = 0;
    std::int64_t subdevice = 0;
    std::int64_t function = 0;
    constexpr std::int64_t wide = INT32_MAX;
    if (parseSigned(f[2], 0, wide, &device) != 0 || parseSigned(f[3], -1, wide, &subdevice) != 0 ||
        parseSigned(f[4], 0, wide, &function) != 0)
        return;
    Definition& d = s->definition;
    d.source = Definition::Source::irdb;
    d.protocol = f[1];
    d.address = static_cast<std::uint64_t>(device);
    d.subdevice = subdevice;
    d.command = static_cast<std::uint64_t>(function);
}

} // namespace

int readIrdb(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    const std::vector<std::string> lines = splitLines(text);
    bool header = true;
    std::vector<std::string> f;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        if (trim(lines[i]).empty())
            continue;
        if (header) {
            header = false;
            continue;
        }
        if (csvFields(lines[i], &f) != 0 || f.size() != 5) {
            *failure = {number, "a row is functionname,protocol,device,subdevice,function"};
            return -1;
        }
        Signal s;
        s.name = f[0].empty() ? "(unnamed, line " + std::to_string(number) + ")" : f[0];
        if (s.name.find('\t') != std::string::npos) {
            *failure = {number, "a functionname has no tab"};
            return -1;
        }
        s.note = refusal(f[1]);
        if (s.note.empty() && necRow(f, number, &s, failure) != 0)
            return -1;
        defineRow(f, &s);
        signals->push_back(s);
    }
    return 0;
}
