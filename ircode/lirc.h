// A lircd.conf remote as LIRC's transmitter reads it (lib/config_file.c): every
// parameter that changes what goes on air, and eps and aeps, which only its receiver
// uses but which tell whether LIRC would take beamfile's NEC frame for a key.
// Numbers are kept as written (codes not yet reversed for REVERSE), so that the
// press and the NEC judgement each apply LIRC's rules themselves.
#ifndef IRCODE_LIRC_H
#define IRCODE_LIRC_H

#include <cstdint>
#include <string>

struct LircPair {
    std::uint64_t pulse = 0;
    std::uint64_t space = 0;
};

// How a bit goes on air.  SPACE_FIRST is an encoding of its own to LIRC, space_enc's
// bits space first; a remote that names two is refused (LircRemote::unreadable).
enum class LircEncoding { space, shift, rc6, rcmm, xmp };

struct LircRemote {
    std::string name = "(unnamed)";
    std::string flags; // as written, e.g. "RC5|CONST_LENGTH"
    LircEncoding encoding = LircEncoding::space;
    bool spaceFirst = false;
    bool reverse = false;
    bool constLength = false;
    bool noHeadRep = false;
    bool noFootRep = false;
    bool repeatHeader = false;
    bool rawCodes = false; // its keys are durations (a raw_codes section or the flag)
    // Flags LIRC knows but the press does not send (GOLDSTAR, GRUNDIG, BO, SERIAL)
    // and words it does not know, "|"-separated: the press refuses such a remote.
    std::string otherFlags;
    // Why LIRC would refuse the file where the NEC judgement never looked: a value it
    // cannot read, two encodings, a raw code ending with a space.  The file still reads
    // as it always did, and the press refuses the remote with this.
    std::string unreadable;

    LircPair header, one, zero, two, three, pre, post, foot, repeat;
    std::uint64_t plead = 0;
    std::uint64_t ptrail = 0;
    std::uint64_t bits = 0;
    std::uint64_t preDataBits = 0;
    std::uint64_t preData = 0;
    std::uint64_t postDataBits = 0;
    std::uint64_t postData = 0;
    std::uint64_t gap = 0; // the smaller of gap's two values, which is what LIRC sends
    std::uint64_t repeatGap = 0;
    std::uint64_t minRepeat = 0;
    std::uint64_t toggleBit = 0; // old toggle_bit n (or repeat_bit): a position, 1 = first bit
    std::uint64_t toggleBitMask = 0;
    std::uint64_t toggleMask = 0;
    std::uint64_t rc6Mask = 0;
    std::uint64_t repeatMask = 0;
    std::uint64_t frequency = 0; // 0: not given, LIRC sends 38000
    std::uint64_t dutyCycle = 0; // percent; 0: not given, LIRC sends 50
    std::uint64_t eps = 0;       // none, as LIRC reads a remote without them
    std::uint64_t aeps = 0;
};

#endif
