// latency: times a sender against the pigpio stand-in on its real-time clock,
// from process start to the wave's first edge and from its last edge to the
// process's exit, over many runs.
//
// Usage: latency RUNS PROGRAM [CODE]
//   Runs PROGRAM RUNS times in a fresh folder (with expected_message.txt holding
//   CODE when given) and prints one line of key=value pairs, in microseconds.
//
// The tool's clock and the stand-in's meet on CLOCK_MONOTONIC: the tests' runner
// (tests/support/run_program.h) reads it right before it starts the program and
// right after it has ended, and the stand-in
// writes where its own 0 lies on it (PIGPIO_SIM_ORIGIN).  The timed runs keep only
// the stand-in's call log, whose gpioWaveTxSend time is when the wave starts; a
// first run with a VCD trace measures where the edges lie after it, since writing
// a trace at gpioTerminate takes a millisecond or more that a Pi does not spend.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "run_program.h"

namespace {

// The time (us) at the start of the log line of the first call named `call`, or -1.
int64_t loggedAt(const std::string& log, const std::string& call)
{
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t blank = line.find(' ');
        if (blank != std::string::npos && line.compare(blank + 1, call.size(), call) == 0) {
            return std::strtoll(line.c_str(), nullptr, 10);
        }
    }
    return -1;
}

// The first and last level changes (us) after time 0 in a VCD trace; false if none.
bool edgesOf(const std::string& vcd, int64_t& first, int64_t& last)
{
    const size_t body = vcd.find("$dumpvars");
    const size_t start = body == std::string::npos ? body : vcd.find("$end", body);
    if (start == std::string::npos) {
        return false;
    }
    std::istringstream lines(vcd.substr(start + 4));
    std::string line;
    int64_t at = 0;
    first = -1;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            at = std::strtoll(line.c_str() + 1, nullptr, 10);
        } else {
            first = first < 0 ? at : first;
            last = at;
        }
    }
    return first >= 0;
}

struct Run {
    int64_t startNs = 0; // before the start
    int64_t exitNs = 0;  // after the end
    int64_t originNs = 0;
    int64_t sendUs = 0;  // gpioWaveTxSend on the stand-in's clock
    int64_t closeUs = 0; // gpioTerminate on the stand-in's clock
};

// Runs the program once in dir; false (with a note) if it failed.
bool runOnce(const std::string& program, const TempDir& dir, bool withTrace, Run& run)
{
    std::remove(dir.file("log").c_str());
    std::remove(dir.file("origin").c_str());
    Command command;
    command.program = program;
    command.dir = dir.path();
    command.direct = true;
    // With PIGPIO_SIM_ON_PI=1, as the runner adds it: a measurement of the stand-in,
    // on a Pi too.
    command.env = {"PIGPIO_SIM_ORIGIN=origin", "PIGPIO_SIM_LOG=log"};
    if (withTrace) {
        command.env.emplace_back("PIGPIO_SIM_VCD=trace.vcd");
    }
    const Outcome outcome = runCommand(command);
    run.startNs = outcome.startedNs;
    run.exitNs = outcome.exitedNs;
    if (outcome.status != 0) {
        std::fprintf(stderr, "latency: %s failed (status %d)\n%s", program.c_str(), outcome.status,
                     outcome.err.c_str());
        return false;
    }
    const std::string log = dir.read("log");
    run.originNs = std::strtoll(dir.read("origin").c_str(), nullptr, 10);
    run.sendUs = loggedAt(log, "gpioWaveTxSend(");
    run.closeUs = loggedAt(log, "gpioTerminate(");
    if (run.originNs <= 0 || run.sendUs < 0 || run.closeUs < 0) {
        std::fprintf(stderr, "latency: no origin or no send in the log:\n%s", log.c_str());
        return false;
    }
    return true;
}

// One measurement over all runs, in microseconds: "name min=.. median=.. worst=..".
void report(const char* name, std::vector<double> ns)
{
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    const double median = n % 2 == 1 ? ns[n / 2] : (ns[n / 2 - 1] + ns[n / 2]) / 2;
    std::printf("%s min=%.1f median=%.1f worst=%.1f\n", name, ns.front() / 1e3, median / 1e3,
                ns.back() / 1e3);
}

