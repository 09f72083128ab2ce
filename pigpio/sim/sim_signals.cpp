// pigpio's signal handling.  gpioInitialise gives every signal one handler, which
// ignores a few and ends the process on any other: it says so (through
// sim_output.cpp, as every message), terminates pigpio (a wave in flight is cut
// off, the lines keep their levels, the trace is written) and calls exit(-1).
// gpioTerminate leaves the handlers in place, as pigpio does (its issue #341).
//
// Left alone, unlike pigpio: the signals a fault of the running code raises
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL).  A crash in a simulated program should crash,
// with its core or its sanitizer report (AddressSanitizer has handlers of its own
// for them), rather than exit 255 as if interrupted.
#include <array>
#include <csignal>
#include <cstdlib>

#include <signal.h>
#include <unistd.h>

#include "sim_core.h"

namespace pigpio_sim {

namespace {

// pigpio's PI_MAX_SIGNUM.
constexpr int kLastSignal = 63;

bool leftAlone(int signo)
{
    switch (signo) {
    case SIGKILL:
    case SIGSTOP:
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
        return true;
    default:
        return false;
    }
}

// pigpio changes its debug level on SIGUSR1 and SIGUSR2, which at its default level
// shows nothing, and ignores the rest of these.
bool ignored(int signo)
{
    switch (signo) {
    case SIGUSR1:
    case SIGUSR2:
    case SIGPIPE:
    case SIGWINCH:
    case SIGCHLD:
        return true;
    default:
        return false;
    }
}

// The dispositions found before the first install, for a reset to put back where
// pigpio's handler still is.  Apart from the state, which a reset replaces.
struct Previous {
    bool saved = false;
    std::array<struct sigaction, kLastSignal + 1> actions{};
    std::array<bool, kLastSignal + 1> valid{};
};

Previous& previous()
{
    static Previous* const instance = new Previous();
    return *instance;
}

// Like pigpio's, not async-signal-safe on its terminating path: it allocates, writes
// and exits.  A signal sent by PIGPIO_SIM_SIGNAL arrives at a known point in a
// sleep, and one from outside mostly finds the program asleep too.
extern "C" void sigHandler(int signo)
{
    if (ignored(signo)) {
        return;
    }
    const uint64_t at = nowMicros();
    reportUnhandledSignal(at, signo);
    if (state().initialised) {
        terminate(at);
        writeVcd(at);
    }
    std::exit(-1);
}

} // namespace

void installSignalHandlers()
{
    Previous& old = previous();
    for (int signo = 1; signo <= kLastSignal; ++signo) {
        if (leftAlone(signo)) {
            continue;
        }
        // As pigpio sets it: no flags (no SA_RESTART), nothing else blocked.
        struct sigaction action {};
        action.sa_handler = sigHandler;
        sigemptyset(&action.sa_mask);
        struct sigaction before {};
        // Some numbers belong to the C library or to an emulator; those refuse.
        const bool installed = sigaction(signo, &action, &before) == 0;
        if (!old.saved) {
            old.actions[static_cast<size_t>(signo)] = before;
            old.valid[static_cast<size_t>(signo)] = installed;
        }
    }
    old.saved = true;
}

void restoreSignalHandlers()
{
    Previous& old = previous();
    if (!old.saved) {
        return;
    }
    for (int signo = 1; signo <= kLastSignal; ++signo) {
        const size_t i = static_cast<size_t>(signo);
        struct sigaction now {};
        // A handler the process set after pigpio's stays.
        if (old.valid[i] && sigaction(signo, nullptr, &now) == 0 && now.sa_handler == sigHandler) {
            (void)sigaction(signo, &old.actions[i], nullptr);
        }
    }
    old = Previous();
}

void raiseSignal(int signo)
{
    (void)kill(getpid(), signo);
}

} // namespace pigpio_sim
