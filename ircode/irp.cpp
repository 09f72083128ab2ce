// irdb's rows as IrpTransmogrifier renders them: each protocol's IRP (from
// IrpProtocols.xml) written out as a few calls, one
// press being its count 1 (the intro once, or the repeat once where the intro is
// empty) and each repeat one more repeat sequence.
//
// Durations are doubles in microseconds, summed where marks or spaces meet, and
// rounded to the nearest whole microsecond (halves up) only once each duration is
// complete: 3 x 564 stays 1692, and 2.6 x 289 = 751.4 becomes 751.  An extent (^108m)
// is measured from the start of the sequence or the previous extent, and pads the
// space before it so that the stretch lasts exactly that long.
#include "protocols.h"
#include "sources.h"
#include "text.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// IrpTransmogrifier's duty cycle where an IRP writes none
// (ModulatedIrSequence.getDutyCycleWithDefault).
constexpr double defaultDutyCycle = 0.4;

struct Fields {
    std::uint64_t D = 0;
    std::uint64_t S = 0;
    std::uint64_t F = 0;
    std::uint64_t T = 0;
};

// A bit's durations in units, as an IRP writes them between < and >: positive a mark,
// negative a space.
struct BitForm {
    double zero[2];
    double one[2];
};

struct Sequence {
    double unitUs;
    BitForm bits;
    bool msbFirst;
    std::vector<double> durations; // signed microseconds, alternating once merged
    double sinceExtentUs = 0;
    int status = 0;
};

void duration(Sequence* q, double us)
{
    if (us == 0)
        return;
    q->sinceExtentUs += std::fabs(us);
    if (q->durations.empty() && us < 0)
        return; // silence before the first mark belongs to no signal
    if (!q->durations.empty() && (q->durations.back() < 0) == (us < 0))
        q->durations.back() += us;
    else
        q->durations.push_back(us);
}

// Durations in units, as the IRP's bare numbers are.
void units(Sequence* q, std::initializer_list<double> list)
{
    for (const double u : list)
        duration(q, u * q->unitUs);
}

// width bits of value, the protocol's order; a negative width (F:-6) the other order.
void bitsWith(Sequence* q, const BitForm& form, std::uint64_t value, int width)
{
    const bool msb = width < 0 ? !q->msbFirst : q->msbFirst;
    const int n = width < 0 ? -width : width;
    for (int i = 0; i < n; ++i) {
        const int place = msb ? n - 1 - i : i;
        const double* bit = ((value >> place) & 1) != 0 ? form.one : form.zero;
        duration(q, bit[0] * q->unitUs);
        duration(q, bit[1] * q->unitUs);
    }
}

void bits(Sequence* q, std::uint64_t value, int width)
{
    bitsWith(q, q->bits, value, width);
}

void extent(Sequence* q, double us)
{
    if (q->sinceExtentUs > us)
        q->status = -1; // the stretch outlasts its extent: IrpTransmogrifier refuses it too
    else
        duration(q, -(us - q->sinceExtentUs));
    q->sinceExtentUs = 0;
}

void ms(Sequence* q, double milliseconds)
{
    duration(q, milliseconds * 1000);
}

std::uint64_t inverse(std::uint64_t value)
{
    return ~value;
}

using Writer = void (*)(Sequence* q, const Fields& f);

// ---- The IRPs.  Each function's comment is its IRP as IrpProtocols.xml gives it. ----

// NEC1 (and NEC, NEC1-f16 with F:8,E:8, E = 255-F): {38.4k,564}<1,-1|1,-3>
// (16,-8,D:8,S:8,F:8,~F:8,1,^108m,(16,-4,1,^108m)*)
void necFrame(Sequence* q, const Fields& f)
{
    units(q, {16, -8});
    bits(q, f.D, 8);
    bits(q, f.S, 8);
    bits(q, f.F, 8);
    bits(q, inverse(f.F), 8);
    units(q, {1});
    extent(q, 108000);
}

void necDitto(Sequence* q, const Fields& /*f*/)
{
    units(q, {16, -4, 1});
    extent(q, 108000);
}

