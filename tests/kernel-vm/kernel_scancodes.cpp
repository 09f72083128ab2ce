// kernel_scancodes: the scancodes the kernel-VM stage has the kernel's own encoders
// send (scripts/test-kernel-vm.sh), and the judge of what they sent, held against
// ircode's encoders, the ones `beam -S` sends with.
//
//   kernel_scancodes cases SEED [ABSENT...]
//       One line per case, "KIND NAME PROTO SCANCODE", for every protocol of
//       ircode's kernel table but the ABSENT ones (those whose encoder the kernel
//       lacks): its edge scancodes and three drawn from SEED.  KIND
//       is what parseKernelScancode makes of it: send (taken), refuse (refused, as
//       the kernel must too: above 32 bits, or what rc_validate_scancode refuses)
//       or outside (bits outside the protocol's mask, which 6.1 does not check).
//   kernel_scancodes check CASES SENT [ABSENT...]
//       Reads lirc_reader's SENT lines (lirc_reader scancodes) for the lines of
//       CASES and says where the kernel and ircode differ; exits 1 if they do.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <linux/lirc.h>

#include "protocols.h"

namespace {

struct ProtocolNumber {
    const char* name;
    unsigned number;
};

// enum rc_proto, by the names ircode's table uses.
const ProtocolNumber protocolNumbers[] = {
    {"rc5", RC_PROTO_RC5},
    {"rc5x_20", RC_PROTO_RC5X_20},
    {"rc5_sz", RC_PROTO_RC5_SZ},
    {"jvc", RC_PROTO_JVC},
    {"sony12", RC_PROTO_SONY12},
    {"sony15", RC_PROTO_SONY15},
    {"sony20", RC_PROTO_SONY20},
    {"nec", RC_PROTO_NEC},
    {"necx", RC_PROTO_NECX},
    {"nec32", RC_PROTO_NEC32},
    {"sanyo", RC_PROTO_SANYO},
    {"mcir2-kbd", RC_PROTO_MCIR2_KBD},
    {"mcir2-mse", RC_PROTO_MCIR2_MSE},
    {"rc6_0", RC_PROTO_RC6_0},
    {"rc6_6a_20", RC_PROTO_RC6_6A_20},
    {"rc6_6a_24", RC_PROTO_RC6_6A_24},
    {"rc6_6a_32", RC_PROTO_RC6_6A_32},
    {"rc6_mce", RC_PROTO_RC6_MCE},
    {"sharp", RC_PROTO_SHARP},
    {"imon", RC_PROTO_IMON},
    {"rc-mm-12", RC_PROTO_RCMM12},
    {"rc-mm-24", RC_PROTO_RCMM24},
    {"rc-mm-32", RC_PROTO_RCMM32},
};

// Scancodes that no rule over the mask finds: MCE's 0x800f prefix, its toggle
// place (bit 15, outside the mask) and the prefix rc6_6a_32 must not have; and
// the NEC variants' scancodes that rc_validate_scancode gives to another variant.
struct Extra {
    const char* name;
    std::vector<std::uint64_t> scancodes;
};

const Extra extras[] = {
    {"necx", {0xff00}},
    {"nec32", {0xff, 0x800f0000}},
    {"rc6_6a_32", {0x800f0000, 0x800e7fff}},
    {"rc6_mce", {0x800f0000, 0x800f7fff, 0x800f4000, 0x800f8000}},
};

int protocolNumber(const std::string& name)
{
    for (const ProtocolNumber& each : protocolNumbers) {
        if (name == each.name) {
            return static_cast<int>(each.number);
        }
    }
    return -1;
}

std::string hex(std::uint64_t value)
{
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%" PRIx64, value);
    return text;
}

bool parses(const KernelProtocol& protocol, std::uint64_t scancode)
{
    const KernelProtocol* found = nullptr;
    std::uint32_t value = 0;
    std::string error;
    return parseKernelScancode(std::string(protocol.name) + ":" + hex(scancode), &found, &value,
                               &error) == 0;
}

// 0, the mask, alternate bits, the lowest and highest bit of each field (each run
// of the mask's bits: rc5x_20's six-bit fields, RC5's seventh command bit), the
// lowest bit outside the mask and one above 32 bits.
std::vector<std::uint64_t> edges(const KernelProtocol& protocol)
{
    const std::uint32_t mask = protocol.scancodeMask;
    std::vector<std::uint64_t> values = {0, mask, 0x55555555u & mask, 0xaaaaaaaau & mask};
    for (std::uint32_t place = 0; place < 32; ++place) {
        const std::uint32_t bit = 1u << place;
        const bool below = place > 0 && (mask & bit >> 1) != 0;
        const bool above = place < 31 && (mask & bit << 1) != 0;
        if ((mask & bit) != 0 && (!below || !above)) {
            values.push_back(bit);
        }
    }
    if (mask != 0xffffffff) {
        values.push_back(~mask & (0 - ~mask));
    }
    values.push_back(std::uint64_t{1} << 32);
    for (const Extra& extra : extras) {
        if (std::strcmp(extra.name, protocol.name) == 0) {
            values.insert(values.end(), extra.scancodes.begin(), extra.scancodes.end());
        }
    }
    return values;
}

// A scancode ircode takes, drawn within the mask; where the draw is refused (an
// MCE scancode needs its prefix, a NEC variant's may be another's), its low half
// under MCE's prefix is tried.
int drawn(const KernelProtocol& protocol, std::mt19937& random, std::uint64_t* scancode)
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::uint32_t value = static_cast<std::uint32_t>(random()) & protocol.scancodeMask;
        for (const std::uint32_t each :
             {value, ((value & 0xffff) | 0x800f0000) & protocol.scancodeMask}) {
            if (parses(protocol, each)) {
                *scancode = each;
                return 0;
            }
        }
    }
    return -1;
}

