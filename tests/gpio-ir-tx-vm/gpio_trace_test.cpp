// The gpio-ir-tx VM stage asserts on these reports, so they must say what was on
// the line: traces are made here as the kernel prints them, from frames timed as
// the driver times them, with the faults the stage is there to catch.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_name.h"
#include "gpio_trace.h"

namespace {

using gpioTrace::Edge;

constexpr unsigned base = 472; // the bank's first GPIO, as in the VM
constexpr unsigned line24 = base + 24;

// One event, as tracefs prints it (whole microseconds, the irq-info flags) and
// as its raw option prints it (nanoseconds).
struct Event {
    const char* comm;
    int pid;
    int64_t ns;
    std::string text; // "gpio_value: 496 set 1"
};

struct Printed {
    std::string text = "# tracer: nop\n#\n";
    std::string raw = "# tracer: nop\n#\n";

    void add(const Event& event)
    {
        char line[256];
        const long long us = (event.ns + 500) / 1000; // tracefs rounds
        (void)std::snprintf(line, sizeof line, "%16s-%-7d [000] d.... %5lld.%06lld: %s\n",
                            event.comm, event.pid, us / 1000000, us % 1000000, event.text.c_str());
        text += line;
        (void)std::snprintf(line, sizeof line, "%d 0 %lld type: 257\n", event.pid,
                            static_cast<long long>(event.ns));
        raw += line;
    }
    gpioTrace::Trace parsed() const
    {
        return gpioTrace::parseTrace(text, raw);
    }
};

void addEdges(Printed& printed, const std::vector<Edge>& edges)
{
    for (const Edge& edge : edges) {
        printed.add(
            {"beamfile", edge.pid, edge.ns,
             "gpio_value: " + std::to_string(edge.gpio) + " set " + (edge.high ? "1" : "0")});
    }
}

// How a sender times a frame, in ns.  gpio-ir-tx starts each burst at its
// written time, or up to `earlyNs` before it (its delay loop returns when less
// than a microsecond is left), then toggles on the carrier's clock until the
// burst's written length has passed.
struct Timing {
    int64_t periodNs = 26000; // 38462 Hz
    int64_t highNs = 13000;
    int64_t earlyNs = 0;
};

struct Sender {
    std::vector<Edge> edges;
    unsigned gpio = line24;
    int pid = 92;
    Timing timing;

