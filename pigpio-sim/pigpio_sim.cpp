// The exported functions: pigpio's interface (pigpio.h) and the stand-in's own
// inspection interface (pigpio_sim.h). Each pigpio call is logged with its result.
#include <string>

#include "pigpio.h"
#include "pigpio_sim.h"
#include "sim_core.h"

#define PIGPIO_SIM_EXPORT __attribute__((visibility("default")))

using namespace pigpio_sim;

namespace {

// One pigpio call: its time (on entry) and text, logged when it returns.
class Call {
  public:
    Call(const char* name, const std::string& args)
        : at_(nowMicros()), text_(std::string(name) + "(" + args + ")")
    {
    }
    uint64_t at() const
    {
        return at_;
    }
    int returns(int result) const
    {
        recordCall(at_, text_ + " = " + std::to_string(result));
        return result;
    }
    void done() const
    {
        recordCall(at_, text_);
    }

  private:
    uint64_t at_;
    std::string text_;
};

int badGpio(const char* fn, unsigned gpio)
{
    complain(fn, "bad gpio (%u)", gpio);
    return PI_BAD_GPIO;
}

bool knownWave(unsigned waveId)
{
    const std::vector<Wave>& waves = state().waves;
    return waveId < waves.size() && !waves[waveId].deleted;
}

int addGeneric(unsigned numPulses, const gpioPulse_t* pulses)
{
    const char* fn = "gpioWaveAddGeneric";
    if (!initialisedFor(fn)) {
        return PI_NOT_INITIALISED;
    }
    return pigpio_rules::addPulses(state().pending, numPulses, pulses);
}

int txSend(unsigned waveId, unsigned mode, uint64_t at)
{
    const char* fn = "gpioWaveTxSend";
    if (!initialisedFor(fn)) {
        return PI_NOT_INITIALISED;
    }
    if (state().faults.waveTxSend < 0) {
        return state().faults.waveTxSend;
    }
    if (!knownWave(waveId)) {
        complain(fn, "bad wave id (%u)", waveId);
        return PI_BAD_WAVE_ID;
    }
    if (mode > PI_WAVE_MODE_REPEAT_SYNC) {
        complain(fn, "bad wave mode (%u)", mode);
        return PI_BAD_WAVE_MODE;
    }
    startWave(static_cast<int>(waveId), mode, at);
    State& s = state();
    if (!s.waveSent) {
        s.waveSent = true;
        s.firstSendAt = at;
    }
    return s.waves[waveId].cbs;
}

int maxValue(const char* fn, int value)
{
    return initialisedFor(fn) ? value : PI_NOT_INITIALISED;
}

const char* pointerText(const void* pointer)
{
    return pointer != nullptr ? "pulses" : "NULL";
}

} // namespace

// ---- pigpio ----------------------------------------------------------------------------

PIGPIO_SIM_EXPORT int gpioInitialise(void)
{
    const Call call("gpioInitialise", "");
    State& s = state();
    if (s.initialised) {
        return call.returns(PIGPIO_VERSION);
    }
    // A build against the stand-in must never pass for one that sends.
    const std::string model = s.simulateOnPi ? std::string() : raspberryPiModel(s.modelFile);
    if (!model.empty()) {
        complain("initCheckPermitted",
                 "pigpio stand-in: this machine is a %s, but this build only simulates one and "
                 "sends nothing",
                 model.c_str());
        complain("initCheckPermitted",
                 "pigpio stand-in: to send, reconfigure with -DBEAM_PIGPIO=auto on the Pi and "
                 "rebuild (scripts/build-pigpio.sh installs pigpio where it is missing); "
                 "PIGPIO_SIM_ON_PI=1 simulates anyway");
        return call.returns(PI_INIT_FAILED);
    }
    if (s.faults.failInit != 0) {
        complain("initCheckPermitted", "pigpio stand-in: initialisation refused (%s)",
                 s.faults.failInitSource.c_str());
        return call.returns(PI_INIT_FAILED);
    }
    if (s.signalHandlers) {
        installSignalHandlers();
    }
    s.initialised = true;
    return call.returns(PIGPIO_VERSION);
}

PIGPIO_SIM_EXPORT void gpioTerminate(void)
{
    const Call call("gpioTerminate", "");
    if (state().initialised) {
        terminateNow(call.at());
    }
    call.done();
}