// NECx1: (8,-8,D:8,S:8,F:8,~F:8,1,^108m,(8,-8,~D:1,1,^108m)*); NECx2 repeats the frame.
void necxFrame(Sequence* q, const Fields& f)
{
    units(q, {8, -8});
    bits(q, f.D, 8);
    bits(q, f.S, 8);
    bits(q, f.F, 8);
    bits(q, inverse(f.F), 8);
    units(q, {1});
    extent(q, 108000);
}

void necxDitto(Sequence* q, const Fields& f)
{
    units(q, {8, -8});
    bits(q, inverse(f.D), 1);
    units(q, {1});
    extent(q, 108000);
}

// Aiwa: {38.123k,550}<1,-1|1,-3>(16,-8,D:8,S:5,~D:8,~S:5,F:8,~F:8,1,-42,(16,-8,1,-165)*)
void aiwaFrame(Sequence* q, const Fields& f)
{
    units(q, {16, -8});
    bits(q, f.D, 8);
    bits(q, f.S, 5);
    bits(q, inverse(f.D), 8);
    bits(q, inverse(f.S), 5);
    bits(q, f.F, 8);
    bits(q, inverse(f.F), 8);
    units(q, {1, -42});
}

void aiwaDitto(Sequence* q, const Fields& /*f*/)
{
    units(q, {16, -8, 1, -165});
}

// Samsung20: {38.4k,564}<1,-1|1,-3>(8,-8,D:6,S:6,F:8,1,^100m)*
void samsung20(Sequence* q, const Fields& f)
{
    units(q, {8, -8});
    bits(q, f.D, 6);
    bits(q, f.S, 6);
    bits(q, f.F, 8);
    units(q, {1});
    extent(q, 100000);
}

// Sony12/15/20: {40k,600}<1,-1|2,-1>(4,-1,F:7,D:5,^45m)*, D:8, or D:5,S:8
void sony12(Sequence* q, const Fields& f)
{
    units(q, {4, -1});
    bits(q, f.F, 7);
    bits(q, f.D, 5);
    extent(q, 45000);
}

void sony15(Sequence* q, const Fields& f)
{
    units(q, {4, -1});
    bits(q, f.F, 7);
    bits(q, f.D, 8);
    extent(q, 45000);
}

void sony20(Sequence* q, const Fields& f)
{
    units(q, {4, -1});
    bits(q, f.F, 7);
    bits(q, f.D, 5);
    bits(q, f.S, 8);
    extent(q, 45000);
}

// RC5: {36k,msb,889}<1,-1|-1,1>(1,~F:1:6,T:1,D:5,F:6,^114m)*
void rc5(Sequence* q, const Fields& f)
{
    units(q, {1});
    bits(q, inverse(f.F >> 6), 1);
    bits(q, f.T, 1);
    bits(q, f.D, 5);
    bits(q, f.F, 6);
    extent(q, 114000);
}

// RC5x: (1,~S:1:6,T:1,D:5,-4,S:6,F:6,^114m)*
void rc5x(Sequence* q, const Fields& f)
{
    units(q, {1});
    bits(q, inverse(f.S >> 6), 1);
    bits(q, f.T, 1);
    bits(q, f.D, 5);
    units(q, {-4});
    bits(q, f.S, 6);
    bits(q, f.F, 6);
    extent(q, 114000);
}

// RC6: {36k,444,msb}<-1,1|1,-1>(6,-2,1:1,0:3,<-2,2|2,-2>(T:1),D:8,F:8,^107m)*
void rc6(Sequence* q, const Fields& f)
{
    units(q, {6, -2});
    bits(q, 1, 1);
    bits(q, 0, 3);
    bitsWith(q, BitForm{{-2, 2}, {2, -2}}, f.T, 1);
    bits(q, f.D, 8);
    bits(q, f.F, 8);
    extent(q, 107000);
}

// MCE: (6,-2,1:1,6:3,-2,2,OEM1:8,S:8,T:1,D:7,F:8,^107m)* {OEM1=128}
void mce(Sequence* q, const Fields& f)
{
    units(q, {6, -2});
    bits(q, 1, 1);
    bits(q, 6, 3);
    units(q, {-2, 2});
    bits(q, 128, 8);
    bits(q, f.S, 8);
    bits(q, f.T, 1);
    bits(q, f.D, 7);
    bits(q, f.F, 8);
    extent(q, 107000);
}