const char* kindOf(const KernelProtocol& protocol, std::uint64_t scancode)
{
    if (parses(protocol, scancode)) {
        return "send";
    }
    const bool inside =
        scancode <= 0xffffffff && (scancode & ~std::uint64_t{protocol.scancodeMask}) == 0;
    return scancode > 0xffffffff || inside ? "refuse" : "outside";
}

bool absent(const char* name, char** absentNames)
{
    for (char** each = absentNames; *each != nullptr; ++each) {
        if (std::strcmp(name, *each) == 0) {
            return true;
        }
    }
    return false;
}

int cases(unsigned seed, char** absentNames)
{
    std::mt19937 random(seed);
    std::size_t count = 0;
    const KernelProtocol* table = kernelProtocols(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const KernelProtocol& protocol = table[i];
        if (absent(protocol.name, absentNames)) {
            continue;
        }
        const int number = protocolNumber(protocol.name);
        if (number < 0) {
            (void)std::fprintf(stderr, "kernel_scancodes: no rc_proto for %s\n", protocol.name);
            return 1;
        }
        std::vector<std::uint64_t> values = edges(protocol);
        for (int draw = 0; draw < 3; ++draw) {
            std::uint64_t value = 0;
            if (drawn(protocol, random, &value) == 0) {
                values.push_back(value);
            }
        }
        std::vector<std::uint64_t> seen;
        for (const std::uint64_t value : values) {
            bool again = false;
            for (const std::uint64_t before : seen) {
                again = again || before == value;
            }
            if (!again) {
                seen.push_back(value);
                std::printf("%s %s %d %s\n", kindOf(protocol, value), protocol.name, number,
                            hex(value).c_str());
            }
        }
    }
    return 0;
}

std::string expectedFrame(const KernelProtocol& protocol, std::uint32_t scancode, int toggle)
{
    Press press;
    std::string error;
    if (kernelPress(protocol, scancode, toggle, 0, &press, &error) != 0) {
        return "error " + error;
    }
    std::string line = "carrier " + std::to_string(press.carrierHz) + " durations";
    for (const std::uint32_t us : press.durations) {
        line += " " + std::to_string(us);
    }
    return line;
}

