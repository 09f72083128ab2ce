#include "gpio_trace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace gpioTrace {

namespace {

// A receiver starts a new frame after this much silence, or at a burst this long.
constexpr int64_t frameSilenceNs = 20000000;
constexpr int64_t leaderNs = 4000000;
// Half-way between NEC's 562 us space of a 0 and its 1688 us space of a 1.
constexpr int64_t oneSpaceUs = 1125;

// One event line: "<comm>-<pid> [<cpu>] <flags> <secs>.<usecs>: <event>: <payload>"
// (the flags are left out when the trace's irq-info option is off).
struct EventLine {
    int pid = 0;
    int64_t us = 0;
    std::string event;
    std::string payload;
};

bool readTimestamp(const std::string& token, int64_t& us)
{
    const size_t dot = token.find('.');
    if (dot == std::string::npos || token.size() != dot + 8 || token.back() != ':') {
        return false;
    }
    char* end = nullptr;
    const long long seconds = std::strtoll(token.c_str(), &end, 10);
    if (end != token.c_str() + dot) {
        return false;
    }
    const long long micros = std::strtoll(token.c_str() + dot + 1, &end, 10);
    if (end != token.c_str() + dot + 7) {
        return false;
    }
    us = seconds * 1000000 + micros;
    return true;
}

bool readEventLine(const std::string& line, EventLine& event)
{
    const size_t cpu = line.find(" [");
    const size_t dash = cpu == std::string::npos ? cpu : line.rfind('-', cpu);
    const size_t close = cpu == std::string::npos ? cpu : line.find(']', cpu);
    if (dash == std::string::npos || close == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const long pid = std::strtol(line.c_str() + dash + 1, &end, 10);
    if (end == line.c_str() + dash + 1) {
        return false;
    }
    event.pid = static_cast<int>(pid);
    std::istringstream words(line.substr(close + 1));
    std::string token;
    if (!(words >> token)) {
        return false;
    }
    if (!readTimestamp(token, event.us) && !(words >> token && readTimestamp(token, event.us))) {
        return false;
    }
    if (!(words >> event.event) || event.event.back() != ':') {
        return false;
    }
    event.event.pop_back();
    std::getline(words >> std::ws, event.payload);
    return true;
}

Process& processOf(Trace& trace, int pid)
{
    for (Process& process : trace.processes) {
        if (process.pid == pid) {
            return process;
        }
    }
    trace.processes.push_back(Process{});
    trace.processes.back().pid = pid;
    return trace.processes.back();
}

// "# entries-in-buffer/entries-written: 2078/2078   #P:1"
void readEntryCounts(const std::string& line, Trace& trace)
{
    const std::string header = "# entries-in-buffer/entries-written:";
    if (line.compare(0, header.size(), header) != 0) {
        return;
    }
    std::istringstream counts(line.substr(header.size()));
    long long kept = 0;
    long long written = 0;
    char slash = 0;
    if (counts >> kept >> slash >> written && slash == '/' && written > kept) {
        trace.lost += written - kept;
    }
}

// One event as tracefs' raw option prints it: "PID CPU NS type: N".
struct RawTime {
    int pid = 0;
    int64_t ns = 0;
};

std::vector<RawTime> readRawTimes(const std::string& raw, std::vector<std::string>& errors)
{
    std::vector<RawTime> times;
    std::istringstream lines(raw);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        RawTime time;
        int cpu = 0;
        std::string type;
        if (!(fields >> time.pid >> cpu >> time.ns >> type) || type != "type:") {
            errors.push_back("raw: " + line);
            continue;
        }
        times.push_back(time);
    }
    return times;
}

// One event read into the trace; false if its payload could not be read.
bool readEvent(const EventLine& event, int64_t ns, std::map<unsigned, bool>& levels, Trace& trace)
{
    std::istringstream fields(event.payload);
    if (event.event == "gpio_value") {
        unsigned gpio = 0;
        std::string how;
        int value = 0;
        if (!(fields >> gpio >> how >> value) || (value != 0 && value != 1)) {
            return false;
        }
        const bool high = value == 1;
        if (how == "set" && levels[gpio] != high) { // gpio-ir-tx takes its line low
            levels[gpio] = high;
            trace.edges.push_back({ns, gpio, high, event.pid});
        }
    } else if (event.event == "sched_process_exec") {
        const size_t from = event.payload.find("filename=");
        const size_t to = event.payload.find(" pid=");
        if (from == std::string::npos || to == std::string::npos || to < from) {
            return false;
        }
        Process& process = processOf(trace, event.pid);
        process.program = event.payload.substr(from + 9, to - from - 9);
        process.execNs = ns;
    } else if (event.event == "sched_process_exit") {
        processOf(trace, event.pid).exitNs = ns;
    }
    return true;
}

} // namespace

