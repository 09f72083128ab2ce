// latency: times a sender against the pigpio stand-in on its real-time clock,
// from process start to the wave's first edge and from its last edge to the
// process's exit, over many runs.
//
// Usage: latency RUNS PROGRAM [CODE]
//   Runs PROGRAM RUNS times in a fresh folder (with expected_message.txt holding
//   CODE when given) and prints one line of key=value pairs, in microseconds.
//
// The tool's clock and the stand-in's meet on CLOCK_MONOTONIC: the tool reads it
// right before spawning and right after the child is reaped, and the stand-in
// writes where its own 0 lies on it (PIGPIO_SIM_ORIGIN).  The timed runs keep only
// the stand-in's call log, whose gpioWaveTxSend time is when the wave starts; a
// first run with a VCD trace measures where the edges lie after it, since writing
// a trace at gpioTerminate takes a millisecond or more that a Pi does not spend.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
    int64_t startNs = 0; // before the spawn
    int64_t exitNs = 0;  // after the child was reaped
    int64_t originNs = 0;
    int64_t sendUs = 0;  // gpioWaveTxSend on the stand-in's clock
    int64_t closeUs = 0; // gpioTerminate on the stand-in's clock
};

// Runs the program once in the current folder; false (with a note) if it failed.
bool runOnce(const char* program, bool withTrace, Run& run)
{
    std::remove("log");
    std::remove("origin");
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "PIGPIO_SIM_", 11) != 0) {
            env.emplace_back(*e);
        }
    }
    env.emplace_back("PIGPIO_SIM_ON_PI=1"); // a measurement of the stand-in, on a Pi too
    env.emplace_back("PIGPIO_SIM_ORIGIN=origin");
    env.emplace_back("PIGPIO_SIM_LOG=log");
    if (withTrace) {
        env.emplace_back("PIGPIO_SIM_VCD=trace.vcd");
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    run.startNs = monotonicNs();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    int status = 0;
    while (spawned == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitNs = monotonicNs();
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "latency: %s failed (spawn %d, status %d)\n", program, spawned,
                     status);
        return false;
    }
    const std::string log = readFile("log");
    run.originNs = std::strtoll(readFile("origin").c_str(), nullptr, 10);
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

std::string makeFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/beam-latency-XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// The floor any program pays here: spawning and reaping it, for comparison.
int timeExecOnly(int runs, char* program)
{
    std::vector<double> spawnToExit;
    for (int i = 0; i < runs; ++i) {
        char* argv[] = {program, nullptr};
        pid_t pid = 0;
        int status = 0;
        const int64_t start = monotonicNs();
        if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
            return 1;
        }
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        spawnToExit.push_back(static_cast<double>(monotonicNs() - start));
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
    char* program = realpath(argv[2], nullptr);
    const std::string folder = makeFolder();
    if (program == nullptr || folder.empty() || chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "latency: cannot run %s in a folder of its own\n", argv[2]);
        return 2;
    }
    if (argc > 3) {
        std::ofstream("expected_message.txt") << argv[3] << "\n";
    }

    // Where the edges lie after the send, from one traced run.
    Run traced;
    int64_t firstUs = 0;
    int64_t lastUs = 0;
    if (!runOnce(program, true, traced) || !edgesOf(readFile("trace.vcd"), firstUs, lastUs)) {
        std::fprintf(stderr, "latency: no edges traced\n");
        return 1;
    }
    const int64_t firstAfterSendNs = (firstUs - traced.sendUs) * 1000;
    const int64_t lastAfterSendNs = (lastUs - traced.sendUs) * 1000;

    std::vector<double> toFirstEdge, toLoaded, loadedToSend, afterLastEdge, closeAfterLastEdge,
        afterPoll;
    for (int i = 0; i < runs; ++i) {
        Run r;
        if (!runOnce(program, false, r)) {
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
    for (const char* name : {"expected_message.txt", "log", "origin", "out", "trace.vcd"}) {
        std::remove(name);
    }
    rmdir(folder.c_str());
    free(program);
    return 0;
}