// JVC: {37.9k,527,33%}<1,-1|1,-3>: intro 16,-8,D:8,F:8,1,^59.08m; repeat
// D:8,F:8,1,^46.42m (the headless frame)
void jvcFrame(Sequence* q, const Fields& f)
{
    units(q, {16, -8});
    bits(q, f.D, 8);
    bits(q, f.F, 8);
    units(q, {1});
    extent(q, 59080);
}

void jvcRepeat(Sequence* q, const Fields& f)
{
    bits(q, f.D, 8);
    bits(q, f.F, 8);
    units(q, {1});
    extent(q, 46420);
}

// Panasonic: {37k,432}<1,-1|1,-3>(8,-4,2:8,32:8,D:8,S:8,F:8,(D^S^F):8,1,-173)*
void panasonic(Sequence* q, const Fields& f)
{
    units(q, {8, -4});
    bits(q, 2, 8);
    bits(q, 32, 8);
    bits(q, f.D, 8);
    bits(q, f.S, 8);
    bits(q, f.F, 8);
    bits(q, f.D ^ f.S ^ f.F, 8);
    units(q, {1, -173});
}

// JVC-48: as Panasonic with 3:8,1:8 for its vendor bytes
void jvc48(Sequence* q, const Fields& f)
{
    units(q, {8, -4});
    bits(q, 3, 8);
    bits(q, 1, 8);
    bits(q, f.D, 8);
    bits(q, f.S, 8);
    bits(q, f.F, 8);
    bits(q, f.D ^ f.S ^ f.F, 8);
    units(q, {1, -173});
}

// Sharp: {38k,264}<1,-3|1,-7>(D:5,F:8,1:2,1,^67m,(D:5,~F:8,2:2,1,^67m,D:5,F:8,1:2,1,^67m)*)
// Denon: the same with 0:2 and 3:2.  The intro is the first half alone.
void sharpHalf(Sequence* q, std::uint64_t d, std::uint64_t f, std::uint64_t ext)
{
    bits(q, d, 5);
    bits(q, f, 8);
    bits(q, ext, 2);
    units(q, {1});
    extent(q, 67000);
}

void sharpFirst(Sequence* q, const Fields& f)
{
    sharpHalf(q, f.D, f.F, 1);
}

void sharpRepeat(Sequence* q, const Fields& f)
{
    sharpHalf(q, f.D, inverse(f.F), 2);
    sharpHalf(q, f.D, f.F, 1);
}

void denonFirst(Sequence* q, const Fields& f)
{
    sharpHalf(q, f.D, f.F, 0);
}

void denonRepeat(Sequence* q, const Fields& f)
{
    sharpHalf(q, f.D, inverse(f.F), 3);
    sharpHalf(q, f.D, f.F, 0);
}

// RCA: {58k,460,msb}<1,-2|1,-4>(8,-8,D:4,F:8,~D:4,~F:8,1,-16)*; RCA-38 at 38.7k
void rca(Sequence* q, const Fields& f)
{
    units(q, {8, -8});
    bits(q, f.D, 4);
    bits(q, f.F, 8);
    bits(q, inverse(f.D), 4);
    bits(q, inverse(f.F), 8);
    units(q, {1, -16});
}

// Mitsubishi: {32.6k,300}<1,-3|1,-7>(D:8,F:8,1,-80)*
void mitsubishi(Sequence* q, const Fields& f)
{
    bits(q, f.D, 8);
    bits(q, f.F, 8);
    units(q, {1, -80});
}

// Proton: {38.5k,500}<1,-1|1,-3>(16,-8,D:8,1,-8,F:8,1,^63m)*
void proton(Sequence* q, const Fields& f)
{
    units(q, {16, -8});
    bits(q, f.D, 8);
    units(q, {1, -8});
    bits(q, f.F, 8);
    units(q, {1});
    extent(q, 63000);
}

// RECS80: {38k,158,msb}<1,-31|1,-47>(1:1,T:1,D:3,F:6,1,-45m)*
void recs80(Sequence* q, const Fields& f)
{
    bits(q, 1, 1);
    bits(q, f.T, 1);
    bits(q, f.D, 3);
    bits(q, f.F, 6);
    units(q, {1});
    ms(q, -45);
}