Trace parseTrace(const std::string& text, const std::string& raw)
{
    Trace trace;
    const std::vector<RawTime> times = readRawTimes(raw, trace.errors);
    size_t events = 0;
    std::map<unsigned, bool> levels;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            readEntryCounts(line, trace);
            continue;
        }
        EventLine event;
        if (!readEventLine(line, event)) {
            if (line.find("gpio_value:") != std::string::npos ||
                line.find("sched_process_") != std::string::npos) {
                trace.errors.push_back(line);
            }
            continue;
        }
        const size_t index = events++;
        int64_t ns = event.us * 1000;
        if (!raw.empty()) {
            // The text rounds to the nearest microsecond.
            if (index >= times.size() || times[index].pid != event.pid ||
                (times[index].ns + 500) / 1000 != event.us) {
                trace.errors.push_back("no raw time for this line: " + line);
                continue;
            }
            ns = times[index].ns;
        }
        if (!readEvent(event, ns, levels, trace)) {
            trace.errors.push_back(line);
        }
    }
    if (!raw.empty() && times.size() != events) {
        trace.errors.push_back("raw: " + std::to_string(times.size()) + " times for " +
                               std::to_string(events) + " events");
    }
    return trace;
}

namespace {

struct Pulse {
    int64_t rise = 0;
    int64_t fall = -1; // -1: the line was still high when the trace ended
    int risePid = 0;
    int fallPid = 0;
};

using Burst = std::vector<Pulse>;

int64_t burstEnd(const Burst& burst)
{
    return burst.back().fall >= 0 ? burst.back().fall : burst.back().rise;
}

int64_t median(std::vector<int64_t> values)
{
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// The time between two rising edges that most pulses of the line have: the
// carrier's period where the line carries one.
int64_t typicalPeriod(const std::vector<Pulse>& pulses)
{
    std::vector<int64_t> periods;
    for (size_t i = 1; i < pulses.size(); ++i) {
        periods.push_back(pulses[i].rise - pulses[i - 1].rise);
    }
    return median(periods);
}

int64_t roundedUs(double ns)
{
    return std::llround(ns / 1000.0);
}

void measure(const std::vector<Burst>& bursts, Frame& frame)
{
    size_t longest = 0;
    std::vector<int64_t> highs;
    for (size_t i = 0; i < bursts.size(); ++i) {
        const Burst& burst = bursts[i];
        if (burst.size() > bursts[longest].size() || bursts[longest].back().fall < 0) {
            longest = i;
        }
        for (size_t k = 1; k < burst.size(); ++k) {
            if (burst[k].fall >= 0) {
                highs.push_back(burst[k].fall - burst[k].rise);
            }
        }
        frame.periods.push_back(static_cast<unsigned>(burst.size()));
    }
    const Burst& carrier = bursts[longest];
    if (carrier.size() >= 2 && carrier.back().fall >= 0) {
        frame.periodNs = static_cast<double>(carrier.back().fall - carrier.front().fall) /
                         static_cast<double>(carrier.size() - 1);
        frame.highNs = static_cast<double>(median(highs));
        frame.carrierHz = static_cast<uint32_t>(std::lround(1e9 / frame.periodNs));
        frame.dutyPercent =
            static_cast<uint32_t>(std::lround(100.0 * frame.highNs / frame.periodNs));
    }
    // Where each burst starts on the carrier's clock.
    std::vector<double> starts;
    for (const Burst& burst : bursts) {
        const Pulse& first = burst.front();
        const double start = frame.periodNs > 0 && first.fall >= 0
                                 ? static_cast<double>(first.fall) - frame.highNs
                                 : static_cast<double>(first.rise);
        starts.push_back(start);
        frame.earlyNs = std::max<int64_t>(frame.earlyNs, std::llround(start) - first.rise);
    }
    for (size_t i = 0; i < bursts.size(); ++i) {
        const Burst& burst = bursts[i];
        const double pulse = frame.periodNs > 0
                                 ? static_cast<double>(burst.size()) * frame.periodNs
                                 : static_cast<double>(burstEnd(burst) - burst.front().rise);
        frame.durations.push_back(roundedUs(pulse));
        if (i + 1 < bursts.size()) {
            frame.durations.push_back(roundedUs(starts[i + 1] - starts[i] - pulse));
        }
    }
    // Spaces sit at odd indexes: the leader's at 1, then one after each data burst.
    for (size_t i = 1; i + 1 < bursts.size(); ++i) {
        frame.bits += frame.durations[2 * i + 1] > oneSpaceUs ? '1' : '0';
    }
}

void addPid(std::vector<int>& pids, int pid)
{
    if (std::find(pids.begin(), pids.end(), pid) == pids.end()) {
        pids.push_back(pid);
    }
}

// The frames of one line, from its edges (alternating, rising first).
void lineFrames(unsigned gpio, const std::vector<Edge>& edges, std::vector<Frame>& frames)
{
    std::vector<Pulse> pulses;
    for (const Edge& edge : edges) {
        if (edge.high) {
            pulses.push_back({edge.ns, -1, edge.pid, 0});
        } else if (!pulses.empty()) {
            pulses.back().fall = edge.ns;
            pulses.back().fallPid = edge.pid;
        }
    }
    const int64_t joined = 3 * typicalPeriod(pulses);
    std::vector<Burst> bursts;
    for (const Pulse& pulse : pulses) {
        if (bursts.empty() || pulse.rise - burstEnd(bursts.back()) >= joined) {
            bursts.emplace_back();
        }
        bursts.back().push_back(pulse);
    }
    std::vector<std::vector<Burst>> grouped;
    for (size_t i = 0; i < bursts.size(); ++i) {
        const Burst& burst = bursts[i];
        const bool leader = burstEnd(burst) - burst.front().rise >= leaderNs;
        if (i == 0 || leader || burst.front().rise - burstEnd(bursts[i - 1]) >= frameSilenceNs) {
            grouped.emplace_back();
        }
        grouped.back().push_back(burst);
    }
    for (const std::vector<Burst>& group : grouped) {
        Frame frame;
        frame.gpio = gpio;
        frame.startNs = group.front().front().rise;
        frame.endNs = burstEnd(group.back());
        frame.endsLow = group.back().back().fall >= 0;
        measure(group, frame);
        for (const Burst& burst : group) {
            for (const Pulse& pulse : burst) {
                addPid(frame.pids, pulse.risePid);
                if (pulse.fall >= 0) {
                    addPid(frame.pids, pulse.fallPid);
                }
            }
        }
        frames.push_back(std::move(frame));
    }
}

} // namespace

std::vector<Frame> findFrames(const std::vector<Edge>& edges)
{
    std::map<unsigned, std::vector<Edge>> lines;
    for (const Edge& edge : edges) {
        lines[edge.gpio].push_back(edge);
    }
    std::vector<Frame> frames;
    for (const auto& [gpio, lineEdges] : lines) {
        lineFrames(gpio, lineEdges, frames);
    }
    std::stable_sort(frames.begin(), frames.end(),
                     [](const Frame& a, const Frame& b) { return a.startNs < b.startNs; });
    return frames;
}

std::string runLengths(const std::vector<unsigned>& numbers)
{
    std::string text;
    for (size_t i = 0; i < numbers.size();) {
        size_t same = i + 1;
        while (same < numbers.size() && numbers[same] == numbers[i]) {
            ++same;
        }
        text += (text.empty() ? "" : " ") + std::to_string(numbers[i]);
        if (same - i > 1) {
            text += "x" + std::to_string(same - i);
        }
        i = same;
    }
    return text;
}

namespace {

std::string joined(const std::vector<int>& numbers, const char* separator)
{
    std::string text;
    for (const int n : numbers) {
        text += (text.empty() ? "" : separator) + std::to_string(n);
    }
    return text;
}

bool chosen(const std::string& program, const std::vector<std::string>& programs)
{
    return programs.empty() ||
           std::any_of(programs.begin(), programs.end(), [&](const std::string& prefix) {
               return program.compare(0, prefix.size(), prefix) == 0;
           });
}

// A time in microseconds: whole ones, or to the nanosecond.
std::string us(int64_t ns)
{
    return std::to_string(std::llround(static_cast<double>(ns) / 1000.0));
}
std::string usExact(double ns)
{
    char text[32];
    (void)std::snprintf(text, sizeof text, "%.3f", ns / 1000.0);
    return text;
}

void reportRun(std::ostringstream& out, const Trace& trace, const std::vector<Frame>& frames,
               const Process& process)
{
    out << "RUN " << process.pid << ' ' << process.program << " exec-to-exit "
        << (process.exitNs >= 0 ? us(process.exitNs - process.execNs) : "-");
    int64_t first = -1;
    int64_t last = -1;
    for (const Edge& edge : trace.edges) {
        if (edge.pid == process.pid) {
            first = first < 0 ? edge.ns : first;
            last = edge.ns;
        }
    }
    if (first >= 0) {
        const auto count = std::count_if(frames.begin(), frames.end(), [&](const Frame& frame) {
            return std::find(frame.pids.begin(), frame.pids.end(), process.pid) != frame.pids.end();
        });
        out << " first-edge " << us(first - process.execNs) << " last-edge-to-exit "
            << (process.exitNs >= 0 ? us(process.exitNs - last) : "-") << " frames " << count;
    }
    out << '\n';
}

} // namespace

std::string report(const Trace& trace, const std::vector<Frame>& frames, unsigned base,
                   const std::vector<std::string>& programs)
{
    std::ostringstream out;
    out << "EVENTS " << trace.edges.size() << " lost " << trace.lost << '\n';
    out << "FRAMES " << frames.size() << '\n';
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& frame = frames[i];
        const size_t n = i + 1;
        out << "FRAME " << n << " GPIO " << static_cast<long long>(frame.gpio) - base << " periods "
            << runLengths(frame.periods) << " carrier " << frame.carrierHz << " duty "
            << frame.dutyPercent << " bits " << (frame.bits.empty() ? "-" : frame.bits) << " ends "
            << (frame.endsLow ? "low" : "high") << '\n';
        out << "FRAMETIME " << n << " start " << us(frame.startNs) << " length "
            << us(frame.endNs - frame.startNs) << " after "
            << (i == 0 ? "-" : us(frame.startNs - frames[i - 1].endNs)) << " period "
            << usExact(frame.periodNs) << " high " << usExact(frame.highNs) << " early "
            << usExact(static_cast<double>(frame.earlyNs)) << " pids " << joined(frame.pids, ",")
            << '\n';
        out << "DURATIONS " << n;
        for (const int64_t d : frame.durations) {
            out << ' ' << d;
        }
        out << '\n';
    }
    for (const Process& process : trace.processes) {
        if (chosen(process.program, programs)) {
            reportRun(out, trace, frames, process);
        }
    }
    for (const std::string& line : trace.errors) {
        out << "ERROR " << line << '\n';
    }
    return out.str();
}

} // namespace gpioTrace
