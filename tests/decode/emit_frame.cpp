// emit_frame: sends one frame through the transmitter's own emitCode, with beamfile's
// timing except where an argument changes it, so that a test can hand a receiver a
// frame slightly off NEC and see whether it is still taken for the code.
//
// usage: emit_frame CODE [NAME=VALUE]...
//   NAME: leadBurstUs leadGapUs oneBurstUs zeroBurstUs oneGapUs zeroGapUs trailBurst
// Exit status: emitCode's, or 2 for a bad argument.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame_params.h"

namespace {

// Sets the field that "NAME=VALUE" names: 0 when done, 2 for anything else.
int setField(const char* arg, FrameParams* timing)
{
    struct Field {
        const char* name;
        int32_t* value;
    };
    const Field fields[] = {
        {"leadBurstUs", &timing->leadBurstUs}, {"leadGapUs", &timing->leadGapUs},
        {"oneBurstUs", &timing->oneBurstUs},   {"zeroBurstUs", &timing->zeroBurstUs},
        {"oneGapUs", &timing->oneGapUs},       {"zeroGapUs", &timing->zeroGapUs},
        {"trailBurst", &timing->trailBurst},
    };
    const char* equals = std::strchr(arg, '=');
    if (equals == nullptr) {
        return 2;
    }
    const size_t nameLength = static_cast<size_t>(equals - arg);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(equals + 1, &end, 10);
    if (end == equals + 1 || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX) {
        return 2;
    }
    for (const Field& field : fields) {
        if (std::strlen(field.name) == nameLength &&
            std::strncmp(field.name, arg, nameLength) == 0) {
            *field.value = static_cast<int32_t>(value);
            return 0;
        }
    }
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        (void)std::fputs("usage: emit_frame CODE [NAME=VALUE]...\n", stderr);
        return 2;
    }
    FrameParams t;
    for (int i = 2; i < argc; ++i) {
        if (setField(argv[i], &t) != 0) {
            (void)std::fprintf(stderr, "emit_frame: not a timing: '%s'\n", argv[i]);
            return 2;
        }
    }
    return emitFrame(t, argv[1]);
}
