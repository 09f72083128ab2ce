// The PIGPIO_SIM_* controls, by which a process that is no test steers the
// stand-in: read from the environment when the library is loaded and at each
// reset, and for the faults also set by the functions of pigpio_sim.h.  Like the
// state, this part writes nothing: a malformed value is returned, to be noted.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sim_core.h"

namespace pigpio_sim {

namespace {

enum class Kind {
    Path,      // any text
    Flag,      // an integer; non-zero is 1
    ErrorCode, // a negative integer
    Clock,     // real (0) or virtual (1)
    Signal,    // SIGNO@MICROS
};

struct Control {
    const char* name;
    Kind kind;
    const char* want; // what a malformed value should have been
    const char* call; // a fault: the call whose result it replaces; nullptr for the rest
    int result;       // a Flag fault: that result
};

constexpr const char* kErrorCode = "a negative pigpio error code";

/* Every control, in the order they are read, which is the order of the notes on
 * malformed values.  A fault is one row and its line in README.md: every call
 * that returns a status asks for its fault, after the initialisation check and
 * before any other. */
constexpr std::array<Control, 11> kControls{{
    {"PIGPIO_SIM_CLOCK", Kind::Clock, "real or virtual", nullptr, 0},
    {"PIGPIO_SIM_FAIL_INIT", Kind::Flag, "1 (fail) or 0", "gpioInitialise", PI_INIT_FAILED},
    {"PIGPIO_SIM_FAIL_WAVE_CREATE", Kind::ErrorCode, kErrorCode, "gpioWaveCreate", 0},
    {"PIGPIO_SIM_FAIL_WAVE_TX_SEND", Kind::ErrorCode, kErrorCode, "gpioWaveTxSend", 0},
    {"PIGPIO_SIM_ON_PI", Kind::Flag, "1 (simulate on a Raspberry Pi too) or 0", nullptr, 0},
    {"PIGPIO_SIM_MODEL_FILE", Kind::Path, "", nullptr, 0},
    {"PIGPIO_SIM_SIGNAL", Kind::Signal, "SIGNAL@MICROS, e.g. 2@3000 (SIGINT 3 ms after the send)",
     nullptr, 0},
    {"PIGPIO_SIM_VCD", Kind::Path, "", nullptr, 0},
    {"PIGPIO_SIM_LOG", Kind::Path, "", nullptr, 0},
    {"PIGPIO_SIM_ORIGIN", Kind::Path, "", nullptr, 0},
    {"PIGPIO_SIM_LOCK_FILE", Kind::Path, "", nullptr, 0},
}};

struct Controls {
    std::array<Setting, kControls.size()> settings;
    bool signalHandlers = true;
};

Controls& controls()
{
    // Never destroyed, like the state.
    static Controls* const instance = new Controls();
    return *instance;
}

// An integer in the whole of `text`, or false.
bool parseInt(const char* text, long& value)
{
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= INT_MIN && value <= INT_MAX;
}

// SIGNO@MICROS: a signal number (1-64) and a time after the send of at most about
// 11.6 days, so that the sums on the clock stay in range.
bool parseSignal(const char* text, Setting& into)
{
    const char* at = std::strchr(text, '@');
    long signo = 0;
    errno = 0;
    char* end = nullptr;
    const unsigned long long micros =
        at != nullptr && std::isdigit(static_cast<unsigned char>(at[1])) != 0
            ? std::strtoull(at + 1, &end, 10)
            : 0;
    const bool good = at != nullptr && end != nullptr && *end == '\0' && errno == 0 &&
                      micros <= 1000000000000ull &&
                      parseInt(std::string(text, at).c_str(), signo) && signo >= 1 && signo <= 64;
    into.number = static_cast<int>(signo);
    into.micros = micros;
    return good;
}

bool parse(Kind kind, const char* text, Setting& into)
{
    long value = 0;
    switch (kind) {
    case Kind::Path:
        into.text = text;
        return true;
    case Kind::Flag:
        if (!parseInt(text, value)) {
            return false;
        }
        into.number = value != 0 ? 1 : 0;
        return true;
    case Kind::ErrorCode:
        if (!parseInt(text, value) || value >= 0) {
            return false;
        }
        into.number = static_cast<int>(value);
        return true;
    case Kind::Clock:
        into.number = std::strcmp(text, "virtual") == 0 ? 1 : 0;
        return into.number == 1 || std::strcmp(text, "real") == 0;
    case Kind::Signal:
        return parseSignal(text, into);
    }
    return false;
}

// The first line of a model file, up to its NUL (the device tree ends the string
// with one) or line end, with anything unprintable shown as '?'; empty if unreadable.
std::string modelIn(const char* path)
{
    std::string model;
    for (const char c : pigpio_rules::fileStart(path, 128)) {
        if (c == '\0' || c == '\n') {
            break;
        }
        model += std::isprint(static_cast<unsigned char>(c)) != 0 ? c : '?';
    }
    return model;
}

} // namespace

std::vector<Malformed> readControls()
{
    Controls& now = controls();
    now = Controls();
    std::vector<Malformed> malformed;
    for (size_t i = 0; i < kControls.size(); ++i) {
        const Control& row = kControls[i];
        Setting& setting = now.settings[i];
        setting.source = row.name;
        const char* text = std::getenv(row.name);
        // Empty is unset; a malformed value leaves the default.
        Setting read = setting;
        if (text != nullptr && *text != '\0') {
            if (parse(row.kind, text, read)) {
                setting = read;
            } else {
                malformed.push_back({row.name, text, row.want});
            }
        }
    }
    return malformed;
}

const Setting& control(const char* name)
{
    static const Setting* const none = new Setting();
    for (size_t i = 0; i < kControls.size(); ++i) {
        if (std::strcmp(kControls[i].name, name) == 0) {
            return controls().settings[i];
        }
    }
    return *none;
}

Injected injectedFault(const char* call)
{
    for (size_t i = 0; i < kControls.size(); ++i) {
        const Control& row = kControls[i];
        const Setting& setting = controls().settings[i];
        if (row.call != nullptr && std::strcmp(row.call, call) == 0 && setting.number != 0) {
            return {row.kind == Kind::Flag ? row.result : setting.number, setting.source};
        }
    }
    return {};
}

int setFault(const char* name, int value, const char* source)
{
    for (size_t i = 0; i < kControls.size(); ++i) {
        const Control& row = kControls[i];
        if (row.call != nullptr && name != nullptr && std::strcmp(row.name, name) == 0) {
            Setting& setting = controls().settings[i];
            setting.number =
                row.kind == Kind::Flag ? (value != 0 ? 1 : 0) : (value < 0 ? value : 0);
            setting.source = source;
            return 0;
        }
    }
    return -1;
}

bool signalHandlersWanted()
{
    return controls().signalHandlers;
}

void wantSignalHandlers(bool install)
{
    controls().signalHandlers = install;
}

std::string raspberryPiModel(const std::string& modelFile)
{
    std::string model;
    if (!modelFile.empty()) {
        model = modelIn(modelFile.c_str());
    } else {
        for (const char* path :
             {"/proc/device-tree/model", "/sys/firmware/devicetree/base/model"}) {
            model = modelIn(path);
            if (!model.empty()) {
                break;
            }
        }
    }
    const std::string pi = "Raspberry Pi";
    return model.compare(0, pi.size(), pi) == 0 ? model : std::string();
}

} // namespace pigpio_sim
