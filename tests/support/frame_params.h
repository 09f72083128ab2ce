// Every parameter of emitCode but the code, beamfile's NEC frame unless a test
// changes one, so tests can send frames slightly off that timing.
#ifndef BEAM_TESTS_FRAME_PARAMS_H
#define BEAM_TESTS_FRAME_PARAMS_H

#include "transmitter.h"

struct FrameParams {
    uint32_t gpioPin = necFrame::gpioPin;
    int32_t carrierHz = necFrame::carrierHz;
    double dutyCycle = necFrame::dutyCycle;
    int32_t leadBurstUs = necFrame::leadBurstUs;
    int32_t leadGapUs = necFrame::leadGapUs;
    int32_t oneBurstUs = necFrame::oneBurstUs;
    int32_t zeroBurstUs = necFrame::zeroBurstUs;
    int32_t oneGapUs = necFrame::oneGapUs;
    int32_t zeroGapUs = necFrame::zeroGapUs;
    int32_t trailBurst = necFrame::trailBurst;
};

inline int32_t emitFrame(const FrameParams& f, const char* code)
{
    return emitCode(f.gpioPin, f.carrierHz, f.dutyCycle, f.leadBurstUs, f.leadGapUs, f.oneBurstUs,
                    f.zeroBurstUs, f.oneGapUs, f.zeroGapUs, f.trailBurst, code);
}

#endif
