// The gpio-ir-tx VM stage's reading of a kernel trace (tracefs' `trace` file): the
// line changes the gpio_value tracepoint recorded, grouped into carrier bursts and
// frames as a receiver would see them on the line, and each program's run from its
// exec to its exit.  Pure functions, so that they are tested on small made-up
// traces on the host.
#ifndef BEAM_TESTS_GPIO_IR_TX_VM_GPIO_TRACE_H
#define BEAM_TESTS_GPIO_IR_TX_VM_GPIO_TRACE_H

#include <cstdint>
#include <string>
#include <vector>

namespace gpioTrace {

// A line set to a level, on the trace's clock (ns), by the task that set it: the
// writer to /dev/lircN, since gpio-ir-tx toggles the line inside its write.
struct Edge {
    int64_t ns = 0;
    unsigned gpio = 0; // the kernel's global GPIO number
    bool high = false;
    int pid = 0;
};

// A program as the scheduler's tracepoints saw it: its last exec and its exit.
struct Process {
    int pid = 0;
    std::string program; // the file it last exec'd
    int64_t execNs = -1;
    int64_t exitNs = -1; // -1: it had not exited when the trace ended
};

struct Trace {
    std::vector<Edge> edges;         // every change of level, in trace order
    std::vector<Process> processes;  // in the order of their exec
    long long lost = 0;              // events the buffer dropped (its header says)
    std::vector<std::string> errors; // lines that could not be read or paired
};

// Reads gpio_value (sets that change a line's level; reads and repeated levels
// are no edges), sched_process_exec and sched_process_exit events, and the
// header's entry counts; other lines are skipped.  The text shows whole
// microseconds; `raw`, the same trace read with tracefs' raw option ("PID CPU NS
// type: N", one line per event in the same order), gives each event its time in
// nanoseconds, and must agree with the text line for line (pid and microsecond).
// Without it (empty), times are the text's microseconds.
Trace parseTrace(const std::string& text, const std::string& raw);

// One frame on one line.  A carrier burst is a run of high pulses whose silences
// are all shorter than three carrier periods (the commonest time between two
// rising edges on the line).  A frame starts at the line's first burst, at a
// burst after 20 ms or more of silence, and at a leader (a burst of 4 ms or
// more), so that two frames that run together are still told apart where a
// receiver would start a new one.
//
// gpio-ir-tx keeps the carrier on a clock of its own: it times every edge of a
// burst but the first from the burst's start, to the nanosecond, and starts a
// burst when less than a microsecond of the space is left, or a little earlier.
// So the carrier is measured on the falling edges, and a burst's start is its
// first falling edge less the high time, where its first rise should have been.
struct Frame {
    unsigned gpio = 0;
    std::vector<int> pids; // the tasks that set its edges, in order of appearance
    int64_t startNs = 0;   // its first rising edge
    int64_t endNs = 0;     // its last edge
    bool endsLow = true;
    std::vector<unsigned> periods; // high pulses per burst
    // As a lirc device is written: pulse, space, ..., pulse (us, rounded).  A pulse
    // lasts its whole periods; a space lasts from there to the next burst's start.
    std::vector<int64_t> durations;
    double periodNs = 0; // the longest burst's, fall to fall; 0: no burst of two
    double highNs = 0;   // the commonest high time, first pulses of bursts left out
    uint32_t carrierHz = 0;
    uint32_t dutyPercent = 0;
    int64_t earlyNs = 0; // how long before its start a burst's first rise came, at most
    // NEC, read from the spaces after the leader's: one bit per burst between the
    // leader and the last burst, a 1 where the space is longer than 1125 us
    // (half-way between 562 and 1688).
    std::string bits;
};

std::vector<Frame> findFrames(const std::vector<Edge>& edges);

// Numbers as "342 21x33": each run of equal numbers once, with its count.
std::string runLengths(const std::vector<unsigned>& numbers);

// The report the stage reads, one item per line:
//   EVENTS <edges> lost <n>
//   FRAMES <count>
//   FRAME <n> GPIO <line> periods <342 21x33> carrier <Hz> duty <%> bits <bits> ends <low|high>
//   FRAMETIME <n> start <us> length <us> after <us since the previous frame's end, or ->
//             period <us> high <us> early <us> pids <p,q>
//   DURATIONS <n> <pulse space ... pulse>
//   RUN <pid> <program> exec-to-exit <us|-> [first-edge <us> last-edge-to-exit <us|-> frames <k>]
//   ERROR <line that could not be read>
// A line is the global GPIO number less `base` (the bank's first).  Times are on
// the trace's clock, in microseconds: whole ones, but for period, high and early,
// given to the nanosecond.  RUN is given for the programs whose path starts with
// one of `programs` (all when empty), those with edges with their times.
std::string report(const Trace& trace, const std::vector<Frame>& frames, unsigned base,
                   const std::vector<std::string>& programs);

} // namespace gpioTrace

#endif