    void edge(int64_t ns, bool high)
    {
        edges.push_back({ns, gpio, high, pid});
    }
    // Sends durations (us; pulse, space, ..., pulse) from startNs; returns the end.
    int64_t send(int64_t startNs, const std::vector<int64_t>& durations)
    {
        int64_t at = startNs;
        for (size_t i = 0; i < durations.size(); ++i) {
            const int64_t end = at + durations[i] * 1000;
            if (i % 2 == 0) {
                for (int64_t rise = at; rise < end; rise += timing.periodNs) {
                    // Each burst comes a little earlier than the one before.
                    edge(rise == at ? rise - timing.earlyNs * static_cast<int64_t>(i % 7) / 6
                                    : rise,
                         true);
                    edge(rise + timing.highNs, false);
                }
            }
            at = end;
        }
        return at;
    }
    std::vector<gpioTrace::Frame> frames() const
    {
        Printed printed;
        addEdges(printed, edges);
        return gpioTrace::findFrames(printed.parsed().edges);
    }
};

std::vector<int64_t> necDurations(const std::string& bits, bool trailing = true)
{
    std::vector<int64_t> durations{8892, 4500};
    for (const char bit : bits) {
        durations.push_back(546);
        durations.push_back(bit == '1' ? 1688 : 562);
    }
    if (trailing) {
        durations.push_back(546);
    } else {
        durations.pop_back();
    }
    return durations;
}

const std::string example = "00000000111111111010001001011101";
const std::string ones(32, '1');

struct FrameCase {
    const char* what;
    Timing timing;
    std::string bits;
    const char* periods;
    uint32_t carrierHz;
    uint32_t duty;
    int64_t slackUs; // how far a duration may be from the written one
};

const FrameCase frameCases[] = {
    {"example code on the library's carrier", {}, example, "342 21x33", 38462, 50, 0},
    {"all ones", {}, ones, "342 21x33", 38462, 50, 0},
    // The driver as seen in the VM: a burst's first rise up to 3 us early.
    {"bursts starting early", {26000, 13000, 3000}, example, "342 21x33", 38462, 50, 0},
    // The driver's own default, 38000 Hz: 13158 ns on and off.  Whole periods
    // last longer than the written pulse (21 are 553 us, not 546), and the space
    // after them is shorter by as much.
    {"the driver's default carrier", {26316, 13158, 0}, example, "338 21x33", 38000, 50, 7},
    {"duty cycle of a third", {26000, 8667, 0}, example, "342 21x33", 38462, 33, 0},
};

class FrameReading : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameReading, CountsPeriodsMeasuresCarrierAndReadsBits)
{
    const FrameCase& c = GetParam();
    Sender sender;
    sender.timing = c.timing;
    const std::vector<int64_t> written = necDurations(c.bits);
    sender.send(1000000123, written);
    const auto frames = sender.frames();
    ASSERT_EQ(frames.size(), 1U);
    const gpioTrace::Frame& frame = frames[0];
    EXPECT_EQ(gpioTrace::runLengths(frame.periods), c.periods);
    EXPECT_EQ(frame.carrierHz, c.carrierHz);
    EXPECT_EQ(frame.dutyPercent, c.duty);
    EXPECT_EQ(frame.bits, c.bits);
    EXPECT_TRUE(frame.endsLow);
    EXPECT_EQ(frame.gpio, line24);
    EXPECT_EQ(frame.pids, std::vector<int>{92});
    EXPECT_EQ(frame.earlyNs, c.timing.earlyNs);
    ASSERT_EQ(frame.durations.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_LE(std::llabs(frame.durations[i] - written[i]), c.slackUs) << "duration " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameReading, testing::ValuesIn(frameCases), caseName<FrameCase>);

// Two senders one after the other on one line, `gapUs` apart (from the first
// frame's written end to the second's start).
std::vector<gpioTrace::Frame> twoFrames(int64_t gapUs)
{
    Sender sender;
    const int64_t end = sender.send(1000000000, necDurations(example));
    sender.pid = 93;
    sender.send(end + gapUs * 1000, necDurations(ones));
    return sender.frames();
}

TEST(FrameBoundaries, FramesFortyMillisecondsApartAreWholeAndTimed)
{
    const auto frames = twoFrames(40000);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(gpioTrace::runLengths(frames[1].periods), "342 21x33");
    EXPECT_EQ(frames[0].bits, example);
    EXPECT_EQ(frames[1].bits, ones);
    EXPECT_EQ(frames[1].pids, std::vector<int>{93});
    // From the last falling edge: the burst's last low half-period, 13 us, more.
    EXPECT_EQ(frames[1].startNs - frames[0].endNs, 40013000);
}

TEST(FrameBoundaries, LeaderStartsAFrameAfterAShortSilence)
{
    const auto frames = twoFrames(5000);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].bits, example);
    EXPECT_EQ(frames[1].bits, ones);
}

// The fault the stage exists for: a second writer starts the moment the first
// returns, and the trailing burst and the next leader become one burst.
TEST(FrameBoundaries, FramesRunTogetherShowAsOneLongBurst)
{
    const auto frames = twoFrames(50);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(gpioTrace::runLengths(frames[0].periods), "342 21x32");
    EXPECT_EQ(frames[0].bits.size(), 31U);
    EXPECT_EQ(gpioTrace::runLengths(frames[1].periods), "363 21x33");
    EXPECT_EQ(frames[0].pids, std::vector<int>{92});
    EXPECT_EQ(frames[1].pids, (std::vector<int>{92, 93}));
}

TEST(FrameBoundaries, FrameWithoutItsTrailingBurst)
{
    Sender sender;
    sender.send(1000000000, necDurations(example, false));
    const auto frames = sender.frames();
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0].bits, example.substr(0, 31));
}