PIGPIO_SIM_EXPORT int gpioSetMode(unsigned gpio, unsigned mode)
{
    const Call call("gpioSetMode", format("%u, %u", gpio, mode));
    const char* fn = "gpioSetMode";
    if (!initialisedFor(fn)) {
        return call.returns(PI_NOT_INITIALISED);
    }
    if (gpio > PI_MAX_GPIO) {
        return call.returns(badGpio(fn, gpio));
    }
    if (mode > PI_ALT3) {
        complain(fn, "gpio %u, bad mode (%u)", gpio, mode);
        return call.returns(PI_BAD_MODE);
    }
    playUntil(call.at());
    Line& line = state().lines[gpio];
    line.mode = mode;
    line.driven = line.driven || mode == PI_OUTPUT;
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioRead(unsigned gpio)
{
    const Call call("gpioRead", format("%u", gpio));
    if (!initialisedFor("gpioRead")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    if (gpio > PI_MAX_GPIO) {
        return call.returns(badGpio("gpioRead", gpio));
    }
    playUntil(call.at());
    return call.returns(state().lines[gpio].level);
}

PIGPIO_SIM_EXPORT int gpioWrite(unsigned gpio, unsigned level)
{
    const Call call("gpioWrite", format("%u, %u", gpio, level));
    const char* fn = "gpioWrite";
    if (!initialisedFor(fn)) {
        return call.returns(PI_NOT_INITIALISED);
    }
    if (gpio > PI_MAX_GPIO) {
        return call.returns(badGpio(fn, gpio));
    }
    if (level > PI_HIGH) {
        complain(fn, "gpio %u, bad level (%u)", gpio, level);
        return call.returns(PI_BAD_LEVEL);
    }
    playUntil(call.at());
    setLevel(gpio, static_cast<int>(level), call.at());
    Line& line = state().lines[gpio];
    line.mode = PI_OUTPUT;
    line.driven = true;
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveClear(void)
{
    const Call call("gpioWaveClear", "");
    if (!initialisedFor("gpioWaveClear")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    clearWaves();
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveAddNew(void)
{
    const Call call("gpioWaveAddNew", "");
    if (!initialisedFor("gpioWaveAddNew")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    state().pending.clear();
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveAddGeneric(unsigned numPulses, gpioPulse_t* pulses)
{
    const Call call("gpioWaveAddGeneric", format("%u, %s", numPulses, pointerText(pulses)));
    return call.returns(addGeneric(numPulses, pulses));
}

PIGPIO_SIM_EXPORT int gpioWaveCreate(void)
{
    const Call call("gpioWaveCreate", "");
    if (!initialisedFor("gpioWaveCreate")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    if (state().faults.waveCreate < 0) {
        return call.returns(state().faults.waveCreate);
    }
    return call.returns(createWave());
}

PIGPIO_SIM_EXPORT int gpioWaveDelete(unsigned wave_id)
{
    const Call call("gpioWaveDelete", format("%u", wave_id));
    if (!initialisedFor("gpioWaveDelete")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    return call.returns(deleteWave(wave_id));
}

PIGPIO_SIM_EXPORT int gpioWaveTxSend(unsigned wave_id, unsigned wave_mode)
{
    const Call call("gpioWaveTxSend", format("%u, %u", wave_id, wave_mode));
    return call.returns(txSend(wave_id, wave_mode, call.at()));
}

PIGPIO_SIM_EXPORT int gpioWaveTxBusy(void)
{
    const Call call("gpioWaveTxBusy", "");
    if (!initialisedFor("gpioWaveTxBusy")) {
        return call.returns(PI_NOT_INITIALISED);
    }
    playUntil(call.at());
    return call.returns(sending(call.at()) ? 1 : 0);
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxPulses(void)
{
    const Call call("gpioWaveGetMaxPulses", "");
    return call.returns(maxValue("gpioWaveGetMaxPulses", PI_WAVE_MAX_PULSES));
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxMicros(void)
{
    const Call call("gpioWaveGetMaxMicros", "");
    return call.returns(maxValue("gpioWaveGetMaxMicros", PI_WAVE_MAX_MICROS));
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxCbs(void)
{
    const Call call("gpioWaveGetMaxCbs", "");
    return call.returns(maxValue("gpioWaveGetMaxCbs", kPoolCbs));
}

PIGPIO_SIM_EXPORT void time_sleep(double seconds)
{
    const Call call("time_sleep", format("%g", seconds));
    sleepSeconds(seconds);
    call.done();
}

PIGPIO_SIM_EXPORT double time_time(void)
{
    const uint64_t at = nowMicros();
    const double seconds = timeSeconds();
    recordCall(at, format("time_time() = %.6f", seconds));
    return seconds;
}

PIGPIO_SIM_EXPORT unsigned gpioVersion(void)
{
    const Call call("gpioVersion", "");
    return static_cast<unsigned>(call.returns(PIGPIO_VERSION));
}

/* 0, the revision v79 reports on a machine that is not a Pi (the real library also
 * logs "unknown revision=0" then; the stand-in stays quiet). */
PIGPIO_SIM_EXPORT unsigned gpioHardwareRevision(void)
{
    const Call call("gpioHardwareRevision", "");
    return static_cast<unsigned>(call.returns(0));
}

// ---- inspection and control ------------------------------------------------------------

PIGPIO_SIM_EXPORT void pigpioSimReset(void)
{
    resetAll();
}

PIGPIO_SIM_EXPORT void pigpioSimFailInitialise(int fail)
{
    state().faults.failInit = fail != 0 ? 1 : 0;
    state().faults.failInitSource = "pigpioSimFailInitialise";
}

PIGPIO_SIM_EXPORT void pigpioSimFailWaveCreate(int errorCode)
{
    state().faults.waveCreate = errorCode < 0 ? errorCode : 0;
}

PIGPIO_SIM_EXPORT void pigpioSimFailWaveTxSend(int errorCode)
{
    state().faults.waveTxSend = errorCode < 0 ? errorCode : 0;
}

PIGPIO_SIM_EXPORT void pigpioSimSignalAfterSend(int signo, uint64_t micros)
{
    PlannedSignal& planned = state().signal;
    planned.signo = signo > 0 ? signo : 0;
    planned.afterSendMicros = micros;
    planned.sent = false;
}

PIGPIO_SIM_EXPORT void pigpioSimSignalHandlers(int install)
{
    state().signalHandlers = install != 0;
}

PIGPIO_SIM_EXPORT void pigpioSimUseVirtualClock(int on)
{
    useVirtualClock(on != 0);
}

PIGPIO_SIM_EXPORT uint64_t pigpioSimNowMicros(void)
{
    return nowMicros();
}

PIGPIO_SIM_EXPORT int pigpioSimCallCount(void)
{
    return static_cast<int>(state().calls.size());
}

PIGPIO_SIM_EXPORT const char* pigpioSimCall(int index)
{
    const std::deque<std::string>& calls = state().calls;
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) {
        return nullptr;
    }
    return calls[static_cast<size_t>(index)].c_str();
}

PIGPIO_SIM_EXPORT const gpioPulse_t* pigpioSimWavePulses(int* count)
{
    const std::vector<gpioPulse_t>& pulses = state().lastCreated;
    if (count != nullptr) {
        *count = static_cast<int>(pulses.size());
    }
    return pulses.empty() ? nullptr : pulses.data();
}

PIGPIO_SIM_EXPORT int pigpioSimEdgeCount(unsigned gpio)
{
    if (gpio > PI_MAX_GPIO) {
        return 0;
    }
    playUntil(nowMicros());
    return static_cast<int>(state().lines[gpio].edges.size());
}

PIGPIO_SIM_EXPORT int pigpioSimEdge(unsigned gpio, int index, uint64_t* atMicros, int* level)
{
    if (gpio > PI_MAX_GPIO || index < 0) {
        return -1;
    }
    playUntil(nowMicros());
    const std::vector<Edge>& edges = state().lines[gpio].edges;
    if (static_cast<size_t>(index) >= edges.size()) {
        return -1;
    }
    const Edge& edge = edges[static_cast<size_t>(index)];
    if (atMicros != nullptr) {
        *atMicros = edge.at;
    }
    if (level != nullptr) {
        *level = edge.level;
    }
    return 0;
}

PIGPIO_SIM_EXPORT int pigpioSimLevel(unsigned gpio)
{
    if (gpio > PI_MAX_GPIO) {
        return -1;
    }
    playUntil(nowMicros());
    return state().lines[gpio].level;
}

// ---- load and exit -----------------------------------------------------------------------

__attribute__((constructor)) static void atLoad()
{
    resetAll();
}

__attribute__((destructor)) static void atExit()
{
    reportAtExit();
}
