#include "run_program.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "clock.h"
#include "files.h"

// POSIX has the program declare it; glibc's <unistd.h> does so only with _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

namespace {

// In a cross build, the emulator CMake was given (CMAKE_CROSSCOMPILING_EMULATOR,
// passed in by tests/support/CMakeLists.txt) to put before a program built here;
// none in a native build.
std::vector<std::string> emulatorWords()
{
    return {BEAM_EMULATOR_WORDS};
}

// A command to run each program under, e.g. a memory checker, from BEAM_TEST_WRAPPER
// split at blanks (no quoting); empty when unset.  Its first word is looked up in PATH.
std::vector<std::string> wrapper()
{
    std::vector<std::string> words;
    const char* text = std::getenv("BEAM_TEST_WRAPPER");
    std::stringstream list(text != nullptr ? text : "");
    std::string word;
    while (list >> word) {
        words.push_back(word);
    }
    return words;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

double secondsSince(long long startNs)
{
    return static_cast<double>(monotonicNs() - startNs) / 1e9;
}

bool fileHolds(const std::string& path, const std::string& text)
{
    return readFile(path).find(text) != std::string::npos;
}

// While a signal waits for its condition, the file is looked at this often.
constexpr int signalCheckMs = 1;

// How long to wait for output: until the deadline (for ever once the child is
// killed), or less while a signal waits for its condition.
int pollTimeoutMs(long long start, bool killed, bool waiting)
{
    const double left = runDeadlineSeconds - secondsSince(start);
    const int untilDeadline = killed ? -1 : left > 0 ? static_cast<int>(left * 1000) + 1 : 0;
    if (!waiting) {
        return untilDeadline;
    }
    return untilDeadline < 0 ? signalCheckMs : std::min(untilDeadline, signalCheckMs);
}

// Appends what one pipe has to its sink; closes it, and gives false, at its end.
bool readPipe(pollfd& pipe, std::string& sink)
{
    char buffer[4096];
    const ssize_t n = read(pipe.fd, buffer, sizeof buffer);
    if (n > 0) {
        sink.append(buffer, static_cast<size_t>(n));
        return true;
    }
    if (n < 0 && errno == EINTR) {
        return true;
    }
    close(pipe.fd);
    pipe.fd = -1;
    return false;
}

// Reads both pipes to their ends together, so neither child stream can block,
// sends the child the signal `when` asks for once it is met, and kills the child
// once it has run past the deadline.
void drain(pid_t pid, long long start, int outFd, int errFd, const SignalWhen& when, Outcome& run)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    bool killed = false;
    bool waiting = when.signal != 0;
    while (open > 0) {
        if (waiting && fileHolds(when.file, when.text)) {
            kill(pid, when.signal);
            run.signalledNs = monotonicNs();
            waiting = false;
        }
        const int ready = poll(fds, 2, pollTimeoutMs(start, killed, waiting));
        if (ready < 0 && errno != EINTR) {
            throw std::runtime_error("poll failed");
        }
        if (ready <= 0) {
            if (!killed && secondsSince(start) >= runDeadlineSeconds) {
                kill(pid, SIGKILL);
                killed = true;
            }
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !readPipe(fds[i], *sinks[i])) {
                --open;
            }
        }
    }
}

// What the exited but not yet reaped child read: rchar of /proc/<pid>/io.
long long bytesRead(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string name;
    long long value = -1;
    while (io >> name >> value) {
        if (name == "rchar:") {
            return value;
        }
    }
    return -1;
}

// In the child, between fork and exec, so without allocating: says why it
// could not go on, and exits.
[[noreturn]] void childFails(int status, const char* what)
{
    const char* reason = std::strerror(errno);
    for (const char* text : {what, ": ", reason, "\n"}) {
        if (write(2, text, std::strlen(text)) < 0) {
            break;
        }
    }
    _exit(status);
}

// Whether a "NAME=value" setting is of the variable `name`, given with its "=".
bool sets(const std::string& setting, const char* name, size_t length)
{
    return setting.compare(0, length, name, length) == 0;
}

