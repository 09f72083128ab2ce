// fake_lirc_transmitter.so: preloaded into ir-ctl, it makes the path named by
// FAKE_LIRC_PATH a lirc transmitter that takes pulses but no scancodes, so that
// ir-ctl falls back to its own user-space encoders (v4l-utils' ir-encode.c), and it
// appends what ir-ctl sends to the file named by FAKE_LIRC_OUT: "carrier N" and
// one duration per line.  The protocol tests compare that with our encoders: an
// oracle written by others, run without a transmitter.
//
// The device is /dev/null reopened at a fixed descriptor: a character device, so
// ir-ctl's check passes, and a number to recognise it by without keeping state.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/lirc.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int fakeFd = 977; // far above what ir-ctl opens itself

bool isFakePath(const char* path)
{
    const char* fake = std::getenv("FAKE_LIRC_PATH");
    return fake != nullptr && path != nullptr && std::strcmp(path, fake) == 0;
}

int openFake(int flags)
{
    using OpenFunction = int (*)(const char*, int, ...);
    const auto realOpen = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
    const int fd = realOpen("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0)
        return fd;
    const int moved = dup3(fd, fakeFd, flags & O_CLOEXEC);
    close(fd);
    return moved;
}

void record(const char* line)
{
    const char* out = std::getenv("FAKE_LIRC_OUT");
    if (out == nullptr)
        return;
    FILE* file = std::fopen(out, "a");
    if (file == nullptr)
        return;
    (void)std::fputs(line, file);
    (void)std::fclose(file);
}

int fakeIoctl(unsigned long request, void* argument)
{
    auto* value = static_cast<std::uint32_t*>(argument);
    switch (request) {
    case LIRC_GET_FEATURES:
        *value = LIRC_CAN_SEND_PULSE | LIRC_CAN_SET_SEND_CARRIER | LIRC_CAN_SET_SEND_DUTY_CYCLE;
        return 0;
    case LIRC_GET_SEND_MODE:
        *value = LIRC_MODE_PULSE;
        return 0;
    case LIRC_SET_SEND_MODE:
        // Refusing scancodes is what makes ir-ctl encode them itself.
        if (*value == LIRC_MODE_PULSE)
            return 0;
        errno = EINVAL;
        return -1;
    case LIRC_SET_SEND_CARRIER: {
        char line[32];
        (void)std::snprintf(line, sizeof line, "carrier %u\n", *value);
        record(line);
        return 0;
    }
    case LIRC_SET_SEND_DUTY_CYCLE:
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

} // namespace

extern "C" {

// The parameters bear glibc's names without its reserved leading underscores, so
// that each definition matches the declaration it stands in for.
int open(const char* file, int oflag, ...)
{
    if (isFakePath(file))
        return openFake(oflag);
    va_list list;
    va_start(list, oflag);
    const auto mode = static_cast<mode_t>(va_arg(list, unsigned int));
    va_end(list);
    using OpenFunction = int (*)(const char*, int, ...);
    return reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"))(file, oflag, mode);
}

int open64(const char* file, int oflag, ...)
{
    if (isFakePath(file))
        return openFake(oflag);
    va_list list;
    va_start(list, oflag);
    const auto mode = static_cast<mode_t>(va_arg(list, unsigned int));
    va_end(list);
    using OpenFunction = int (*)(const char*, int, ...);
    return reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open64"))(file, oflag, mode);
}

int openat(int fd, const char* file, int oflag, ...)
{
    if (isFakePath(file))
        return openFake(oflag);
    va_list list;
    va_start(list, oflag);
    const auto mode = static_cast<mode_t>(va_arg(list, unsigned int));
    va_end(list);
    using OpenatFunction = int (*)(int, const char*, int, ...);
    return reinterpret_cast<OpenatFunction>(dlsym(RTLD_NEXT, "openat"))(fd, file, oflag, mode);
}

int openat64(int fd, const char* file, int oflag, ...)
{
    if (isFakePath(file))
        return openFake(oflag);
    va_list list;
    va_start(list, oflag);
    const auto mode = static_cast<mode_t>(va_arg(list, unsigned int));
    va_end(list);
    using OpenatFunction = int (*)(int, const char*, int, ...);
    return reinterpret_cast<OpenatFunction>(dlsym(RTLD_NEXT, "openat64"))(fd, file, oflag, mode);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list list;
    va_start(list, request);
    void* argument = va_arg(list, void*);
    va_end(list);
    if (fd == fakeFd)
        return fakeIoctl(request, argument);
    using IoctlFunction = int (*)(int, unsigned long, ...);
    return reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"))(fd, request, argument);
}

ssize_t write(int fd, const void* buf, size_t n)
{
    using WriteFunction = ssize_t (*)(int, const void*, size_t);
    const auto realWrite = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    if (fd != fakeFd)
        return realWrite(fd, buf, n);
    const auto* durations = static_cast<const std::uint32_t*>(buf);
    for (size_t i = 0; i < n / sizeof(std::uint32_t); ++i) {
        char line[16];
        (void)std::snprintf(line, sizeof line, "%u\n", durations[i]);
        record(line);
    }
    return static_cast<ssize_t>(n);
}

} // extern "C"
