// pigpio's signal handlers, and the signal a test can have the stand-in send itself
// at a set time after the send (PIGPIO_SIM_SIGNAL).
#include <csignal>
#include <cstdlib>
#include <regex>

#include <pthread.h>
#include <signal.h>

#include "run_program.h"
#include "sim_test.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

constexpr unsigned G = 24;
constexpr uint32_t L = 1u << G;

// A process's own: pigpio's replaces it at gpioInitialise.
extern "C" void testHandler(int /*signo*/) {}

using Handler = void (*)(int);

Handler handlerOf(int signo)
{
    struct sigaction action {};
    EXPECT_EQ(sigaction(signo, nullptr, &action), 0);
    return action.sa_handler;
}

void setHandler(int signo, Handler handler)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(signo, &action, nullptr), 0);
}

// pigpio's own handler, as gpioInitialise leaves it on SIGINT.
Handler pigpioHandler()
{
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    EXPECT_EQ(gpioInitialise(), 79);
    const Handler handler = handlerOf(SIGINT);
    freshSim();
    return handler;
}

// Holds a signal blocked in this thread while in scope, and takes it away if pending.
class Blocked {
  public:
    explicit Blocked(int signo) : signo_(signo)
    {
        sigemptyset(&set_);
        sigaddset(&set_, signo);
        pthread_sigmask(SIG_BLOCK, &set_, &before_);
    }
    ~Blocked()
    {
        if (pending()) {
            const timespec none{};
            (void)sigtimedwait(&set_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    Blocked(const Blocked&) = delete;
    Blocked& operator=(const Blocked&) = delete;

    bool pending() const
    {
        sigset_t waiting;
        sigpending(&waiting);
        return sigismember(&waiting, signo_) == 1;
    }

  private:
    int signo_;
    sigset_t set_{};
    sigset_t before_{};
};

// 1000 carrier periods on GPIO 24 (26000 us), sent now.
void sendLongCarrier()
{
    ASSERT_EQ(gpioInitialise(), 79);
    ASSERT_EQ(gpioSetMode(G, PI_OUTPUT), 0);
    const int id = makeWave(carrier(G, 2000));
    ASSERT_GE(id, 0);
    ASSERT_GT(gpioWaveTxSend(static_cast<unsigned>(id), PI_WAVE_MODE_ONE_SHOT), 0);
}

// What a handler of the test's own saw when it ran: the clock and the line.
struct Seen {
    int calls = 0;
    uint64_t at = 0;
    int level = -1;
};
Seen seen;

extern "C" void recordingHandler(int /*signo*/)
{
    ++seen.calls;
    seen.at = pigpioSimNowMicros();
    seen.level = pigpioSimLevel(G);
}

} // namespace

TEST_F(SimTest, InitialiseInstallsHandlersThatOutliveTerminateUntilAReset)
{
    setHandler(SIGTERM, testHandler);
    const Handler segv = handlerOf(SIGSEGV);
    EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
    ASSERT_EQ(gpioInitialise(), 79);
    const Handler pigpio = handlerOf(SIGINT);
    EXPECT_NE(pigpio, SIG_DFL);
    for (const int signo : {SIGHUP, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGPIPE, SIGCHLD, SIGALRM,
                            SIGABRT, SIGRTMIN}) {
        EXPECT_EQ(handlerOf(signo), pigpio) << signo;
    }
    for (const int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        EXPECT_NE(handlerOf(signo), pigpio) << signo << " is left to the process";
    }
    EXPECT_EQ(handlerOf(SIGSEGV), segv);
    gpioTerminate();
    EXPECT_EQ(handlerOf(SIGINT), pigpio) << "pigpio leaves them after terminate";
    ASSERT_EQ(gpioInitialise(), 79);
    setHandler(SIGQUIT, testHandler);
    pigpioSimReset();
    EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
    EXPECT_EQ(handlerOf(SIGTERM), testHandler) << "the reset puts back what was there before";
    EXPECT_EQ(handlerOf(SIGQUIT), testHandler) << "and keeps what was set since";
    setHandler(SIGTERM, SIG_DFL);
    setHandler(SIGQUIT, SIG_DFL);
}

TEST_F(SimTest, NoHandlersWhenInitialiseFailsOrWhenTurnedOff)
{
    pigpioSimFailInitialise(1);
    CaptureStderr();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    GetCapturedStderr();
    EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
    pigpioSimFailInitialise(0);
    pigpioSimSignalHandlers(0);
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
    EXPECT_NE(pigpioHandler(), SIG_DFL) << "on again after a reset";
}

TEST_F(SimTest, PlannedSignalStopsTheSleepAtItsTimeOnTheVirtualClock)
{
    sleepMicros(500); // the send, not the clock's 0, is where the time counts from
    sendLongCarrier();
    setHandler(SIGINT, recordingHandler); // in place of pigpio's, which would exit
    seen = Seen();
    pigpioSimSignalAfterSend(SIGINT, 3012);
    time_sleep(0.003);
    EXPECT_EQ(seen.calls, 0) << "not reached yet";
    time_sleep(0.1);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.at, 500u + 3012u);
    EXPECT_EQ(seen.level, 1) << "a carrier's on record starts at 3010 us after the send";
    EXPECT_EQ(pigpioSimNowMicros(), 500u + 3000u + 100000u) << "then the sleep went on";
    time_sleep(0.1);
    EXPECT_EQ(seen.calls, 1) << "once";
}

TEST_F(SimTest, PlannedSignalThatIsBlockedStaysPending)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    setenv("PIGPIO_SIM_LOG", log.c_str(), 1);
    setenv("PIGPIO_SIM_SIGNAL", "15@30000", 1);
    pigpioSimReset();
    pigpioSimUseVirtualClock(1);
    const Blocked blocked(SIGTERM);
    time_sleep(0.1);
    EXPECT_FALSE(blocked.pending()) << "no send, no signal";
    sendLongCarrier();
    time_sleep(0.1);
    EXPECT_TRUE(blocked.pending());
    EXPECT_EQ(pigpioSimNowMicros(), 200000u);
    EXPECT_NE(readFile(log).find("\n130000 PIGPIO_SIM_SIGNAL: kill(getpid(), 15)\n"),
              std::string::npos)
        << readFile(log);
}