TEST(FrameBoundaries, LineLeftHighEndsHigh)
{
    Sender sender;
    sender.send(1000000000, necDurations(example));
    sender.edge(1100000000, true);
    const auto frames = sender.frames();
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_TRUE(frames[0].endsLow);
    EXPECT_FALSE(frames[1].endsLow);
    EXPECT_EQ(gpioTrace::runLengths(frames[1].periods), "1");
}

TEST(FrameBoundaries, EachLineHasItsOwnFramesInTimeOrder)
{
    Sender sender;
    sender.gpio = base + 18;
    sender.send(1000000000, necDurations(ones));
    sender.gpio = line24;
    sender.pid = 93;
    sender.send(1000500000, necDurations(example)); // while the other is sending
    Printed printed;
    addEdges(printed, sender.edges);
    const gpioTrace::Trace trace = printed.parsed();
    const auto frames = gpioTrace::findFrames(trace.edges);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0].gpio, base + 18);
    EXPECT_EQ(frames[0].bits, ones);
    EXPECT_EQ(frames[1].gpio, line24);
    EXPECT_EQ(frames[1].bits, example);
    const std::string text = gpioTrace::report(trace, frames, base, {});
    EXPECT_NE(text.find("FRAME 1 GPIO 18 periods 342 21x33 "), std::string::npos) << text;
    EXPECT_NE(text.find("FRAME 2 GPIO 24 periods 342 21x33 "), std::string::npos) << text;
}

struct ParseCase {
    const char* what;
    std::string text;
    std::string raw;
    size_t edges;
    long long lost;
    size_t errors;
};

const char* edgeLine = "  beamfile-92  [000] d....  1.000001: gpio_value: 496 set 1\n";
const char* edgeRaw = "92 0 1000001300 type: 257\n";

const ParseCase parseCases[] = {
    {"flags shown", edgeLine, edgeRaw, 1, 0, 0},
    {"flags hidden", "  beamfile-92  [000]  1.000001: gpio_value: 496 set 1\n", edgeRaw, 1, 0, 0},
    {"command with a dash", "  my-prog-92   [000] d....  1.000001: gpio_value: 496 set 1\n",
     edgeRaw, 1, 0, 0},
    {"a read and a level set again",
     "  beamfile-92  [000] d....  1.000001: gpio_value: 496 get 1\n"
     "  beamfile-92  [000] d....  1.000002: gpio_value: 496 set 0\n",
     "92 0 1000001000 type: 257\n92 0 1000002000 type: 257\n", 0, 0, 0},
    {"unreadable edge", "  beamfile-92  [000] d....  1.000001: gpio_value: 496 set\n", "", 0, 0, 1},
    {"timestamp without microseconds",
     "  beamfile-92  [000] d....  1.0001: gpio_value: 496 set 1\n", "", 0, 0, 1},
    {"lost events", "# entries-in-buffer/entries-written: 2000/2070   #P:1\n", "", 0, 70, 0},
    {"other events",
     "  sh-1  [000] .....  1.000001: tracing_mark_write: case 01\n"
     "  kworker/0:1-8  [000] .....  1.000002: workqueue_execute_start: work\n",
     "1 0 1000001000 type: 5\n8 0 1000002000 type: 300\n", 0, 0, 0},
    // The raw times must be the text's, line for line.
    {"raw time of another microsecond", edgeLine, "92 0 1000001500 type: 257\n", 0, 0, 1},
    {"raw time rounded to the text's", edgeLine, "92 0 1000000500 type: 257\n", 1, 0, 0},
    {"raw time of another task", edgeLine, "93 0 1000001300 type: 257\n", 0, 0, 1},
    {"raw times missing", edgeLine, "# tracer: nop\n", 0, 0, 2},
    {"raw time to spare", edgeLine, std::string(edgeRaw) + edgeRaw, 1, 0, 1},
    {"raw time unreadable", edgeLine, "92 0 soon\n", 0, 0, 3},
};

class TraceParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(TraceParsing, ReadsEdgesAndCounts)
{
    const gpioTrace::Trace trace = gpioTrace::parseTrace(GetParam().text, GetParam().raw);
    EXPECT_EQ(trace.edges.size(), GetParam().edges);
    EXPECT_EQ(trace.lost, GetParam().lost);
    EXPECT_EQ(trace.errors.size(), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(Lines, TraceParsing, testing::ValuesIn(parseCases), caseName<ParseCase>);

TEST(TraceParsing, EdgeTakesTheRawNanosecondsAndKeepsLineLevelAndWriter)
{
    const auto trace =
        gpioTrace::parseTrace("  my-prog-12   [000] d.... 12.345678: gpio_value: 496 set 1\n",
                              "12 0 12345678401 type: 9\n");
    ASSERT_EQ(trace.edges.size(), 1U);
    EXPECT_EQ(trace.edges[0].ns, 12345678401);
    EXPECT_EQ(trace.edges[0].gpio, 496U);
    EXPECT_TRUE(trace.edges[0].high);
    EXPECT_EQ(trace.edges[0].pid, 12);
    EXPECT_EQ(
        gpioTrace::parseTrace("  my-prog-12   [000] d.... 12.345678: gpio_value: 496 set 1\n", "")
            .edges.at(0)
            .ns,
        12345678000);
}

// A program started through su and a shell keeps its pid over its execs.
TEST(RunReport, TimesEachProgramFromExecToExitAndToItsEdges)
{
    Sender sender;
    sender.send(1013000000, necDurations(example));
    Printed printed;
    printed.add({"sh", 92, 999000000, "sched_process_exec: filename=/bin/su pid=92 old_pid=92"});
    printed.add({"su", 92, 1000000000,
                 "sched_process_exec: filename=/beam/bin/beamfile pid=92 old_pid=92"});
    printed.add(
        {"true", 93, 900000000, "sched_process_exec: filename=/bin/true pid=93 old_pid=93"});
    printed.add({"true", 93, 900573000, "sched_process_exit: comm=true pid=93 prio=120"});
    addEdges(printed, sender.edges);
    const int64_t lastEdge = sender.edges.back().ns;
    printed.add({"beamfile", 92, lastEdge + 1235000, "sched_process_exit: comm=beamfile pid=92"});
    const gpioTrace::Trace trace = printed.parsed();
    const std::string report = gpioTrace::report(trace, gpioTrace::findFrames(trace.edges), base,
                                                 {"/beam/bin/", "/bin/true"});
    const std::string beamfile = "RUN 92 /beam/bin/beamfile exec-to-exit " +
                                 std::to_string((lastEdge + 1235000 - 1000000000) / 1000) +
                                 " first-edge 13000 last-edge-to-exit 1235 frames 1\n";
    EXPECT_NE(report.find(beamfile), std::string::npos) << report;
    EXPECT_NE(report.find("RUN 93 /bin/true exec-to-exit 573\n"), std::string::npos) << report;
    EXPECT_NE(
        report.find("FRAMES 1\nFRAME 1 GPIO 24 periods 342 21x33 carrier 38462 duty 50 bits " +
                    example + " ends low\n"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("period 26.000 high 13.000 early 0.000 pids 92\n"), std::string::npos)
        << report;
}

TEST(RunReport, ProgramStillRunningAndOthersLeftOut)
{
    Printed printed;
    printed.add({"sh", 40, 1000000, "sched_process_exec: filename=/bin/sed pid=40 old_pid=40"});
    printed.add({"sh", 41, 2000000, "sched_process_exec: filename=/beam/bin/beamones pid=41"});
    EXPECT_EQ(gpioTrace::report(printed.parsed(), {}, base, {"/beam/bin/"}),
              "EVENTS 0 lost 0\nFRAMES 0\nRUN 41 /beam/bin/beamones exec-to-exit -\n");
}

TEST(RunLengths, CountsEachRunOfEqualNumbers)
{
    EXPECT_EQ(gpioTrace::runLengths({342, 21, 21, 21}), "342 21x3");
    EXPECT_EQ(gpioTrace::runLengths({21, 21, 363, 21}), "21x2 363 21");
    EXPECT_EQ(gpioTrace::runLengths({}), "");
}

} // namespace
