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

// One event line as tracefs prints it, with the irq-info flags.
std::string eventLine(const char* comm, int pid, int64_t us, const std::string& event)
{
    char line[256];
    (void)std::snprintf(line, sizeof line, "%16s-%-7d [000] d.... %5lld.%06lld: %s\n", comm, pid,
                        static_cast<long long>(us / 1000000), static_cast<long long>(us % 1000000),
                        event.c_str());
    return line;
}

std::string traceOf(const std::vector<Edge>& edges)
{
    std::string text = "# tracer: nop\n#\n# entries-in-buffer/entries-written: 9/9   #P:1\n";
    for (const Edge& edge : edges) {
        text += eventLine("beamfile", edge.pid, edge.us,
                          "gpio_value: " + std::to_string(edge.gpio) + " set " +
                              (edge.high ? "1" : "0"));
    }
    return text;
}

// How a sender times a frame, in ns: gpio-ir-tx starts each burst at its written
// time (here up to `earlyNs` before it, as its delay loop returns when less than
// a microsecond is left), then toggles on the carrier's clock until the burst's
// written length has passed.  The trace's clock shows whole microseconds.
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
        edges.push_back({ns / 1000, gpio, high, pid});
    }
    // Sends durations (us; pulse, space, ..., pulse) from startNs; returns the end.
    int64_t send(int64_t startNs, const std::vector<int64_t>& durations)
    {
        int64_t at = startNs;
        for (size_t i = 0; i < durations.size(); ++i) {
            const int64_t end = at + durations[i] * 1000;
            if (i % 2 == 0) {
                for (int64_t rise = at; rise < end; rise += timing.periodNs) {
                    edge(rise == at ? rise - timing.earlyNs : rise, true);
                    edge(rise + timing.highNs, false);
                }
            }
            at = end;
        }
        return at;
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

std::string joinedDurations(const std::vector<int64_t>& durations)
{
    std::string text;
    for (const int64_t d : durations) {
        text += (text.empty() ? "" : " ") + std::to_string(d);
    }
    return text;
}

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
    // The driver as seen in the VM: each burst's first rise 2-3 us early.
    {"bursts starting early", {26000, 13000, 2600}, example, "342 21x33", 38462, 50, 1},
    // The driver's own default, 38000 Hz: 13158 ns on and off.  Whole periods
    // last longer than the written pulse (21 are 553 us, not 546), and the space
    // after them is shorter by as much.
    {"the driver's default carrier", {26316, 13158, 0}, example, "338 21x33", 38000, 50, 7},
    // 9 of 26 us high.  (The trace's whole microseconds give a duty cycle to
    // within 1 us of a period, about 4 %.)
    {"duty cycle of 35 percent", {26000, 9000, 0}, example, "342 21x33", 38462, 35, 0},
};

class FrameReading : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameReading, CountsPeriodsMeasuresCarrierAndReadsBits)
{
    const FrameCase& c = GetParam();
    Sender sender;
    sender.timing = c.timing;
    const std::vector<int64_t> written = necDurations(c.bits);
    sender.send(1000000123, written);
    const auto frames = gpioTrace::findFrames(gpioTrace::parseTrace(traceOf(sender.edges)).edges);
    ASSERT_EQ(frames.size(), 1U);
    const gpioTrace::Frame& frame = frames[0];
    EXPECT_EQ(gpioTrace::runLengths(frame.periods), c.periods);
    EXPECT_NEAR(frame.carrierHz, c.carrierHz, 10U);
    EXPECT_EQ(frame.dutyPercent, c.duty);
    EXPECT_EQ(frame.bits, c.bits);
    EXPECT_TRUE(frame.endsLow);
    EXPECT_EQ(frame.gpio, line24);
    EXPECT_EQ(frame.pids, std::vector<int>{92});
    ASSERT_EQ(frame.durations.size(), written.size());
    for (size_t i = 1; i < written.size(); i += 2) {
        EXPECT_LE(std::llabs(frame.durations[i] - written[i]), c.slackUs) << "space " << i;
    }
    if (c.slackUs == 0) {
        EXPECT_EQ(joinedDurations(frame.durations), joinedDurations(written));
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameReading, testing::ValuesIn(frameCases), caseName<FrameCase>);

TEST(FrameReading, ExactCarrierOnTheLibrarysPeriod)
{
    Sender sender;
    sender.timing.earlyNs = 2600;
    sender.send(2000000000, necDurations(example));
    const auto frames = gpioTrace::findFrames(gpioTrace::parseTrace(traceOf(sender.edges)).edges);
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0].carrierHz, 38462U);
    EXPECT_DOUBLE_EQ(frames[0].periodUs, 26.0);
}

// Two senders one after the other on one line, `gapUs` apart (from the first
// frame's written end to the second's start).
std::vector<gpioTrace::Frame> twoFrames(int64_t gapUs)
{
    Sender sender;
    const int64_t end = sender.send(1000000000, necDurations(example));
    sender.pid = 93;
    sender.send(end + gapUs * 1000, necDurations(ones));
    return gpioTrace::findFrames(gpioTrace::parseTrace(traceOf(sender.edges)).edges);
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
    EXPECT_EQ(frames[1].startUs - frames[0].endUs, 40013);
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
    const auto frames = gpioTrace::findFrames(gpioTrace::parseTrace(traceOf(sender.edges)).edges);
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0].bits, example.substr(0, 31));
}

