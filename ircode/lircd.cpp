// lircd.conf, read as LIRC reads it: only a # in the first column starts a comment
// (an indented # is a name), a word starting with # after a line's values ends it,
// numbers are read as C reads them (0x hex, a leading 0 octal), and inside codes only
// "end codes" ends the section, so a key may be called End.
//
// A space-encoded remote's codes can be sent when LIRC, with the remote's own eps and
// aeps, would take beamfile's frame for them: each duration beamfile sends within the
// remote's of the same part.  Raw remotes are judged as the kernel's NEC decoder
// would judge their durations.
#include "codes.h"
#include "lirc.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

namespace {

// What beamfile puts on air: bursts are whole 26 us carrier periods (342 for the
// 9 ms lead, 21 for a bit), gaps as the transmitter's timing gives them.
constexpr std::uint64_t sentLead = 8892;
constexpr std::uint64_t sentLeadGap = 4500;
constexpr std::uint64_t sentBurst = 546;
constexpr std::uint64_t sentOneGap = 1688;
constexpr std::uint64_t sentZeroGap = 562;

struct Key {
    std::string name;
    std::vector<std::uint64_t> codes;
    bool raw = false;                     // from raw_codes
    std::vector<std::uint32_t> durations; // raw_codes' durations
};

// A remote as it is read: its parameters, and its keys once its codes are read.
struct Remote {
    LircRemote lirc;
    std::vector<Key> keys;
};

// LIRC's test of a received duration against the remote's (receive.c's expect).
bool accepts(const LircRemote& r, std::uint64_t expected, std::uint64_t sent)
{
    const std::uint64_t diff = expected > sent ? expected - sent : sent - expected;
    return diff <= expected * r.eps / 100 || diff <= r.aeps;
}

bool acceptsPair(const LircRemote& r, const LircPair& p, std::uint64_t gap)
{
    return accepts(r, p.pulse, sentBurst) && accepts(r, p.space, gap);
}

std::string pairText(const char* what, const LircPair& p)
{
    return std::string(what) + " " + std::to_string(p.pulse) + " " + std::to_string(p.space);
}

std::string tolerance(const LircRemote& r)
{
    return " (eps " + std::to_string(r.eps) + ", aeps " + std::to_string(r.aeps) + ")";
}

std::uint64_t reversed(std::uint64_t value, std::uint64_t bits)
{
    std::uint64_t r = 0;
    for (std::uint64_t i = 0; i < bits; ++i)
        r = (r << 1u) | ((value >> i) & 1u);
    return r;
}

bool fits(std::uint64_t value, std::uint64_t bits)
{
    return bits >= 64 || (value >> bits) == 0;
}

// The digits beamfile must send for LIRC's 1 and 0, or a reason why there are none.
// LIRC tries a one before a zero, so each of beamfile's bits must pass for one of
// them only.
std::string symbols(const LircRemote& r, char* forOne, char* forZero)
{
    const bool oneTakesLong = acceptsPair(r, r.one, sentOneGap);
    const bool oneTakesShort = acceptsPair(r, r.one, sentZeroGap);
    if (oneTakesLong == oneTakesShort)
        return pairText("one", r.one) + ": LIRC would read " + (oneTakesLong ? "both" : "neither") +
               " of beamfile's bits (546 1688, 546 562) as it" + tolerance(r);
    *forOne = oneTakesLong ? '1' : '0';
    *forZero = oneTakesLong ? '0' : '1';
    if (!acceptsPair(r, r.zero, oneTakesLong ? sentZeroGap : sentOneGap))
        return pairText("zero", r.zero) + ": LIRC would not take beamfile's " +
               (oneTakesLong ? "546 562" : "546 1688") + " for it" + tolerance(r);
    return "";
}

// Why none of a space-encoded remote's codes can be sent, or "".
std::string refusal(const LircRemote& r, char* forOne, char* forZero)
{
    const std::string flags = "|" + lower(r.flags) + "|";
    for (const char* encoding : {"rc5", "shift_enc", "rc6", "rcmm", "goldstar", "grundig", "bo",
                                 "serial", "xmp", "space_first", "raw_codes"}) {
        if (flags.find(std::string("|") + encoding + "|") != std::string::npos)
            return "flags " + r.flags + ": not NEC's space encoding";
    }
    const std::uint64_t total = r.preDataBits + r.bits + r.postDataBits;
    if (r.preDataBits > 32 || r.bits > 32 || r.postDataBits > 32 || total != 32)
        return std::to_string(total) +
               " bits in all (pre_data_bits, bits, post_data_bits): NEC has 32";
    if (r.header.pulse == 0 && r.header.space == 0)
        return "no header: NEC's frame starts with 9 ms and 4.5 ms";
    if (!accepts(r, r.header.pulse, sentLead) || !accepts(r, r.header.space, sentLeadGap))
        return pairText("header", r.header) + ": LIRC would not take beamfile's 8892 4500 for it" +
               tolerance(r);
    if (r.plead != 0 || r.pre.pulse != 0 || r.pre.space != 0 || r.post.pulse != 0 ||
        r.post.space != 0 || r.foot.pulse != 0 || r.foot.space != 0)
        return "plead, pre, post or foot: NEC's frame has none";
    if (r.ptrail == 0)
        return "no ptrail: NEC's frame ends with a trailing burst";
    if (!accepts(r, r.ptrail, sentBurst))
        return "ptrail " + std::to_string(r.ptrail) + ": LIRC would not take beamfile's 546" +
               tolerance(r);
    if ((r.toggleBit | r.toggleBitMask | r.toggleMask) != 0)
        return "toggle bits: its code changes from one press to the next";
    if (!fits(r.preData, r.preDataBits) || !fits(r.postData, r.postDataBits))
        return "pre_data or post_data wider than its bits";
    return symbols(r, forOne, forZero);
}

// A key of a space-encoded remote that can be sent: LIRC's bits, pre_data first, each
// part reversed for REVERSE, each bit as beamfile's digit for it.
Signal codedSignal(const LircRemote& r, const Key& k, char forOne, char forZero)
{
    const bool reverse = ("|" + lower(r.flags) + "|").find("|reverse|") != std::string::npos;
    std::uint64_t pre = r.preData;
    std::uint64_t code = k.codes[0];
    std::uint64_t post = r.postData;
    if (reverse) {
        pre = reversed(pre, r.preDataBits);
        code = reversed(code, r.bits);
        post = reversed(post, r.postDataBits);
    }
    const std::uint64_t lirc = pre << (r.bits + r.postDataBits) | code << r.postDataBits | post;
    Signal s;
    s.name = k.name;
    s.sendable = true;
    for (int i = 31; i >= 0; --i) {
        const bool one = ((lirc >> static_cast<unsigned>(i)) & 1u) != 0;
        s.code = s.code << 1u | ((one ? forOne : forZero) == '1' ? 1u : 0u);
    }
    char hex[16];
    (void)std::snprintf(hex, sizeof hex, "0x%08llX", static_cast<unsigned long long>(lirc));
    s.note = "remote " + r.name + ": " + hex;
    if (reverse)
        s.note += " (REVERSE: as sent)";
    if (forOne == '0')
        s.note += " (its one is the short gap)";
    if (k.codes.size() > 1)
        s.note += " (the first of " + std::to_string(k.codes.size()) + " codes LIRC sends in turn)";
    return s;
}

void addSignals(const Remote& read, std::vector<Signal>* signals)
{
    const LircRemote& r = read.lirc;
    char forOne = '1';
    char forZero = '0';
    const std::string reason = refusal(r, &forOne, &forZero);
    const std::string remote = "remote " + r.name + ": ";
    // One copy for all its keys: a press reads the remote's timing through it.
    const auto shared = std::make_shared<const LircRemote>(r);
    for (const Key& k : read.keys) {
        Signal s;
        s.name = k.name;
        if (k.raw) {
            std::string note;
            s.sendable = necFromDurations(k.durations, &s.code, &note) == 0;
            s.note = remote;
            s.note += "raw: " + note;
        } else if (!reason.empty()) {
            s.note = remote + reason;
        } else if (!fits(k.codes[0], r.bits)) {
            s.note = remote + "code " + hexNumber(k.codes[0]) + " is wider than its " +
                     std::to_string(r.bits) + " bits";
        } else {
            s = codedSignal(r, k, forOne, forZero);
        }
        s.definition.source = Definition::Source::lircd;
        s.definition.protocol = r.name;
        s.definition.remote = shared;
        s.definition.codes = k.codes;
        s.definition.raw = k.raw;
        s.definition.durations = k.durations;
        signals->push_back(s);
    }
}

// LIRC's protocols: a remote names one at most, or LIRC refuses its file.
bool isProtocol(const std::string& flag)
{
    const char* const protocols[] = {"raw_codes", "rc5",       "shift_enc",   "rc6",
                                     "rcmm",      "space_enc", "space_first", "goldstar",
                                     "grundig",   "bo",        "serial",      "xmp"};
    return std::any_of(std::begin(protocols), std::end(protocols),
                       [&flag](const char* p) { return flag == p; });
}

// The flags LIRC knows, each word "|"-separated as LIRC splits them.
void setFlags(LircRemote* r, const std::string& text)
{
    r->flags = text;
    std::string rest = lower(text) + "|";
    int protocols = 0;
    for (std::size_t bar = rest.find('|'); bar != std::string::npos; bar = rest.find('|')) {
        const std::string flag = rest.substr(0, bar);
        rest.erase(0, bar + 1);
        protocols += isProtocol(flag) ? 1 : 0;
        if (protocols == 2 && r->unreadable.empty())
            r->unreadable = "flags " + text +
                            ": more than one encoding, LIRC refuses the file (\"multiple "
                            "protocols given in flags\")";
        if (flag == "space_enc")
            r->encoding = LircEncoding::space;
        else if (flag == "rc5" || flag == "shift_enc")
            r->encoding = LircEncoding::shift;
        else if (flag == "rc6")
            r->encoding = LircEncoding::rc6;
        else if (flag == "rcmm")
            r->encoding = LircEncoding::rcmm;
        else if (flag == "xmp")
            r->encoding = LircEncoding::xmp;
        else if (flag == "space_first")
            r->spaceFirst = true;
        else if (flag == "reverse")
            r->reverse = true;
        else if (flag == "const_length")
            r->constLength = true;
        else if (flag == "no_head_rep")
            r->noHeadRep = true;
        else if (flag == "no_foot_rep")
            r->noFootRep = true;
        else if (flag == "repeat_header")
            r->repeatHeader = true;
        else if (flag == "raw_codes")
            r->rawCodes = true;
        else if (!flag.empty())
            r->otherFlags += (r->otherFlags.empty() ? "" : "|") + flag;
    }
}

// The parameters only a press needs.  A value that cannot be read is kept as the
// remote's reason not to be sent, not as the file's failure: nec-code read these
// files before it read these parameters, and must go on reading them alike.
void setPressParameter(LircRemote* r, const std::vector<std::string>& w)
{
    const std::string key = lower(w[0]);
    struct Single {
        const char* name;
        std::uint64_t* value;
    } const singles[] = {{"repeat_gap", &r->repeatGap},
                         {"min_repeat", &r->minRepeat},
                         {"toggle_bit", &r->toggleBit},
                         {"repeat_bit", &r->toggleBit},
                         {"toggle_bit_mask", &r->toggleBitMask},
                         {"toggle_mask", &r->toggleMask},
                         {"rc6_mask", &r->rc6Mask},
                         {"repeat_mask", &r->repeatMask},
                         {"frequency", &r->frequency},
                         {"duty_cycle", &r->dutyCycle}};
    struct Double {
        const char* name;
        LircPair* value;
    } const doubles[] = {{"two", &r->two}, {"three", &r->three}, {"repeat", &r->repeat}};
    bool read = true;
    for (const Single& s : singles) {
        if (key == s.name)
            read = parseUnsigned(w[1], 0, UINT64_MAX, s.value) == 0;
    }
    for (const Double& d : doubles) {
        if (key == d.name)
            read = w.size() >= 3 && parseUnsigned(w[1], 0, UINT32_MAX, &d.value->pulse) == 0 &&
                   parseUnsigned(w[2], 0, UINT32_MAX, &d.value->space) == 0;
    }
    if (key == "gap") {
        std::uint64_t second = 0;
        read = parseUnsigned(w[1], 0, UINT32_MAX, &r->gap) == 0 &&
               (w.size() < 3 || parseUnsigned(w[2], 0, UINT32_MAX, &second) == 0);
        if (read && second != 0 && second < r->gap)
            r->gap = second;
    }
    if (!read && r->unreadable.empty())
        r->unreadable = w[0] + " " + w[1] + ": not a value LIRC reads";
}

// The parameters nec-code needs, then those a press needs; the rest are read past.
int setParameter(LircRemote* r, const std::vector<std::string>& w, std::string* error)
{
    const std::string key = lower(w[0]);
    // Durations and counts are ints in LIRC; pre_data and post_data are codes.
    struct Single {
        const char* name;
        std::uint64_t* value;
        std::uint64_t max;
    } const singles[] = {
        {"bits", &r->bits, UINT32_MAX},          {"eps", &r->eps, UINT32_MAX},
        {"aeps", &r->aeps, UINT32_MAX},          {"plead", &r->plead, UINT32_MAX},
        {"ptrail", &r->ptrail, UINT32_MAX},      {"pre_data_bits", &r->preDataBits, UINT32_MAX},
        {"pre_data", &r->preData, UINT64_MAX},   {"post_data_bits", &r->postDataBits, UINT32_MAX},
        {"post_data", &r->postData, UINT64_MAX},
    };
    struct Double {
        const char* name;
        LircPair* value;
    } const doubles[] = {{"header", &r->header}, {"one", &r->one},   {"zero", &r->zero},
                         {"pre", &r->pre},       {"post", &r->post}, {"foot", &r->foot}};
    if (key == "name") {
        r->name = w[1];
        return 0;
    }
    if (key == "flags") {
        setFlags(r, w[1]);
        return 0;
    }
    if (key == "toggle_bit" || key == "repeat_bit" || key == "toggle_bit_mask" ||
        key == "toggle_mask") {
        std::uint64_t v = 0;
        if (parseUnsigned(w[1], 0, UINT64_MAX, &v) != 0) {
            *error = "'" + w[1] + "' is not a number";
            return -1;
        }
    }
    for (const Single& s : singles) {
        if (key == s.name && parseUnsigned(w[1], 0, s.max, s.value) != 0) {
            *error = "'" + w[1] + "' is not a number";
            return -1;
        }
    }
    for (const Double& d : doubles) {
        if (key != d.name)
            continue;
        if (w.size() < 3 || parseUnsigned(w[1], 0, UINT32_MAX, &d.value->pulse) != 0 ||
            parseUnsigned(w[2], 0, UINT32_MAX, &d.value->space) != 0) {
            *error = w[0] + " takes two numbers";
            return -1;
        }
    }
    setPressParameter(r, w);
    return 0;
}

// The words of a line up to a word that starts a comment, which may only follow the
// line's first two words.
std::vector<std::string> lineWords(const std::string& line)
{
    std::vector<std::string> w = words(line);
    for (std::size_t i = 2; i < w.size(); ++i) {
        if (w[i][0] == '#') {
            w.resize(i);
            break;
        }
    }
    return w;
}

enum class Section { none, remote, codes, rawCodes };

// A line of a codes section: a key and its codes.
int codesLine(Remote* remote, const std::vector<std::string>& w, int number, Failure* failure)
{
    Key key{w[0], {}, false, {}};
    for (std::size_t j = 1; j < w.size(); ++j) {
        std::uint64_t v = 0;
        if (parseUnsigned(w[j], 0, UINT64_MAX, &v) != 0) {
            *failure = {number, "the code of " + w[0] + " is a number, not '" + w[j] + "'"};
            return -1;
        }
        key.codes.push_back(v);
    }
    if (key.codes.empty()) {
        *failure = {number, "key " + w[0] + " without a code"};
        return -1;
    }
    remote->keys.push_back(key);
    return 0;
}

// A line of a raw_codes section: "name KEY", or durations of the key named last.
int rawLine(Remote* remote, const std::vector<std::string>& w, int number, Failure* failure)
{
    if (lower(w[0]) == "name") {
        if (w.size() < 2) {
            *failure = {number, "name without a name"};
            return -1;
        }
        remote->keys.push_back(Key{w[1], {}, true, {}});
        return 0;
    }
    for (const std::string& d : w) {
        std::uint64_t v = 0;
        if (remote->keys.empty() || !remote->keys.back().raw ||
            parseUnsigned(d, 10, UINT32_MAX, &v) != 0) {
            *failure = {number, "raw_codes hold 'name KEY' and durations, not '" + d + "'"};
            return -1;
        }
        remote->keys.back().durations.push_back(static_cast<std::uint32_t>(v));
    }
    return 0;
}

// LIRC's raw codes start and end with a pulse; one that ends with a space, or has
// no durations at all, makes it refuse the file.
void refuseRawOfEvenLength(Remote* remote)
{
    for (const Key& k : remote->keys) {
        if (!k.raw || k.durations.size() % 2 != 0 || !remote->lirc.unreadable.empty())
            continue;
        remote->lirc.unreadable =
            "raw code " + k.name +
            (k.durations.empty()
                 ? " has no durations"
                 : " ends with a space (" + std::to_string(k.durations.size()) + " durations)") +
            ": LIRC refuses the file (\"bad signal length\")";
    }
}

// A line of a remote outside its codes: a section's start, the remote's end or a
// parameter.
int remoteLine(Remote* remote, Section* section, const std::vector<std::string>& w, int number,
               std::vector<Signal>* signals, Failure* failure)
{
    const std::string first = lower(w[0]);
    const std::string second = w.size() > 1 ? lower(w[1]) : "";
    std::string error;
    if (first == "begin" && (second == "codes" || second == "raw_codes")) {
        *section = second == "codes" ? Section::codes : Section::rawCodes;
        remote->lirc.rawCodes = remote->lirc.rawCodes || second == "raw_codes";
    } else if (first == "end" && second == "remote") {
        refuseRawOfEvenLength(remote);
        addSignals(*remote, signals);
        *section = Section::none;
    } else if (w.size() < 2) {
        *failure = {number, "parameter " + w[0] + " without a value"};
        return -1;
    } else if (w[0][0] == '#') {
        *failure = {number, "an indented # is not a comment in a lircd.conf"};
        return -1;
    } else if (setParameter(&remote->lirc, w, &error) != 0) {
        *failure = {number, error};
        return -1;
    }
    return 0;
}

// A line inside codes or raw_codes: the section's end, or a key.
int sectionLine(Remote* remote, Section* section, const std::vector<std::string>& w, int number,
                Failure* failure)
{
    const bool raw = *section == Section::rawCodes;
    const char* name = raw ? "raw_codes" : "codes";
    if (lower(w[0]) == "end" && w.size() > 1 && lower(w[1]) == name) {
        *section = Section::remote;
        return 0;
    }
    if (lower(w[0]) == "begin") {
        *failure = {number, std::string("'begin' inside ") + name};
        return -1;
    }
    return raw ? rawLine(remote, w, number, failure) : codesLine(remote, w, number, failure);
}

} // namespace

int readLircd(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    Section section = Section::none;
    Remote remote;
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const std::vector<std::string> w = lineWords(lines[i]);
        if (w.empty() || lines[i][0] == '#')
            continue;
        int status = 0;
        if (section == Section::none) {
            // LIRC reads past anything else between remotes.
            const std::string first = lower(w[0]);
            if (first == "include") {
                *failure = {number, "include: name the included file itself"};
                return -1;
            }
            if (first == "begin" && w.size() > 1 && lower(w[1]) == "remote") {
                section = Section::remote;
                remote = Remote{};
            }
        } else if (section == Section::remote) {
            status = remoteLine(&remote, &section, w, number, signals, failure);
        } else {
            status = sectionLine(&remote, &section, w, number, failure);
        }
        if (status != 0)
            return -1;
    }
    if (section != Section::none) {
        *failure = {static_cast<int>(lines.size()), "the file ends inside a remote"};
        return -1;
    }
    return 0;
}