// G.I.Cable: {38.7k,490}<1,-4.5|1,-9>(18,-9,F:8,D:4,C:4,1,-84,(18,-4.5,1,-178)*)
// {C=-(D+F:4+F:4:4)}
void giCable(Sequence* q, const Fields& f)
{
    const std::uint64_t check = 0 - (f.D + (f.F & 15) + ((f.F >> 4) & 15));
    units(q, {18, -9});
    bits(q, f.F, 8);
    bits(q, f.D, 4);
    bits(q, check, 4);
    units(q, {1, -84});
}

void giCableDitto(Sequence* q, const Fields& /*f*/)
{
    units(q, {18, -4.5, 1, -178});
}

// Dish_Network: {57.6k,406}<1,-7|1,-4>(1,-15,(F:-6,S:5,D:5,1,-15)+): the intro is the
// lead and one frame, the repeat the frame.
void dishFrame(Sequence* q, const Fields& f)
{
    bits(q, f.F, -6);
    bits(q, f.S, 5);
    bits(q, f.D, 5);
    units(q, {1, -15});
}

void dishFirst(Sequence* q, const Fields& f)
{
    units(q, {1, -15});
    dishFrame(q, f);
}

// Akai: {38k,289}<1,-2.6|1,-6.3>(D:3,F:7,1,^25.3m)*
void akai(Sequence* q, const Fields& f)
{
    bits(q, f.D, 3);
    bits(q, f.F, 7);
    units(q, {1});
    extent(q, 25300);
}

// Panasonic_Old: {57.6k,833}<1,-1|1,-3>(4,-4,D:5,F:6,~D:5,~F:6,1,-44m)*
void panasonicOld(Sequence* q, const Fields& f)
{
    units(q, {4, -4});
    bits(q, f.D, 5);
    bits(q, f.F, 6);
    bits(q, inverse(f.D), 5);
    bits(q, inverse(f.F), 6);
    units(q, {1});
    ms(q, -44);
}

// What a row's subdevice -1 means: the IRP's default, nothing (the IRP has no S), or
// nothing the facts give (the row must carry one).
enum class Subdevice { necDefault, none, required };

constexpr BitForm pulseDistance{{1, -1}, {1, -3}};

struct IrpProtocol {
    const char* name;
    double carrierHz;
    double dutyCycle;
    double unitUs;
    bool msbFirst;
    BitForm bits;
    Writer intro; // nullptr: the press is the repeat once
    Writer repeat;
    std::uint64_t maxD;
    std::uint64_t maxS;
    std::uint64_t maxF;
    Subdevice subdevice;
    bool hasToggle;
};

constexpr double ddc = defaultDutyCycle;