TEST(FrameBoundaries, LineLeftHighEndsHigh)
{
    Sender sender;
    sender.send(1000000000, necDurations(example));
    sender.edge(1100000000, true);
    const auto frames = gpioTrace::findFrames(gpioTrace::parseTrace(traceOf(sender.edges)).edges);
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
    const gpioTrace::Trace trace = gpioTrace::parseTrace(traceOf(sender.edges));
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
    size_t edges;
    long long lost;
    size_t errors;
};

const ParseCase parseCases[] = {
    {"flags shown", "  beamfile-92  [000] d....  1.000001: gpio_value: 496 set 1\n", 1, 0, 0},
    {"flags hidden", "  beamfile-92  [000]  1.000001: gpio_value: 496 set 1\n", 1, 0, 0},
    {"command with a dash", "  my-prog-12   [000] d....  1.000001: gpio_value: 496 set 1\n", 1, 0,
     0},
    {"a read and a level set again",
     "  beamfile-92  [000] d....  1.000001: gpio_value: 496 get 1\n"
     "  beamfile-92  [000] d....  1.000002: gpio_value: 496 set 0\n",
     0, 0, 0},
    {"unreadable edge", "  beamfile-92  [000] d....  1.000001: gpio_value: 496 set\n", 0, 0, 1},
    {"timestamp without microseconds",
     "  beamfile-92  [000] d....  1.0001: gpio_value: 496 set 1\n", 0, 0, 1},
    {"lost events", "# entries-in-buffer/entries-written: 2000/2070   #P:1\n", 0, 70, 0},
    {"other events and markers",
     "  sh-1  [000] .....  1.000001: tracing_mark_write: case 01\n"
     "  kworker/0:1-8  [000] .....  1.000002: workqueue_execute_start: work\n",
     0, 0, 0},
};

class TraceParsing : public testing::TestWithParam<ParseCase> {};

TEST_P(TraceParsing, ReadsEdgesAndCounts)
{
    const gpioTrace::Trace trace = gpioTrace::parseTrace(GetParam().text);
    EXPECT_EQ(trace.edges.size(), GetParam().edges);
    EXPECT_EQ(trace.lost, GetParam().lost);
    EXPECT_EQ(trace.errors.size(), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(Lines, TraceParsing, testing::ValuesIn(parseCases), caseName<ParseCase>);

TEST(TraceParsing, EdgeKeepsTimeLineLevelAndWriter)
{
    const auto trace =
        gpioTrace::parseTrace("  my-prog-12   [000] d.... 12.345678: gpio_value: 496 set 1\n");
    ASSERT_EQ(trace.edges.size(), 1U);
    EXPECT_EQ(trace.edges[0].us, 12345678);
    EXPECT_EQ(trace.edges[0].gpio, 496U);
    EXPECT_TRUE(trace.edges[0].high);
    EXPECT_EQ(trace.edges[0].pid, 12);
}

// A program started through su and a shell keeps its pid over three execs.
TEST(RunReport, TimesEachProgramFromExecToExitAndToItsEdges)
{
    Sender sender;
    sender.send(1013000000, necDurations(example));
    std::string text =
        eventLine("sh", 92, 999000,
                  "sched_process_exec: filename=/bin/su pid=92 "
                  "old_pid=92") +
        eventLine("su", 92, 1000000,
                  "sched_process_exec: filename=/beam/bin/beamfile "
                  "pid=92 old_pid=92") +
        eventLine("true", 93, 900000, "sched_process_exec: filename=/bin/true pid=93 old_pid=93") +
        eventLine("true", 93, 900573, "sched_process_exit: comm=true pid=93 prio=120");
    text += traceOf(sender.edges);
    const int64_t lastEdge = sender.edges.back().us;
    text += eventLine("beamfile", 92, lastEdge + 1235,
                      "sched_process_exit: comm=beamfile pid=92 prio=120");
    const gpioTrace::Trace trace = gpioTrace::parseTrace(text);
    const std::string report = gpioTrace::report(trace, gpioTrace::findFrames(trace.edges), base,
                                                 {"/beam/bin/", "/bin/true"});
    const std::string beamfile = "RUN 92 /beam/bin/beamfile exec-to-exit " +
                                 std::to_string(lastEdge + 1235 - 1000000) +
                                 " first-edge 13000 last-edge-to-exit 1235 frames 1\n";
    EXPECT_NE(report.find(beamfile), std::string::npos) << report;
    EXPECT_NE(report.find("RUN 93 /bin/true exec-to-exit 573\n"), std::string::npos) << report;
    EXPECT_NE(
        report.find("FRAMES 1\nFRAME 1 GPIO 24 periods 342 21x33 carrier 38462 duty 50 bits " +
                    example + " ends low\n"),
        std::string::npos)
        << report;
}

TEST(RunReport, ProgramStillRunningAndOthersLeftOut)
{
    const std::string text =
        eventLine("sh", 40, 1000, "sched_process_exec: filename=/bin/sed pid=40 old_pid=40") +
        eventLine("sh", 41, 2000,
                  "sched_process_exec: filename=/beam/bin/beamones pid=41 old_pid=41");
    const gpioTrace::Trace trace = gpioTrace::parseTrace(text);
    EXPECT_EQ(gpioTrace::report(trace, {}, base, {"/beam/bin/"}),
              "EVENTS 0 lost 0\nFRAMES 0\nRUN 41 /beam/bin/beamones exec-to-exit -\n");
}

TEST(RunLengths, CountsEachRunOfEqualNumbers)
{
    EXPECT_EQ(gpioTrace::runLengths({342, 21, 21, 21}), "342 21x3");
    EXPECT_EQ(gpioTrace::runLengths({21, 21, 363, 21}), "21x2 363 21");
    EXPECT_EQ(gpioTrace::runLengths({}), "");
}

} // namespace
