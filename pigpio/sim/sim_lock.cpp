// pigpio's lock file.  pigpio's gpioInitialise creates /var/run/pigpio.pid with
// O_CREAT | O_EXCL, flocks it and writes its pid in; while it is there, another
// pigpio program (or pigpiod) cannot start: "Can't lock /var/run/pigpio.pid".  A
// file whose pid is dead was left by a program that did not terminate and is
// removed first; gpioTerminate removes it.  The stand-in does the same with a file
// of its own: one Pi per user, so that a second user of a machine, or a run after
// root's, is not locked out by the first.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "sim_core.h"

namespace pigpio_sim {

namespace {

struct Held {
    int fd = -1;
    std::string path;
};

Held& held()
{
    // Never destroyed, like the state: the exit report may still terminate.
    static Held* const instance = new Held();
    return *instance;
}

// The pid in a lock file, 0 where there is none (an empty or unreadable file).
long lockPid(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 ? pid : 0;
}

} // namespace

std::string lockPath(const std::string& named)
{
    if (!named.empty()) {
        return named;
    }
    // The user's own runtime folder, else a name of the user's own.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/pigpio-sim.pid";
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    return folder + "/pigpio-sim-" + std::to_string(::geteuid()) + ".pid";
}

bool takeLock(const std::string& path)
{
    const long pid = lockPid(path);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        (void)::unlink(path.c_str()); // another may have removed it first
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const std::string line = std::to_string(::getpid()) + "\n";
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        (void)::unlink(path.c_str());
        ::close(fd);
        return false;
    }
    held() = {fd, path};
    return true;
}

void releaseLock()
{
    Held& lock = held();
    if (lock.fd < 0) {
        return;
    }
    (void)::unlink(lock.path.c_str());
    ::close(lock.fd);
    lock = Held();
}

} // namespace pigpio_sim