// Names as irdb writes them (IrpTransmogrifier matches them ignoring case).  NEC is
// decode-only in IrpProtocols.xml, sent as NEC1.  NEC1-f16/NEC2-f16 follow the
// definition since 2019-12-06, F:8,E:8 with E = 255-F: before it F:16 put F's high
// byte (0 for irdb's rows, whose F is at most 255) where ~F now goes, so the two
// disagree on byte 4; F above 255 is refused.  Samsung32 is NECx1-f16's other name.
const IrpProtocol irpProtocols[] = {
    {"NEC1", 38400, ddc, 564, false, pulseDistance, necFrame, necDitto, 255, 255, 255,
     Subdevice::necDefault, false},
    {"NEC", 38400, ddc, 564, false, pulseDistance, necFrame, necDitto, 255, 255, 255,
     Subdevice::necDefault, false},
    {"NEC1-f16", 38400, ddc, 564, false, pulseDistance, necFrame, necDitto, 255, 255, 255,
     Subdevice::necDefault, false},
    {"NEC2", 38400, ddc, 564, false, pulseDistance, nullptr, necFrame, 255, 255, 255,
     Subdevice::necDefault, false},
    {"NEC2-f16", 38400, ddc, 564, false, pulseDistance, nullptr, necFrame, 255, 255, 255,
     Subdevice::necDefault, false},
    {"NECx1", 38400, ddc, 564, false, pulseDistance, necxFrame, necxDitto, 255, 255, 255,
     Subdevice::required, false},
    {"NECx1-f16", 38400, ddc, 564, false, pulseDistance, necxFrame, necxDitto, 255, 255, 255,
     Subdevice::required, false},
    {"Samsung32", 38400, ddc, 564, false, pulseDistance, necxFrame, necxDitto, 255, 255, 255,
     Subdevice::required, false},
    {"NECx2", 38400, ddc, 564, false, pulseDistance, nullptr, necxFrame, 255, 255, 255,
     Subdevice::required, false},
    {"Aiwa", 38123, ddc, 550, false, pulseDistance, aiwaFrame, aiwaDitto, 255, 31, 255,
     Subdevice::required, false},
    {"Samsung20", 38400, ddc, 564, false, pulseDistance, nullptr, samsung20, 63, 63, 255,
     Subdevice::required, false},
    {"Sony12",
     40000,
     ddc,
     600,
     false,
     {{1, -1}, {2, -1}},
     nullptr,
     sony12,
     31,
     0,
     127,
     Subdevice::none,
     false},
    {"Sony15",
     40000,
     ddc,
     600,
     false,
     {{1, -1}, {2, -1}},
     nullptr,
     sony15,
     255,
     0,
     127,
     Subdevice::none,
     false},
    {"Sony20",
     40000,
     ddc,
     600,
     false,
     {{1, -1}, {2, -1}},
     nullptr,
     sony20,
     31,
     255,
     127,
     Subdevice::required,
     false},
    {"RC5",
     36000,
     ddc,
     889,
     true,
     {{1, -1}, {-1, 1}},
     nullptr,
     rc5,
     31,
     0,
     127,
     Subdevice::none,
     true},
    {"RC5x",
     36000,
     ddc,
     889,
     true,
     {{1, -1}, {-1, 1}},
     nullptr,
     rc5x,
     31,
     127,
     63,
     Subdevice::required,
     true},
    {"RC6",
     36000,
     ddc,
     444,
     true,
     {{-1, 1}, {1, -1}},
     nullptr,
     rc6,
     255,
     0,
     255,
     Subdevice::none,
     true},
    {"MCE",
     36000,
     ddc,
     444,
     true,
     {{-1, 1}, {1, -1}},
     nullptr,
     mce,
     127,
     255,
     255,
     Subdevice::required,
     true},
    {"JVC", 37900, 0.33, 527, false, pulseDistance, jvcFrame, jvcRepeat, 255, 0, 255,
     Subdevice::none, false},
    {"Panasonic", 37000, ddc, 432, false, pulseDistance, nullptr, panasonic, 255, 255, 255,
     Subdevice::required, false},
    {"JVC-48", 37000, ddc, 432, false, pulseDistance, nullptr, jvc48, 255, 255, 255,
     Subdevice::required, false},
    {"Sharp",
     38000,
     ddc,
     264,
     false,
     {{1, -3}, {1, -7}},
     sharpFirst,
     sharpRepeat,
     31,
     0,
     255,
     Subdevice::none,
     false},
    {"Denon",
     38000,
     ddc,
     264,
     false,
     {{1, -3}, {1, -7}},
     denonFirst,
     denonRepeat,
     31,
     0,
     255,
     Subdevice::none,
     false},
    {"RCA",
     58000,
     ddc,
     460,
     true,
     {{1, -2}, {1, -4}},
     nullptr,
     rca,
     15,
     0,
     255,
     Subdevice::none,
     false},
    {"RCA-38",
     38700,
     ddc,
     460,
     true,
     {{1, -2}, {1, -4}},
     nullptr,
     rca,
     15,
     0,
     255,
     Subdevice::none,
     false},
    {"Mitsubishi",
     32600,
     ddc,
     300,
     false,
     {{1, -3}, {1, -7}},
     nullptr,
     mitsubishi,
     255,
     0,
     255,
     Subdevice::none,
     false},
    {"Proton", 38500, ddc, 500, false, pulseDistance, nullptr, proton, 255, 0, 255, Subdevice::none,
     false},
    {"RECS80",
     38000,
     ddc,
     158,
     true,
     {{1, -31}, {1, -47}},
     nullptr,
     recs80,
     7,
     0,
     63,
     Subdevice::none,
     true},
    {"G.I.Cable",
     38700,
     ddc,
     490,
     false,
     {{1, -4.5}, {1, -9}},
     giCable,
     giCableDitto,
     15,
     0,
     255,
     Subdevice::none,
     false},
    {"Dish_Network",
     57600,
     ddc,
     406,
     false,
     {{1, -7}, {1, -4}},
     dishFirst,
     dishFrame,
     31,
     31,
     63,
     Subdevice::required,
     false},
    {"Akai",
     38000,
     ddc,
     289,
     false,
     {{1, -2.6}, {1, -6.3}},
     nullptr,
     akai,
     7,
     0,
     127,
     Subdevice::none,
     false},
    {"Panasonic_Old", 57600, ddc, 833, false, pulseDistance, nullptr, panasonicOld, 31, 0, 63,
     Subdevice::none, false},
};

