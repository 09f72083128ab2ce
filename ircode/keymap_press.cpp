// What "ir-ctl -k KEYMAP -K KEY" sends: a kernel protocol's scancode through the
// kernel's encoder (ir-ctl's -S path), a raw entry's durations, or a BPF decoder's
// scancode through v4l-utils' user-space encoders with the table's parameters.
#include "protocols.h"
#include "sources.h"
#include "text.h"

#include <string>
#include <vector>

namespace {

// A keymap leaves the carrier out (none of Debian's BPF keymaps gives one), and ir-ctl
// then asks for carrier 0, which gpio-ir-tx sends unmodulated: no receiver would see it.
// The file describes a remote, and remotes modulate; 38000 Hz is gpio-ir-tx's own
// default and the commonest carrier, so it stands in for the one the file leaves out.
constexpr std::int32_t unnamedCarrierHz = 38000;
// Between two sends of one ir-ctl command (its -g default), which is what a held key
// becomes when it is sent again.
constexpr std::uint32_t irCtlGapUs = 125000;

struct Parameters {
    const std::vector<std::pair<std::string, std::string>>* given;
};

// The table's value of a parameter, or its decoder's default; -1 where the file's
// value is no number.
int parameter(const Parameters& p, const char* key, std::uint32_t fallback, std::uint32_t* value,
              std::string* error)
{
    *value = fallback;
    for (const auto& each : *p.given) {
        if (each.first != key)
            continue;
        std::uint64_t number = 0;
        if (parseUnsigned(each.second, 0, 0xFFFFFE, &number) != 0) {
            *error = std::string("keymap parameter ") + key + " = " + each.second +
                     ": not a whole number of microseconds";
            return -1;
        }
        *value = static_cast<std::uint32_t>(number);
    }
    return 0;
}

struct Named {
    const char* key;
    std::uint32_t fallback;
};

// Several parameters at once, in the order named; the defaults are bpf_encoder.c's.
int parameters(const Parameters& p, const std::vector<Named>& names,
               std::vector<std::uint32_t>* values, std::string* error)
{
    values->assign(names.size(), 0);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (parameter(p, names[i].key, names[i].fallback, &(*values)[i], error) != 0)
            return -1;
        if (std::string(names[i].key) == "bits" && ((*values)[i] == 0 || (*values)[i] > 64)) {
            *error = "keymap parameter bits = " + std::to_string((*values)[i]) +
                     ": a scancode has 1 to 64 bits";
            return -1;
        }
    }
    return 0;
}

// A frame ends at its last pulse: a space after it is the gap before the next.
void dropTrailingSpace(std::vector<std::uint32_t>* out)
{
    if (!out->empty() && out->size() % 2 == 0)
        out->pop_back();
}

bool bitAt(std::uint64_t scancode, std::uint32_t bits, std::uint32_t i, bool lsbFirst)
{
    const std::uint32_t place = lsbFirst ? i : bits - 1 - i;
    return ((scancode >> place) & 1) != 0;
}

int pulseDistance(const Parameters& p, std::uint64_t scancode, std::vector<std::uint32_t>* out,
                  std::string* error)
{
    std::vector<std::uint32_t> v;
    if (parameters(p,
                   {{"header_pulse", 2125},
                    {"header_space", 1875},
                    {"bits", 4},
                    {"bit_pulse", 625},
                    {"bit_0_space", 375},
                    {"bit_1_space", 1625},
                    {"trailer_pulse", 625},
                    {"reverse", 0}},
                   &v, error) != 0)
        return -1;
    appendDuration(out, true, v[0]);
    appendDuration(out, false, v[1]);
    for (std::uint32_t i = 0; i < v[2]; ++i) {
        appendDuration(out, true, v[3]);
        appendDuration(out, false, bitAt(scancode, v[2], i, v[7] != 0) ? v[5] : v[4]);
    }
    appendDuration(out, true, v[6]);
    return 0;
}

