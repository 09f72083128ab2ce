// A signal while the programs send.  pigpio's handler for SIGINT, SIGTERM and most
// other signals terminates pigpio there and then and exits with 255, which cuts
// the frame off and can leave the LED burning.  The frame must go out whole and
// the line end low; the signal takes effect afterwards.  The stand-in sends the
// signal itself at a set time after the send (PIGPIO_SIM_SIGNAL), or the test
// sends it from outside.
#include <csignal>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "10100101000000001111111100110011";
// code32's frame: a lead burst of 8892 us and gap of 4500 us, 16 ones of 546 + 1688
// us, 16 zeros of 546 + 562 us, the trailing burst of 546 us; it starts 20 us after
// the send.
constexpr long long frameEndUs = 20 + 8892 + 4500 + 16 * 2234 + 16 * 1108 + 546;
// The poll wakes at most 0.1 s after the frame's end, and pigpio is released
// within well under 1 ms natively, a few ms under valgrind or qemu.  The rest of
// the run (writing the trace, the exit) takes about a millisecond natively and
// some 0.3 s under valgrind.
constexpr long long pollUs = 100000;
constexpr long long handleSlackUs = 50000;
constexpr long long exitSlackUs = 1000000;

using Edges = std::vector<std::pair<long long, int>>;

// GPIO 24's level changes in a trace (its wire is '9'), the time each from the first.
Edges relativeEdges(const std::string& vcd)
{
    Edges edges;
    std::istringstream in(vcd);
    long long at = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 1 && line[0] == '#') {
            at = std::stoll(line.substr(1));
        } else if (at > 0 && (line == "09" || line == "19")) {
            edges.emplace_back(at, line[0] - '0');
        }
    }
    const long long first = edges.empty() ? 0 : edges.front().first;
    for (auto& edge : edges) {
        edge.first -= first;
    }
    return edges;
}

// Enough of a trace to show in a failure: its size, its length and where it ends.
std::string summary(const Edges& edges)
{
    if (edges.empty()) {
        return "no edges";
    }
    return std::to_string(edges.size()) + " edges over " + std::to_string(edges.back().first) +
           " us, ending at level " + std::to_string(edges.back().second);
}

// The output of a run that ends when the transmitter returns: up to "Result".
std::string untilResult(const std::string& out)
{
    const size_t result = out.find("Result: ");
    return result == std::string::npos ? out : out.substr(0, out.find('\n', result) + 1);
}

// The time of the first log line that contains `text`, or -1.
long long loggedAt(const std::string& log, const std::string& text)
{
    const size_t at = log.find(text);
    if (at == std::string::npos) {
        return -1;
    }
    const size_t line = log.rfind('\n', at);
    return std::stoll(log.substr(line == std::string::npos ? 0 : line + 1));
}

std::vector<std::string> simEnv(const TempDir& dir, bool virtualClock)
{
    return {virtualClock ? "PIGPIO_SIM_CLOCK=virtual" : "PIGPIO_SIM_CLOCK=real",
            "PIGPIO_SIM_LOG=" + dir.file("log"), "PIGPIO_SIM_VCD=" + dir.file("trace.vcd"),
            "PIGPIO_SIM_ORIGIN=" + dir.file("origin")};
}

// An uninterrupted run of the program on the virtual clock, in dir.
Outcome reference(const std::string& program, const TempDir& dir)
{
    dir.write("expected_message.txt", code32 + "\n");
    return runProgram(installedProgram(program), dir.path(), simEnv(dir, true));
}

std::string handlerLine(int signal)
{
    return "sigHandler: Unhandled signal " + std::to_string(signal) + ", terminating";
}

// pigpio's handler ran only once pigpio was terminated, and nothing was left behind.
void expectHandledAfterTerminate(const std::string& log, int signal)
{
    EXPECT_EQ(log.find("warning:"), std::string::npos) << log;
    const size_t terminated = log.find(" gpioTerminate()\n");
    const size_t handled = log.find(handlerLine(signal));
    ASSERT_NE(handled, std::string::npos) << log;
    EXPECT_LT(terminated, handled) << log;
}

struct Case {
    const char* what;
    const char* program;
    int signal;
    int atMicros; // after the send
    int status;
};

const std::vector<Case> cases = {
    {"SIGINT in the lead burst, LED on", "beamfile", SIGINT, 3012, 255},
    {"SIGINT mid frame", "beamfile", SIGINT, 30000, 255},
    {"SIGINT after the frame, in the poll", "beamfile", SIGINT, 80000, 255},
    {"SIGTERM in the lead burst, LED on", "beamfile", SIGTERM, 3012, 255},
    {"SIGTERM mid frame", "beamfile", SIGTERM, 30000, 255},
    {"SIGTERM after the frame, in the poll", "beamfile", SIGTERM, 80000, 255},
    {"SIGHUP in the lead burst, LED on", "beamfile", SIGHUP, 3012, 255},
    {"SIGHUP mid frame", "beamfile", SIGHUP, 30000, 255},
    {"SIGHUP after the frame, in the poll", "beamfile", SIGHUP, 80000, 255},
    {"SIGQUIT in beamones last bits", "beamones", SIGQUIT, 80000, 255},
    {"SIGTERM in beamones lead burst", "beamones", SIGTERM, 3012, 255},
    // pigpio's handler ignores this one: the run goes on to its end.
    {"SIGUSR1 in the lead burst", "beamfile", SIGUSR1, 3012, 0},
};