// This process's environment, less any variable env sets, any SUDO_* variable (a
// suite started under sudo would have beamfile read as sudo's user) and, unless
// keepSim, any PIGPIO_SIM_* variable; then env, and PIGPIO_SIM_ON_PI=1 and the lock
// file unless that names them.
std::vector<std::string> environment(const std::vector<std::string>& env, bool keepSim, int user)
{
    std::vector<std::string> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* equals = std::strchr(*e, '=');
        const size_t length = equals != nullptr ? static_cast<size_t>(equals - *e) + 1 : 0;
        if ((keepSim || std::strncmp(*e, "PIGPIO_SIM_", 11) != 0) &&
            std::strncmp(*e, "SUDO_", 5) != 0 &&
            std::none_of(env.begin(), env.end(), [e, length](const std::string& setting) {
                return sets(setting, *e, length);
            })) {
            envp.emplace_back(*e);
        }
    }
    envp.insert(envp.end(), env.begin(), env.end());
    const char* onPi = "PIGPIO_SIM_ON_PI=";
    if (std::none_of(envp.begin(), envp.end(), [onPi](const std::string& setting) {
            return sets(setting, onPi, std::strlen(onPi));
        })) {
        envp.push_back(std::string(onPi) + "1");
    }
    const char* lock = "PIGPIO_SIM_LOCK_FILE=";
    if (std::none_of(envp.begin(), envp.end(), [lock](const std::string& setting) {
            return sets(setting, lock, std::strlen(lock));
        })) {
        envp.push_back(lock + simLockFile(user));
    }
    return envp;
}

std::vector<std::string> commandLine(const Command& command)
{
    std::vector<std::string> argv;
    if (!command.direct) {
        argv = emulatorWords();
        const std::vector<std::string> outer = wrapper();
        argv.insert(argv.end(), outer.begin(), outer.end());
    }
    argv.push_back(command.program);
    argv.insert(argv.end(), command.args.begin(), command.args.end());
    return argv;
}

// In the child, between fork and exec: its standard streams, user and folder, then
// the program.
[[noreturn]] void becomeProgram(const Command& command, char* const* argv, char* const* envp,
                                int outFd, int errFd)
{
    const int in = open("/dev/null", O_RDONLY);
    const int out = command.stdoutFull ? open("/dev/full", O_WRONLY) : outFd;
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(errFd, 2) < 0) {
        _exit(126);
    }
    if (command.user >= 0) {
        const auto id = static_cast<uid_t>(command.user);
        if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) {
            childFails(125, "cannot switch user");
        }
    }
    if (chdir(command.dir.c_str()) != 0) {
        childFails(126, "cannot enter the folder");
    }
    execvpe(argv[0], argv, envp);
    childFails(127, "cannot run the program");
}

} // namespace

Outcome runCommand(const Command& command)
{
    std::vector<std::string> argv = commandLine(command);
    std::vector<std::string> envp = environment(command.env, command.keepSim, command.user);
    std::vector<char*> argvp = pointers(argv);
    std::vector<char*> envpp = pointers(envp);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    Outcome run;
    run.startedNs = monotonicNs();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        becomeProgram(command, argvp.data(), envpp.data(), outPipe[1], errPipe[1]);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    drain(pid, run.startedNs, outPipe[0], errPipe[0], command.signal, run);
    siginfo_t exited{};
    while (waitid(P_PID, static_cast<id_t>(pid), &exited, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    run.exitedNs = monotonicNs();
    run.seconds = static_cast<double>(run.exitedNs - run.startedNs) / 1e9;
    run.read = bytesRead(pid);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + run.signal;
    return run;
}

namespace {

// Made on first use; sticky and writable by all, like /tmp, for the users a test
// runs programs as.  Where no folder can be made (a system without a temporary
// folder), none: the stand-in's own default.
std::string lockFolder()
{
    try {
        static const TempDir folder;
        static const bool shared = chmod(folder.path().c_str(), 01777) == 0;
        return shared ? folder.path() : std::string();
    } catch (const std::runtime_error&) {
        return {};
    }
}

} // namespace

std::string simLockFile(int user)
{
    const std::string folder = lockFolder();
    const uid_t uid = user >= 0 ? static_cast<uid_t>(user) : geteuid();
    return folder.empty() ? std::string() : folder + "/pigpio-" + std::to_string(uid) + ".pid";
}

std::string installedProgram(const std::string& name)
{
    return std::string(BEAM_STAGE_BIN) + "/" + name;
}

namespace {

// program with args in dir, started as Command starts it unless told otherwise.
Command commandIn(const std::string& dir, const std::string& program,
                  const std::vector<std::string>& args)
{
    Command command;
    command.program = program;
    command.args = args;
    command.dir = dir;
    return command;
}

} // namespace

Outcome runProgram(const std::string& program, const std::string& dir,
                   const std::vector<std::string>& env, const std::vector<std::string>& args,
                   int user)
{
    Command command = commandIn(dir, program, args);
    command.env = env;
    command.user = user;
    return runCommand(command);
}

Outcome runProgramSignalled(const std::string& program, const std::string& dir,
                            const std::vector<std::string>& env, const SignalWhen& when)
{
    Command command = commandIn(dir, program, {});
    command.env = env;
    command.signal = when;
    return runCommand(command);
}

Outcome runHostProgram(const std::string& program, const std::string& dir,
                       const std::vector<std::string>& args)
{
    Command command = commandIn(dir, program, args);
    command.direct = true;
    return runCommand(command);
}
