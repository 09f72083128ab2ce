// The exported functions: pigpio's interface (pigpio.h) and the stand-in's own
// inspection interface (pigpio_sim.h).  Every check of a call's arguments is here
// (pigpio's own, with their complaints, from pigpio/rules); each pigpio call is
// logged with its result, and what the state returns to be reported, is reported.
#include <string>

#include "pigpio.h"
#include "pigpio_sim.h"
#include "sim_core.h"

#define PIGPIO_SIM_EXPORT __attribute__((visibility("default")))

using namespace pigpio_sim;
using pigpio_rules::waveInUse;

namespace {

// One pigpio call: its time (on entry) and text, logged when it returns.
class Call {
  public:
    Call(const char* name, const std::string& args)
        : name_(name), at_(nowMicros()), text_(std::string(name) + "(" + args + ")")
    {
    }
    const char* name() const
    {
        return name_;
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
    const char* name_;
    uint64_t at_;
    std::string text_;
};

// What every call that needs gpioInitialise checks first: that it was, then an
// injected fault.  0 to go on, else the call's result.
int refusal(const Call& call)
{
    if (!state().initialised) {
        return pigpio_rules::notInitialised(call.name());
    }
    return injectedFault(call.name()).result;
}

const char* pointerText(const void* pointer)
{
    return pointer != nullptr ? "pulses" : "NULL";
}

int maxValue(const char* name, int value)
{
    const Call call(name, "");
    const int refused = refusal(call);
    return call.returns(refused != 0 ? refused : value);
}

void reset()
{
    releaseLock();
    restoreSignalHandlers();
    resetState();
    for (const Malformed& value : readControls()) {
        noteIgnored(value);
    }
    useVirtualClock(control("PIGPIO_SIM_CLOCK").number != 0, true);
    const Setting& signal = control("PIGPIO_SIM_SIGNAL");
    planSignal(signal.number, signal.micros);
    resetOutput(control("PIGPIO_SIM_LOG").text, control("PIGPIO_SIM_VCD").text);
    if (!state().virtualClock) {
        writeOrigin(control("PIGPIO_SIM_ORIGIN").text, state().originNs);
    }
}

} // namespace

// ---- pigpio ----------------------------------------------------------------------------

PIGPIO_SIM_EXPORT int gpioInitialise(void)
{
    const Call call("gpioInitialise", "");
    if (state().initialised) {
        return call.returns(PIGPIO_VERSION);
    }
    // A build against the stand-in must never pass for one that sends.
    const std::string model = control("PIGPIO_SIM_ON_PI").number != 0
                                  ? std::string()
                                  : raspberryPiModel(control("PIGPIO_SIM_MODEL_FILE").text);
    if (!model.empty()) {
        refuseOnPi(model);
        return call.returns(PI_INIT_FAILED);
    }
    const Injected fault = injectedFault(call.name());
    if (fault.result != 0) {
        refuseInitialise(fault.source);
        return call.returns(fault.result);
    }
    const std::string lock = lockPath(control("PIGPIO_SIM_LOCK_FILE").text);
    if (!takeLock(lock)) {
        refuseLock(lock);
        return call.returns(PI_INIT_FAILED);
    }
    if (signalHandlersWanted()) {
        installSignalHandlers();
    }
    state().initialised = true;
    return call.returns(PIGPIO_VERSION);
}

PIGPIO_SIM_EXPORT void gpioTerminate(void)
{
    const Call call("gpioTerminate", "");
    if (state().initialised) {
        terminate(call.at());
        writeVcd(call.at());
    }
    call.done();
}

PIGPIO_SIM_EXPORT int gpioSetMode(unsigned gpio, unsigned mode)
{
    const Call call("gpioSetMode", format("%u, %u", gpio, mode));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    if (const int bad = pigpio_rules::checkSetMode(gpio, mode)) {
        return call.returns(bad);
    }
    setMode(gpio, mode, call.at());
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioRead(unsigned gpio)
{
    const Call call("gpioRead", format("%u", gpio));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    if (const int bad = pigpio_rules::checkGpio(call.name(), gpio)) {
        return call.returns(bad);
    }
    playUntil(call.at());
    return call.returns(state().lines[gpio].level);
}

PIGPIO_SIM_EXPORT int gpioWrite(unsigned gpio, unsigned level)
{
    const Call call("gpioWrite", format("%u, %u", gpio, level));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    if (const int bad = pigpio_rules::checkWrite(gpio, level)) {
        return call.returns(bad);
    }
    writeLevel(gpio, static_cast<int>(level), call.at());
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveClear(void)
{
    const Call call("gpioWaveClear", "");
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    if (clearWaves(call.at())) {
        warnClearedWhileSent(call.at());
    }
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveAddNew(void)
{
    const Call call("gpioWaveAddNew", "");
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    state().pending.clear();
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveAddGeneric(unsigned numPulses, gpioPulse_t* pulses)
{
    const Call call("gpioWaveAddGeneric", format("%u, %s", numPulses, pointerText(pulses)));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    return call.returns(pigpio_rules::addPulses(state().pending, numPulses, pulses));
}

PIGPIO_SIM_EXPORT int gpioWaveCreate(void)
{
    const Call call("gpioWaveCreate", "");
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    return call.returns(createWave());
}

PIGPIO_SIM_EXPORT int gpioWaveDelete(unsigned wave_id)
{
    const Call call("gpioWaveDelete", format("%u", wave_id));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    const bool inUse = waveInUse(state().waves, wave_id);
    if (const int bad = pigpio_rules::checkWaveId(call.name(), inUse, wave_id)) {
        return call.returns(bad);
    }
    if (deleteWave(wave_id, call.at())) {
        warnDeletedWhileSent(call.at(), wave_id);
    }
    return call.returns(0);
}

PIGPIO_SIM_EXPORT int gpioWaveTxSend(unsigned wave_id, unsigned wave_mode)
{
    const Call call("gpioWaveTxSend", format("%u, %u", wave_id, wave_mode));
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    const bool inUse = waveInUse(state().waves, wave_id);
    if (const int bad = pigpio_rules::checkWaveId(call.name(), inUse, wave_id)) {
        return call.returns(bad);
    }
    if (const int bad = pigpio_rules::checkWaveMode(wave_mode)) {
        return call.returns(bad);
    }
    const Sent sent = sendWave(wave_id, wave_mode, call.at());
    for (unsigned gpio = 0; gpio < kWaveGpioCount; ++gpio) {
        if ((sent.notOutputs & (1u << gpio)) != 0) {
            warnNotAnOutput(call.at(), gpio);
        }
    }
    return call.returns(sent.cbs);
}

PIGPIO_SIM_EXPORT int gpioWaveTxBusy(void)
{
    const Call call("gpioWaveTxBusy", "");
    if (const int refused = refusal(call)) {
        return call.returns(refused);
    }
    playUntil(call.at());
    return call.returns(sending(call.at()) ? 1 : 0);
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxPulses(void)
{
    return maxValue("gpioWaveGetMaxPulses", PI_WAVE_MAX_PULSES);
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxMicros(void)
{
    return maxValue("gpioWaveGetMaxMicros", PI_WAVE_MAX_MICROS);
}

PIGPIO_SIM_EXPORT int gpioWaveGetMaxCbs(void)
{
    return maxValue("gpioWaveGetMaxCbs", kPoolCbs);
}

// A sleep that reaches the planned signal's time stops there for the signal, then
// sleeps on.
PIGPIO_SIM_EXPORT void time_sleep(double seconds)
{
    const Call call("time_sleep", format("%g", seconds));
    const Sleep sleep = startSleep(seconds);
    if (sleepToSignal(sleep)) {
        const int signo = takePlannedSignal();
        reportPlannedSignal(nowMicros(), signo);
        raiseSignal(signo);
    }
    finishSleep(sleep);
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
    reset();
}

PIGPIO_SIM_EXPORT int pigpioSimSetFault(const char* name, int value)
{
    return setFault(name, value, "pigpioSimSetFault");
}

PIGPIO_SIM_EXPORT void pigpioSimFailInitialise(int fail)
{
    (void)setFault("PIGPIO_SIM_FAIL_INIT", fail, "pigpioSimFailInitialise");
}

PIGPIO_SIM_EXPORT void pigpioSimFailWaveCreate(int errorCode)
{
    (void)setFault("PIGPIO_SIM_FAIL_WAVE_CREATE", errorCode, "pigpioSimFailWaveCreate");
}

PIGPIO_SIM_EXPORT void pigpioSimFailWaveTxSend(int errorCode)
{
    (void)setFault("PIGPIO_SIM_FAIL_WAVE_TX_SEND", errorCode, "pigpioSimFailWaveTxSend");
}

PIGPIO_SIM_EXPORT void pigpioSimSignalAfterSend(int signo, uint64_t micros)
{
    planSignal(signo > 0 ? signo : 0, micros);
}

PIGPIO_SIM_EXPORT void pigpioSimSignalHandlers(int install)
{
    wantSignalHandlers(install != 0);
}

PIGPIO_SIM_EXPORT void pigpioSimUseVirtualClock(int on)
{
    useVirtualClock(on != 0, loggedCalls().empty());
}

PIGPIO_SIM_EXPORT uint64_t pigpioSimNowMicros(void)
{
    return nowMicros();
}

PIGPIO_SIM_EXPORT int pigpioSimCallCount(void)
{
    return static_cast<int>(loggedCalls().size());
}

PIGPIO_SIM_EXPORT const char* pigpioSimCall(int index)
{
    const std::deque<std::string>& calls = loggedCalls();
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
    reset();
}

// After the program's own atexit handlers: what pigpio's atexit handler does, then
// the report of what was left behind, and a note that a send was only simulated.
__attribute__((destructor)) static void atExit()
{
    const uint64_t at = nowMicros();
    const bool initialised = state().initialised;
    const bool cutOff = initialised && sending(at);
    if (initialised) {
        terminate(at);
        writeVcd(at);
    }
    reportAtExit(at, initialised, cutOff);
    if (state().waveSent && control("PIGPIO_SIM_VCD").text.empty() &&
        control("PIGPIO_SIM_LOG").text.empty()) {
        noteSimulatedSend();
    }
}