class SignalDuringSend : public testing::TestWithParam<Case> {};

TEST_P(SignalDuringSend, FrameGoesOutWholeAndTheLineEndsLow)
{
    const Case& c = GetParam();
    TempDir plain;
    const Outcome whole = reference(c.program, plain);
    ASSERT_EQ(whole.status, 0);

    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    std::vector<std::string> env = simEnv(dir, true);
    env.push_back("PIGPIO_SIM_SIGNAL=" + std::to_string(c.signal) + "@" +
                  std::to_string(c.atMicros));
    const Outcome run = runProgram(installedProgram(c.program), dir.path(), env);

    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.status == 0 ? whole.out : untilResult(whole.out));
    const std::string trace = dir.read("trace.vcd");
    const Edges edges = relativeEdges(trace);
    EXPECT_TRUE(trace == plain.read("trace.vcd"))
        << summary(edges) << ", not " << summary(relativeEdges(plain.read("trace.vcd")));
    ASSERT_FALSE(edges.empty());
    EXPECT_EQ(edges.back().second, 0);
    const std::string log = dir.read("log");
    EXPECT_EQ(loggedAt(log, "PIGPIO_SIM_SIGNAL: kill(getpid(), " + std::to_string(c.signal) + ")"),
              c.atMicros)
        << log;
    if (c.status == 0) {
        EXPECT_EQ(log.find("warning:"), std::string::npos) << log;
        EXPECT_EQ(log.find("sigHandler"), std::string::npos) << log;
    } else {
        expectHandledAfterTerminate(log, c.signal);
        EXPECT_NE(run.err.find(handlerLine(c.signal)), std::string::npos) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SignalDuringSend, testing::ValuesIn(cases), caseName<Case>);

// Where the frame's send lies on CLOCK_MONOTONIC, from the stand-in's origin and log.
long long sendNs(const TempDir& dir)
{
    const std::string origin = dir.read("origin");
    const long long sendUs = loggedAt(dir.read("log"), "gpioWaveTxSend(");
    EXPECT_FALSE(origin.empty());
    EXPECT_GE(sendUs, 0);
    return origin.empty() || sendUs < 0 ? 0 : std::stoll(origin) + sendUs * 1000;
}

// The frame on the real clock, wherever it started, is the reference's, and ends low.
void expectSameFrame(const TempDir& dir, const TempDir& reference)
{
    const Edges edges = relativeEdges(dir.read("trace.vcd"));
    const Edges whole = relativeEdges(reference.read("trace.vcd"));
    EXPECT_TRUE(edges == whole) << summary(edges) << ", not " << summary(whole);
    EXPECT_TRUE(!edges.empty() && edges.back().second == 0) << summary(edges);
}

// On the real clock: the run ends at the first poll after the frame, not sooner
// (cutting it) and not much later.
TEST(SignalDuringSendInRealTime, EndsAtThePollAfterTheFrame)
{
    TempDir plain;
    ASSERT_EQ(reference("beamfile", plain).status, 0);
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    std::vector<std::string> env = simEnv(dir, false);
    env.push_back("PIGPIO_SIM_SIGNAL=" + std::to_string(SIGTERM) + "@30000");
    const Outcome run = runProgram(installedProgram("beamfile"), dir.path(), env);

    EXPECT_EQ(run.status, 255);
    expectSameFrame(dir, plain);
    const long long sent = sendNs(dir);
    // pigpio released at the first poll after the frame; the signal acted after that.
    const std::string log = dir.read("log");
    const long long releasedUs =
        loggedAt(log, "gpioTerminate()") - loggedAt(log, "gpioWaveTxSend(");
    EXPECT_GE(releasedUs, frameEndUs) << log;
    EXPECT_LT(releasedUs, frameEndUs + pollUs + handleSlackUs) << log;
    EXPECT_GT(run.exitedNs, sent + frameEndUs * 1000);
    EXPECT_LT(run.exitedNs, sent + (frameEndUs + pollUs + exitSlackUs) * 1000);
    expectHandledAfterTerminate(log, SIGTERM);
}

// As a user's Ctrl-C or a service manager's SIGTERM comes: from another process,
// once the frame is on its way.
TEST(SignalFromOutside, WaitsForTheFrame)
{
    TempDir plain;
    ASSERT_EQ(reference("beamfile", plain).status, 0);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        dir.write("expected_message.txt", code32 + "\n");
        const Outcome run =
            runProgramSignalled(installedProgram("beamfile"), dir.path(), simEnv(dir, false),
                                {signal, dir.file("log"), "gpioWaveTxSend("});

        EXPECT_EQ(run.status, 255);
        const long long sent = sendNs(dir);
        ASSERT_NE(run.signalledNs, 0);
        EXPECT_LT(run.signalledNs, sent + frameEndUs * 1000) << "signalled during the frame";
        EXPECT_GT(run.exitedNs, sent + frameEndUs * 1000);
        expectSameFrame(dir, plain);
        expectHandledAfterTerminate(dir.read("log"), signal);
    }
}

} // namespace