// As v4l-utils 1.28 sends it: 1.22.1 read bit_space for the bit's pulse and the bit
// pulses for the space (and kept the last space), which no decoder of the same table
// would take for the key.
int pulseLength(const Parameters& p, std::uint64_t scancode, std::vector<std::uint32_t>* out,
                std::string* error)
{
    std::vector<std::uint32_t> v;
    if (parameters(p,
                   {{"header_pulse", 2125},
                    {"header_space", 1875},
                    {"bits", 4},
                    {"bit_0_pulse", 375},
                    {"bit_1_pulse", 1625},
                    {"bit_space", 625},
                    {"reverse", 0}},
                   &v, error) != 0)
        return -1;
    appendDuration(out, true, v[0]);
    appendDuration(out, false, v[1]);
    for (std::uint32_t i = 0; i < v[2]; ++i) {
        appendDuration(out, true, bitAt(scancode, v[2], i, v[6] != 0) ? v[4] : v[3]);
        appendDuration(out, false, v[5]);
    }
    dropTrailingSpace(out);
    return 0;
}

// The header as 1.28 sends it (1.22.1 dropped it, and summed its first duration into
// a slot it never cleared).
int manchester(const Parameters& p, std::uint64_t scancode, std::vector<std::uint32_t>* out,
               std::string* error)
{
    std::vector<std::uint32_t> v;
    if (parameters(p,
                   {{"header_pulse", 0},
                    {"header_space", 0},
                    {"bits", 14},
                    {"one_pulse", 888},
                    {"one_space", 888},
                    {"zero_pulse", 888},
                    {"zero_space", 888}},
                   &v, error) != 0)
        return -1;
    appendDuration(out, true, v[0]);
    appendDuration(out, false, v[1]);
    for (std::uint32_t i = 0; i < v[2]; ++i) {
        const bool one = bitAt(scancode, v[2], i, false);
        appendDuration(out, one, one ? v[3] : v[6]);
        appendDuration(out, !one, one ? v[4] : v[5]);
    }
    dropTrailingSpace(out);
    return 0;
}

// v4l-utils' encoder: 12 bits, then their complement, most significant first; a 1 is
// the short space (measured with ir-ctl: 0xa0b starts 550 900 550 1900).
int xboxDvd(const Parameters& /*p*/, std::uint64_t scancode, std::vector<std::uint32_t>* out,
            std::string* /*error*/)
{
    const std::uint64_t data = (scancode & 0xfff) << 12 | (~scancode & 0xfff);
    appendDuration(out, true, 4000);
    appendDuration(out, false, 3900);
    for (std::uint32_t i = 0; i < 24; ++i) {
        appendDuration(out, true, 550);
        appendDuration(out, false, bitAt(data, 24, i, false) ? 900 : 1900);
    }
    appendDuration(out, true, 550);
    return 0;
}

using UserEncoder = int (*)(const Parameters& p, std::uint64_t scancode,
                            std::vector<std::uint32_t>* out, std::string* error);

struct UserProtocol {
    const char* name;
    UserEncoder encode;
    std::int32_t carrierHz; // 0: the table's carrier parameter
};

const UserProtocol userProtocols[] = {
    {"pulse_distance", pulseDistance, 0},
    {"pulse_length", pulseLength, 0},
    {"manchester", manchester, 0},
    {"xbox_dvd", xboxDvd, 38000},
};

// The names ir-ctl knows but cannot send, with why.
const char* unsendable(const std::string& squeezedName)
{
    if (squeezedName == "samsung36" || squeezedName == "rcmm" || squeezedName == "grundig" ||
        squeezedName == "imonrsc")
        return "a BPF decoder v4l-utils has no encoder for";
    if (squeezedName == "unknown" || squeezedName == "other" || squeezedName == "cec")
        return "no protocol a sender can encode";
    return nullptr;
}

std::string squeezed(const std::string& name)
{
    std::string out;
    for (const char c : lower(name)) {
        if (c != '-' && c != '_')
            out += c;
    }
    return out;
}

