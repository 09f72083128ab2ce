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

// A line set to a level, at the trace's clock (us), by the task that set it: the
// writer to /dev/lircN, since gpio-ir-tx toggles the line inside its write.
struct Edge {
    int64_t us = 0;
    unsigned gpio = 0; // the kernel's global GPIO number
    bool high = false;
    int pid = 0;
};

// A program as the scheduler's tracepoints saw it: its last exec and its exit.
struct Process {
    int pid = 0;
    std::string program; // the file it last exec'd
    int64_t execUs = -1;
    int64_t exitUs = -1; // -1: it had not exited when the trace ended
};

struct Trace {
    std::vector<Edge> edges;         // every change of level, in trace order
    std::vector<Process> processes;  // in the order of their exec
    long long lost = 0;              // events the buffer dropped (its header says)
    std::vector<std::string> errors; // event lines that could not be read
};

// Reads gpio_value (sets that change a line's level; reads and repeated levels
// are no edges), sched_process_exec and sched_process_exit events, and the
// header's entry counts.  Other lines are skipped.
Trace parseTrace(const std::string& text);

// One frame on one line.  A carrier burst is a run of high pulses whose silences
// are all shorter than three carrier periods (the commonest time between two
// rising edges on the line).  A frame starts at the line's first burst, at a
// burst after 20 ms or more of silence, and at a leader (a burst of 4 ms or
// more), so that two frames that run together are still told apart where a
// receiver would start a new one.
struct Frame {
    unsigned gpio = 0;
    std::vector<int> pids; // the tasks that set its edges, in order of appearance
    int64_t startUs = 0;   // its first rising edge
    int64_t endUs = 0;     // its last edge
    bool endsLow = true;
    std::vector<unsigned> periods; // high pulses per burst
    // As a lirc device is written: pulse, space, ..., pulse (us).  A pulse lasts
    // its whole periods; a space lasts from there to the next burst's first rise.
    std::vector<int64_t> durations;
    // The carrier period from the falling edges of the longest burst (the driver
    // times each fall from the burst's start, so falls keep the carrier's own
    // clock where the first rise of a burst may come a little early), to 0.01 us:
    // at 1 us per timestamp, 342 periods give it to 0.003 us.  0 when no burst has
    // two periods.
    double periodUs = 0;
    uint32_t carrierHz = 0;
    uint32_t dutyPercent = 0; // time high over the bursts' whole periods
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
//             period <us, 0.01> pids <p,q>
//   DURATIONS <n> <pulse space ... pulse>
//   RUN <pid> <program> exec-to-exit <us|-> [first-edge <us> last-edge-to-exit <us|-> frames <k>]
//   ERROR <line that could not be read>
// A line is the global GPIO number less `base` (the bank's first), times are on
// the trace's clock, and RUN is given for programs whose path starts with one of
// `programs` (all when empty), the ones with edges with their times.
std::string report(const Trace& trace, const std::vector<Frame>& frames, unsigned base,
                   const std::vector<std::string>& programs);

} // namespace gpioTrace

#endif