TEST_F(SimTest, PlannedSignalOnTheRealClock)
{
    pigpioSimUseVirtualClock(0);
    const uint64_t before = pigpioSimNowMicros();
    sendLongCarrier();
    const uint64_t sent = pigpioSimNowMicros(); // the send was between the two
    setHandler(SIGINT, recordingHandler);
    seen = Seen();
    pigpioSimSignalAfterSend(SIGINT, 5000);
    time_sleep(0.02);
    const uint64_t end = pigpioSimNowMicros();
    EXPECT_EQ(seen.calls, 1);
    EXPECT_GE(seen.at, before + 5000u) << "not before its time";
    EXPECT_LT(seen.at, sent + 5000u + 50000u);
    EXPECT_GE(end, sent + 20000u) << "the whole sleep was slept";
}

struct SignalEnv {
    const char* value;
    bool signalled;
    bool note; // "ignoring ..." on stderr
};

static_assert(SIGUSR2 == 12, "the values below name SIGUSR2 by its number");

class SignalFromEnvironment : public SimTest, public ::testing::WithParamInterface<SignalEnv> {};

TEST_P(SignalFromEnvironment, ReadAtReset)
{
    const SignalEnv& c = GetParam();
    setenv("PIGPIO_SIM_SIGNAL", c.value, 1);
    CaptureStderr();
    pigpioSimReset();
    const std::string err = GetCapturedStderr();
    pigpioSimUseVirtualClock(1);
    const Blocked blocked(SIGUSR2);
    sendLongCarrier();
    time_sleep(0.1);
    EXPECT_EQ(blocked.pending(), c.signalled);
    if (!c.note) {
        EXPECT_EQ(err, "");
    } else {
        EXPECT_TRUE(std::regex_search(
            err, std::regex("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d pigpio stand-in: ignoring "
                            "PIGPIO_SIM_SIGNAL=.*: want SIGNAL@MICROS")))
            << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, SignalFromEnvironment,
    ::testing::Values(SignalEnv{"12@3000", true, false}, SignalEnv{"12@0", true, false},
                      SignalEnv{"12@100001", false, false}, // past the sleep
                      SignalEnv{"", false, false}, SignalEnv{"12", false, true},
                      SignalEnv{"@3000", false, true}, SignalEnv{"USR2@3000", false, true},
                      SignalEnv{"0@3000", false, true}, SignalEnv{"65@3000", false, true},
                      SignalEnv{"12@-5", false, true}, SignalEnv{"12@ 5", false, true},
                      SignalEnv{"12@5us", false, true},
                      SignalEnv{"12@99999999999999999999", false, true}));

// pigpio's handler in a process of its own: the helper sends 100 carrier periods
// (2620 us) and polls with time_sleep(0.1) until they are sent.
namespace {

struct Ended {
    int status = -1;
    std::string err;
    std::string log;
    std::string vcd;
};

Ended runHelper(const std::string& scenario, const std::string& signal)
{
    const TempDir dir;
    const std::string log = dir.file("log");
    const std::string vcd = dir.file("vcd");
    const Outcome helper = runProgram(PIGPIO_SIM_EXIT_HELPER, ".",
                                      {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + log,
                                       "PIGPIO_SIM_VCD=" + vcd, "PIGPIO_SIM_SIGNAL=" + signal},
                                      {scenario});
    Ended ended;
    ended.status = helper.status;
    ended.err = helper.err;
    ended.log = readFile(log);
    ended.vcd = readFile(vcd);
    return ended;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST_F(SimTest, HandlerTerminatesAtOnceAndExits255)
{
    const Ended run = runHelper("long", std::to_string(SIGTERM) + "@1008");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(std::regex_match(run.err,
                                 std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d sigHandler: "
                                            "Unhandled signal 15, terminating\n")))
        << run.err;
    EXPECT_TRUE(endsWith(run.log, "1008 PIGPIO_SIM_SIGNAL: kill(getpid(), 15)\n"
                                  "1008 sigHandler: Unhandled signal 15, terminating\n"
                                  "1008 warning: wave 0 was created and never deleted\n"
                                  "1008 warning: gpio 24 left high at exit\n"))
        << run.log;
    EXPECT_TRUE(endsWith(run.vcd, "\n#995\n09\n#1008\n19\n")) << "cut, the line high";
}

TEST_F(SimTest, HandlerIgnoresWhatPigpioIgnores)
{
    const Ended clean = runHelper("long", "");
    ASSERT_EQ(clean.status, 0);
    for (const int signo : {SIGUSR1, SIGUSR2, SIGPIPE, SIGWINCH, SIGCHLD}) {
        const Ended run = runHelper("long", std::to_string(signo) + "@1008");
        EXPECT_EQ(run.status, 0) << signo;
        EXPECT_EQ(run.err, "") << signo;
        EXPECT_EQ(run.vcd, clean.vcd) << signo;
        EXPECT_EQ(run.log.find("warning"), std::string::npos) << run.log;
    }
}

TEST_F(SimTest, HandlerStaysAfterTerminate)
{
    const Ended run = runHelper("long-then-sleep", std::to_string(SIGHUP) + "@150000");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(endsWith(run.log, "100000 gpioTerminate()\n"
                                  "150000 PIGPIO_SIM_SIGNAL: kill(getpid(), 1)\n"
                                  "150000 sigHandler: Unhandled signal 1, terminating\n"))
        << run.log;
}