std::vector<std::string> linesOf(const char* path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

struct Tally {
    int matched = 0;
    int differed = 0;
    std::string carrier;
};

// What the kernel sent for a scancode with bits outside the mask, for the record:
// the frame ircode sends for the scancode within the mask, with the toggle bit 0
// or 1, or one of its own.
std::string outsideNote(const KernelProtocol& protocol, std::uint64_t scancode,
                        const std::string& got)
{
    if (got.compare(0, 7, "refused") == 0) {
        return "the kernel refuses it too";
    }
    const std::uint32_t within = static_cast<std::uint32_t>(scancode) & protocol.scancodeMask;
    for (const int toggle : {0, 1}) {
        if (got == expectedFrame(protocol, within, toggle)) {
            return "the kernel sent " + hex(within) + "'s frame" +
                   (toggle == 1 ? " with the toggle bit set" : "");
        }
    }
    return "the kernel sent a frame ircode has no scancode for";
}

struct Judged {
    std::map<std::string, Tally> tallies;
    int failures = 0;
    int refused = 0;
    int outside = 0;
};

// One case of CASES against the VM's answer for it.
void judge(const std::string& line, const std::string& got, Judged& judged)
{
    std::istringstream words(line);
    std::string kind;
    std::string name;
    int number = 0;
    std::string text;
    words >> kind >> name >> number >> text;
    const KernelProtocol* protocol = findKernelProtocol(name);
    const std::uint64_t scancode = std::strtoull(text.c_str(), nullptr, 0);
    if (protocol == nullptr || got.empty()) {
        std::printf("  %s %s: nothing from the VM\n", name.c_str(), text.c_str());
        ++judged.failures;
    } else if (kind == "send") {
        const std::string want = expectedFrame(*protocol, static_cast<std::uint32_t>(scancode), 0);
        Tally& tally = judged.tallies[name];
        const bool same = got == want;
        tally.matched += same ? 1 : 0;
        tally.differed += same ? 0 : 1;
        judged.failures += same ? 0 : 1;
        if (same) {
            tally.carrier = got.substr(8, got.find(' ', 8) - 8);
        } else {
            std::printf("  %s %s differs:\n    expected %s\n    got      %s\n", name.c_str(),
                        text.c_str(), want.c_str(), got.c_str());
        }
    } else if (kind == "refuse") {
        ++judged.refused;
        if (got != "refused EINVAL" || parses(*protocol, scancode)) {
            ++judged.failures;
            std::printf("  %s %s: ircode refuses it, the kernel: %s\n", name.c_str(), text.c_str(),
                        got.c_str());
        }
    } else {
        ++judged.outside;
        std::printf("  %s %s, outside %s: ircode refuses it; %s\n", name.c_str(), text.c_str(),
                    hex(protocol->scancodeMask).c_str(),
                    outsideNote(*protocol, scancode, got).c_str());
    }
}

int check(const char* casesPath, const char* sentPath, char** absentNames)
{
    std::map<std::string, std::string> sent;
    for (const std::string& line : linesOf(sentPath)) {
        const std::size_t bar = line.find(" | ");
        if (line.compare(0, 5, "SENT ") == 0 && bar != std::string::npos) {
            sent[line.substr(5, bar - 5)] = line.substr(bar + 3);
        }
    }
    Judged judged;
    for (const std::string& line : linesOf(casesPath)) {
        judge(line, sent[line], judged);
    }
    std::string summary;
    int matched = 0;
    std::size_t count = 0;
    const KernelProtocol* table = kernelProtocols(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string separator = i == 0 ? "" : ", ";
        if (absent(table[i].name, absentNames)) {
            summary += separator + table[i].name + " not in this kernel";
            continue;
        }
        const Tally& tally = judged.tallies[table[i].name];
        matched += tally.matched;
        // A protocol none of whose frames matched was not checked at all.
        judged.failures += tally.matched == 0 ? 1 : 0;
        summary += separator + table[i].name + " " + std::to_string(tally.matched) +
                   (tally.differed == 0 ? "" : " (" + std::to_string(tally.differed) + " differ)") +
                   (tally.carrier.empty() ? "" : " " + tally.carrier + " Hz");
    }
    std::printf("encoders: %d scancodes sent as ircode sends them (%s); %d refused by both, %d "
                "outside the mask\n",
                matched, summary.c_str(), judged.refused, judged.outside);
    return judged.failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "cases" && argc >= 3) {
        return cases(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)), argv + 3);
    }
    if (mode == "check" && argc >= 4) {
        return check(argv[2], argv[3], argv + 4);
    }
    (void)std::fprintf(stderr, "usage: kernel_scancodes cases SEED [ABSENT...]\n"
                               "       kernel_scancodes check CASES SENT [ABSENT...]\n");
    return 2;
}