// The floor any program pays here: spawning and reaping it, for comparison.
int timeExecOnly(int runs, const char* program)
{
    Command command;
    command.program = program;
    command.direct = true;
    std::vector<double> spawnToExit;
    for (int i = 0; i < runs; ++i) {
        const Outcome outcome = runCommand(command);
        if (outcome.status == 127) {
            return 1;
        }
        spawnToExit.push_back(static_cast<double>(outcome.exitedNs - outcome.startedNs));
    }
    std::printf("program=%s runs=%d\n", program, runs);
    report("spawn_to_exit_us", spawnToExit);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool execOnly = argc > 1 && std::strcmp(argv[1], "--exec-only") == 0;
    argv += execOnly ? 1 : 0;
    argc -= execOnly ? 1 : 0;
    if (argc < 3 || std::atoi(argv[1]) < 1) {
        std::fprintf(stderr, "usage: latency RUNS PROGRAM [CODE]\n"
                             "       latency --exec-only RUNS PROGRAM\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    if (execOnly) {
        return timeExecOnly(runs, argv[2]);
    }
    char* found = realpath(argv[2], nullptr);
    if (found == nullptr) {
        std::fprintf(stderr, "latency: cannot run %s in a folder of its own\n", argv[2]);
        return 2;
    }
    const std::string program = found;
    free(found);
    const TempDir dir;
    if (argc > 3) {
        dir.write("expected_message.txt", std::string(argv[3]) + "\n");
    }

    // Where the edges lie after the send, from one traced run.
    Run traced;
    int64_t firstUs = 0;
    int64_t lastUs = 0;
    if (!runOnce(program, dir, true, traced) || !edgesOf(dir.read("trace.vcd"), firstUs, lastUs)) {
        std::fprintf(stderr, "latency: no edges traced\n");
        return 1;
    }
    const int64_t firstAfterSendNs = (firstUs - traced.sendUs) * 1000;
    const int64_t lastAfterSendNs = (lastUs - traced.sendUs) * 1000;

    std::vector<double> toFirstEdge, toLoaded, loadedToSend, afterLastEdge, closeAfterLastEdge,
        afterPoll;
    for (int i = 0; i < runs; ++i) {
        Run r;
        if (!runOnce(program, dir, false, r)) {
            return 1;
        }
        const int64_t sendNs = r.originNs + r.sendUs * 1000;
        toFirstEdge.push_back(static_cast<double>(sendNs + firstAfterSendNs - r.startNs));
        // Exec and the dynamic loader, up to the stand-in's constructor.
        toLoaded.push_back(static_cast<double>(r.originNs - r.startNs));
        // The program's own work and the pigpio calls before the send.
        loadedToSend.push_back(static_cast<double>(r.sendUs * 1000));
        afterLastEdge.push_back(static_cast<double>(r.exitNs - (sendNs + lastAfterSendNs)));
        // pigpio is released only after the wave: on a Pi, terminating cuts it off.
        closeAfterLastEdge.push_back(
            static_cast<double>((r.closeUs - r.sendUs) * 1000 - lastAfterSendNs));
        // What is left after the one 0.1 s poll that sees the end.
        afterPoll.push_back(static_cast<double>(r.exitNs - (sendNs + 100000000)));
    }
    std::printf("program=%s runs=%d first_edge_after_send_us=%" PRId64
                " last_edge_after_send_us=%" PRId64 "\n",
                argv[2], runs, firstAfterSendNs / 1000, lastAfterSendNs / 1000);
    report("start_to_first_edge_us", toFirstEdge);
    report("start_to_pigpio_loaded_us", toLoaded);
    report("pigpio_loaded_to_send_us", loadedToSend);
    report("last_edge_to_exit_us", afterLastEdge);
    report("last_edge_to_terminate_us", closeAfterLastEdge);
    report("send_plus_poll_to_exit_us", afterPoll);
    return 0;
}
