// beamones: sends a fixed test code of thirty-two '1' bits once as an NEC
// infrared frame on GPIO 24, to check the wiring and the receiver.  The exit
// status is 0 only when the frame was sent.
#include <cstdint>
#include <cstdio>

#include "transmitter.h"

int main()
{
    constexpr const char* allOnes = "11111111111111111111111111111111";

    using namespace necFrame;
    const int32_t status =
        emitCode(gpioPin, carrierHz, dutyCycle, leadBurstUs, leadGapUs, oneBurstUs, zeroBurstUs,
                 oneGapUs, zeroGapUs, trailBurst, allOnes);
    std::puts("Sent ones \n");
    return status;
}