const IrpProtocol* findIrp(const std::string& name)
{
    for (const IrpProtocol& p : irpProtocols) {
        if (equalNoCase(p.name, name))
            return &p;
    }
    return nullptr;
}

int fields(const IrpProtocol& p, const Definition& d, const PressRequest& r, Fields* f,
           std::string* error)
{
    f->D = d.address;
    f->F = d.command;
    if (d.subdevice >= 0)
        f->S = static_cast<std::uint64_t>(d.subdevice);
    else if (p.subdevice == Subdevice::necDefault)
        f->S = 255 - (d.address & 255);
    else if (p.subdevice == Subdevice::required) {
        *error = d.protocol + ": the row gives no subdevice, and " + p.name + " needs one";
        return -1;
    }
    if (f->D > p.maxD || f->F > p.maxF || (p.subdevice != Subdevice::none && f->S > p.maxS)) {
        *error = d.protocol + " device " + std::to_string(d.address) + " subdevice " +
                 std::to_string(d.subdevice) + " function " + std::to_string(d.command) +
                 ": beyond its D 0.." + std::to_string(p.maxD) +
                 (p.subdevice != Subdevice::none ? ", S 0.." + std::to_string(p.maxS) : "") +
                 ", F 0.." + std::to_string(p.maxF);
        return -1;
    }
    f->T = r.toggle >= 0 ? static_cast<std::uint64_t>(r.toggle & 1) : r.earlierPresses % 2;
    return 0;
}

int render(const IrpProtocol& p, Writer writer, const Fields& f, std::vector<double>* out)
{
    Sequence q{p.unitUs, p.bits, p.msbFirst, {}, 0, 0};
    writer(&q, f);
    if (q.status != 0)
        return -1;
    for (const double us : q.durations) {
        if (!out->empty() && (out->back() < 0) == (us < 0))
            out->back() += us;
        else
            out->push_back(us);
    }
    return 0;
}

} // namespace

int irdbPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    const IrpProtocol* p = findIrp(d.protocol);
    if (p == nullptr) {
        *error = d.protocol + ": not one beam can send (yet)";
        return -1;
    }
    if (r.repeats < 0) {
        *error = "a repeat count cannot be negative: " + std::to_string(r.repeats);
        return -1;
    }
    Fields f;
    if (fields(*p, d, r, &f, error) != 0)
        return -1;
    std::vector<double> signedUs;
    int status = render(*p, p->intro != nullptr ? p->intro : p->repeat, f, &signedUs);
    for (int i = 0; i < r.repeats && status == 0; ++i) {
        status = render(*p, p->repeat, f, &signedUs);
        double totalUs = 0;
        for (const double us : signedUs)
            totalUs += std::fabs(us);
        if (totalUs > maxPressUs || signedUs.size() > maxPressDurations) {
            *error = std::to_string(r.repeats) + " repeats of " + p->name +
                     " make a press longer than " + std::to_string(maxPressUs / 1000000) +
                     " s or " + std::to_string(maxPressDurations) + " durations";
            return -1;
        }
    }
    if (status != 0) {
        *error = describe(d) + ": a frame outlasts its IRP's extent";
        return -1;
    }
    press->durations.clear();
    for (const double us : signedUs)
        press->durations.push_back(static_cast<std::uint32_t>(std::lround(std::fabs(us))));
    press->carrierHz = static_cast<std::int32_t>(p->carrierHz);
    press->dutyCycle = p->dutyCycle;
    press->frames = 1 + r.repeats;
    press->toggle = p->hasToggle ? static_cast<int>(f.T) : -1;
    return 0;
}