std::int32_t tableCarrier(const Definition& d)
{
    std::uint32_t hz = 0;
    std::string ignored;
    if (parameter(Parameters{&d.parameters}, "carrier", 0, &hz, &ignored) != 0 || hz == 0)
        return d.carrierHz > 0 ? d.carrierHz : unnamedCarrierHz;
    return static_cast<std::int32_t>(hz);
}

// The frame once, then again after ir-ctl's gap for each repeat.
int sendRepeated(const std::vector<std::uint32_t>& frame, const PressRequest& r,
                 std::int32_t carrierHz, Press* press, std::string* error)
{
    if (r.repeats < 0) {
        *error = "a repeat count cannot be negative: " + std::to_string(r.repeats);
        return -1;
    }
    std::uint64_t frameUs = 0;
    for (const std::uint32_t us : frame)
        frameUs += us;
    const auto copies = static_cast<std::uint64_t>(r.repeats) + 1;
    const std::uint64_t count = copies * frame.size() + copies - 1;
    const std::uint64_t totalUs = copies * frameUs + (copies - 1) * irCtlGapUs;
    if (frame.empty() || frame.size() % 2 == 0 || count > maxPressDurations ||
        totalUs > maxPressUs) {
        *error = "the keymap's key makes no press of at most " + std::to_string(maxPressDurations) +
                 " durations and " + std::to_string(maxPressUs / 1000000) + " s";
        return -1;
    }
    press->durations.clear();
    for (std::uint64_t i = 0; i < copies; ++i) {
        if (i > 0)
            appendDuration(&press->durations, false, irCtlGapUs);
        press->durations.insert(press->durations.end(), frame.begin(), frame.end());
    }
    press->carrierHz = carrierHz;
    press->dutyCycle = 0.5; // ir-ctl sets no duty without -D: gpio-ir-tx's 50 %
    press->frames = static_cast<int>(copies);
    press->toggle = -1;
    return 0;
}

// ir-ctl hands a keymap's scancode over as written: each encoder takes the bits its
// layout has (0xef12bc43 as nec sends 0xbc43's frame; an MCE scancode's bit 15 is its
// toggle, sent as written).  A scancode the kernel refuses (a necx or nec32 one whose
// checks make it look like a shorter variant) fails the kernel's write, and ir-ctl
// then encodes that very layout itself: the frame is sent all the same.
int kernelKey(const KernelProtocol& protocol, const Definition& d, const PressRequest& r,
              Press* press, std::string* error)
{
    if (d.scancode > 0xFFFFFFFFu) {
        *error =
            "keymap scancode " + hexNumber(d.scancode) + ": the kernel's scancodes are 32 bits";
        return -1;
    }
    const auto scancode = static_cast<std::uint32_t>(d.scancode);
    // The kernel always sends the toggle as 0; a caller may ask for the other value.
    const int toggle = protocol.hasToggle ? (r.toggle >= 0 ? r.toggle & 1 : 0) : -1;
    if (kernelPress(protocol, scancode, toggle < 0 ? 0 : toggle, r.repeats, press, error) != 0)
        return -1;
    press->toggle = toggle;
    return 0;
}

} // namespace

int keymapPress(const Definition& d, const PressRequest& r, Press* press, std::string* error)
{
    if (d.raw)
        return sendRepeated(d.durations, r, tableCarrier(d), press, error);
    if (const KernelProtocol* protocol = findKernelProtocol(d.protocol))
        return kernelKey(*protocol, d, r, press, error);
    const std::string name = squeezed(d.protocol);
    for (const UserProtocol& user : userProtocols) {
        if (squeezed(user.name) != name)
            continue;
        std::vector<std::uint32_t> frame;
        if (user.encode(Parameters{&d.parameters}, d.scancode, &frame, error) != 0)
            return -1;
        const std::int32_t carrierHz = user.carrierHz > 0 ? user.carrierHz : tableCarrier(d);
        return sendRepeated(frame, r, carrierHz, press, error);
    }
    const char* reason = unsendable(name);
    *error = "keymap protocol " + d.protocol + ": " +
             (reason != nullptr ? reason : "not one ir-ctl can send");
    return -1;
}
