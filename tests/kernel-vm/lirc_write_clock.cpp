// lirc_write_clock.so: preloaded into a sender, it times each write(2) to a lirc
// device on CLOCK_MONOTONIC, the clock the launcher (lirc_reader perf) reads
// around the process, and appends "LOADED_NS ENTER_NS RETURN_NS RESULT AIRTIME_US"
// to the file named by BEAM_LIRC_WRITE_TIMES; LOADED_NS is when the loader had
// mapped the process's libraries and ran this one's constructor.  The line is
// written after the clock is read on return, so its cost falls in "write return
// to exit", where a process without the shim would not spend it: a few
// microseconds.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using WriteFunction = ssize_t (*)(int, const void*, size_t);

WriteFunction realWrite()
{
    // The next definition in the lookup order: libc's.
    static const auto next = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    return next;
}

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A preloaded library's state has to outlive every call into it.
int64_t loadedNs = 0;

__attribute__((constructor)) void loaded()
{
    loadedNs = monotonicNs();
}

bool isLirc(int fd)
{
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    char link[32];
    char target[64] = {};
    (void)std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 && std::strncmp(target, "/dev/lirc", 9) == 0;
}

void record(int64_t enter, int64_t back, ssize_t result, const void* buffer, size_t count)
{
    const char* path = std::getenv("BEAM_LIRC_WRITE_TIMES");
    if (path == nullptr) {
        return;
    }
    // Pulse mode: the buffer is the frame's durations in microseconds.
    uint64_t airtime = 0;
    for (size_t i = 0; i + sizeof(uint32_t) <= count; i += sizeof(uint32_t)) {
        uint32_t duration = 0;
        std::memcpy(&duration, static_cast<const char*>(buffer) + i, sizeof duration);
        airtime += duration;
    }
    char line[128];
    const int length = std::snprintf(
        line, sizeof line, "%lld %lld %lld %lld %llu\n", static_cast<long long>(loadedNs),
        static_cast<long long>(enter), static_cast<long long>(back), static_cast<long long>(result),
        static_cast<unsigned long long>(airtime));
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0 && length > 0) {
        (void)realWrite()(fd, line, static_cast<size_t>(length));
    }
    if (fd >= 0) {
        close(fd);
    }
}

} // namespace

// The parameters bear the names of glibc's declaration, which are reserved ones.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" ssize_t write(int __fd, const void* __buf, size_t __n)
{
    const WriteFunction next = realWrite();
    const int64_t enter = monotonicNs();
    const ssize_t result = next(__fd, __buf, __n);
    const int64_t back = monotonicNs();
    const int saved = errno;
    if (isLirc(__fd)) {
        record(enter, back, result, __buf, __n);
    }
    errno = saved;
    return result;
}
