// Files nobody here wrote, each key checked against an encoder that is not nec-code's:
//
// - Debian's ir-keytable keymaps (/lib/udev/rc_keymaps): every key of every NEC table
//   against the kernel's own NEC encoder, ir_nec_scancode_to_raw and ir_raw_gen_pd,
//   written out below from Linux 6.1's source (drivers/media/rc/ir-nec-decoder.c,
//   rc-ir-raw.c, rc-main.c) and sharing nothing with nec-code;
// - lirc-compat-remotes' lircd.conf files: every key nec-code can send against LIRC's
//   own encoder (irsimsend: at each bit, beamfile's gap is the one nearer LIRC's) and
//   LIRC's own decoder (irsimreceive takes beamfile's frame, durations as beamfile
//   sends them, for that key); and every key of a remote refused for its timing
//   against irsimreceive too, which must then take beamfile's nearest frame for none.
//
// They run natively only; a cross build, or a machine without the files or LIRC's
// tools, skips them and says why (scripts/setup.sh test installs them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "files.h"
#include "run_program.h"

namespace {

const char keymapDir[] = "/lib/udev/rc_keymaps";
const char remotesDir[] = "/usr/share/lirc/remotes";

bool realFilesHere(const char* dir, std::string* why)
{
    if (NEC_CODE_CROSS != 0) {
        *why = "a cross build: the real-file checks run natively";
        return false;
    }
    if (access(dir, R_OK) != 0) {
        *why = std::string(dir) + " is not there (scripts/setup.sh test installs it)";
        return false;
    }
    return true;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        found.push_back(line);
    return found;
}

struct Row {
    std::string name, line, note;
};

// nec-code's list of a file: name, line, note per line.
std::vector<Row> listed(const std::string& file, std::string* err)
{
    Command command;
    command.program = NEC_CODE_PATH;
    command.args = {"--from", file};
    const Outcome o = runCommand(command);
    *err = o.status == 0 ? "" : "status " + std::to_string(o.status) + ": " + o.err;
    std::vector<Row> rows;
    for (const std::string& line : lines(o.out)) {
        const std::size_t a = line.find('\t');
        const std::size_t b = line.find('\t', a + 1);
        rows.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return rows;
}

// ---- The kernel's encoder, from its source ----

enum Proto { necProto, necxProto, nec32Proto };

// ir_nec_scancode_to_raw: raw encoding ddDDaaAA.
std::uint32_t scancodeToRaw(Proto protocol, std::uint32_t scancode)
{
    unsigned addr = 0;
    unsigned addrInv = 0;
    unsigned dataInv = 0;
    const unsigned data = scancode & 0xff;
    if (protocol == nec32Proto) {
        addrInv = (scancode >> 24) & 0xff;
        addr = (scancode >> 16) & 0xff;
        dataInv = (scancode >> 8) & 0xff;
    } else if (protocol == necxProto) {
        addr = (scancode >> 16) & 0xff;
        addrInv = (scancode >> 8) & 0xff;
        dataInv = data ^ 0xff;
    } else {
        addr = (scancode >> 8) & 0xff;
        addrInv = addr ^ 0xff;
        dataInv = data ^ 0xff;
    }
    return dataInv << 24 | data << 16 | addrInv << 8 | addr;
}

// ir_raw_gen_pd with ir_nec_timings (msb_first = 0): one bit per pulse and space, the
// raw word's bit 0 first; a 1 is NEC_BIT_1_SPACE, which beamfile's line writes as 1.
std::string pulseDistanceBits(std::uint32_t raw)
{
    std::string bits;
    for (int i = 0; i < 32; ++i, raw >>= 1)
        bits += (raw & 1) != 0 ? '1' : '0';
    return bits;
}

// rc_validate_scancode for the NEC protocols.
bool validScancode(Proto protocol, std::uint32_t scancode)
{
    if (protocol == necxProto && (((scancode >> 16) ^ ~(scancode >> 8)) & 0xff) == 0)
        return false;
    if (protocol == nec32Proto && (((scancode >> 8) ^ ~scancode) & 0xff) == 0)
        return false;
    return true;
}

// A table's variant, unless the scancode is too large for it: then the size decides.
Proto protoFor(const std::string& variant, std::uint64_t scancode)
{
    if (variant == "nec" && scancode <= 0xffff)
        return necProto;
    if (variant == "necx" && scancode <= 0xffffff)
        return necxProto;
    if (variant == "nec32")
        return nec32Proto;
    return scancode <= 0xffff ? necProto : scancode <= 0xffffff ? necxProto : nec32Proto;
}

std::string quoted(const std::string& line, std::size_t from)
{
    const std::size_t open = line.find_first_of("\"'", from);
    const std::size_t close = line.find(line[open], open + 1);
    return line.substr(open + 1, close - open - 1);
}

// The keymap's keys in order, each with the line the kernel's encoder gives it ("-"
// for a key of another protocol), and whether the kernel would refuse to send it.
struct Expected {
    std::string name, line;
    bool refused;
};

std::vector<Expected> keymapKeys(const std::string& text)
{
    std::vector<Expected> keys;
    std::string protocol;
    std::string variant;
    bool inScancodes = false;
    for (std::string line : lines(text)) {
        line.erase(std::min(line.find('#'), line.size()));
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.rfind("[[protocols]]", 0) == 0) {
            protocol.clear();
            variant.clear();
            inScancodes = false;
        } else if (line.rfind("[protocols.scancodes]", 0) == 0) {
            inScancodes = true;
        } else if (!inScancodes && line.rfind("protocol", 0) == 0 && line[8] != '_') {
            protocol = quoted(line, 0);
        } else if (!inScancodes && line.rfind("variant", 0) == 0) {
            variant = quoted(line, 0);
        } else if (inScancodes && line.rfind("0x", 0) == 0) {
            const std::uint64_t scancode = std::strtoull(line.c_str(), nullptr, 16);
            Expected key{quoted(line, line.find('=')), "-", false};
            if (protocol == "nec" && scancode <= 0xffffffff) {
                const Proto p = protoFor(variant, scancode);
                const auto s = static_cast<std::uint32_t>(scancode);
                key.line = pulseDistanceBits(scancodeToRaw(p, s));
                key.refused = !validScancode(p, s);
            }
            keys.push_back(key);
        }
    }
    std::map<std::string, int> seen;
    for (Expected& key : keys) {
        const int n = ++seen[key.name];
        if (n > 1)
            key.name += "#" + std::to_string(n);
    }
    return keys;
}

} // namespace

TEST(DebianKeymaps, EveryNecKeyIsWhatTheKernelsEncoderSends)
{
    std::string why;
    if (!realFilesHere(keymapDir, &why))
        GTEST_SKIP() << why;
    int files = 0;
    int necFiles = 0;
    int necKeys = 0;
    int refused = 0;
    int otherKeys = 0;
    for (const std::string& file : filesIn(keymapDir, false)) {
        if (file.size() < 5 || file.compare(file.size() - 5, 5, ".toml") != 0)
            continue;
        SCOPED_TRACE(file);
        ++files;
        const std::vector<Expected> keys = keymapKeys(readFile(file));
        std::string err;
        const std::vector<Row> rows = listed(file, &err);
        ASSERT_EQ(err, "");
        ASSERT_EQ(rows.size(), keys.size());
        bool nec = false;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            SCOPED_TRACE(keys[i].name);
            EXPECT_EQ(rows[i].name, keys[i].name);
            EXPECT_EQ(rows[i].line, keys[i].line) << rows[i].note;
            EXPECT_EQ(rows[i].note.find("not canonical") != std::string::npos, keys[i].refused)
                << rows[i].note;
            nec = nec || keys[i].line != "-";
            necKeys += keys[i].line != "-" ? 1 : 0;
            otherKeys += keys[i].line == "-" ? 1 : 0;
            refused += keys[i].refused ? 1 : 0;
        }
        necFiles += nec ? 1 : 0;
    }
    EXPECT_GT(necKeys, 0);
    std::cout << "keymaps: " << necKeys << " NEC keys of " << necFiles << " NEC keymaps (of "
              << files << ") as the kernel's encoder sends them, " << refused
              << " of them scancodes its encoder refuses as not canonical; " << otherKeys
              << " keys of other protocols refused\n";
}

namespace {

bool haveLirc(std::string* why)
{
    if (!realFilesHere(remotesDir, why))
        return false;
    if (access(NEC_CODE_IRSIMSEND, X_OK) != 0 || access(NEC_CODE_IRSIMRECEIVE, X_OK) != 0) {
        *why = "irsimsend or irsimreceive not found (package lirc; scripts/setup.sh test)";
        return false;
    }
    return true;
}

// Each remote of a lircd.conf, as a file of its own: irsimsend finds a key of one
// remote only, so a file of several would hide some.
std::vector<std::string> remotesOf(const std::string& text)
{
    std::vector<std::string> remotes;
    std::string current;
    bool inside = false;
    for (const std::string& line : lines(text)) {
        std::istringstream words(line);
        std::string a;
        std::string b;
        words >> a >> b;
        for (std::string* w : {&a, &b})
            std::transform(w->begin(), w->end(), w->begin(), ::tolower);
        if (line.rfind('#', 0) != 0 && a == "begin" && b == "remote")
            inside = true;
        if (inside)
            current += line + "\n";
        if (inside && line.rfind('#', 0) != 0 && a == "end" && b == "remote") {
            remotes.push_back(current);
            current.clear();
            inside = false;
        }
    }
    return remotes;
}

// The durations irsimsend wrote, split into frames at each gap of 20 ms or more.
std::vector<std::vector<long>> sentFrames(const std::string& simsend)
{
    std::vector<std::vector<long>> frames(1);
    std::istringstream in(simsend);
    std::string kind;
    long d = 0;
    while (in >> kind >> d) {
        if (kind == "space" && d >= 20000) {
            frames.emplace_back();
            continue;
        }
        frames.back().push_back(d);
    }
    if (frames.back().empty())
        frames.pop_back();
    return frames;
}

// beamfile's frame for a line, as a mode2 file for irsimreceive, idle before and after.
std::string beamfileFrame(const std::string& line)
{
    std::string text = "space 2000000\npulse 8892\nspace 4500\n";
    for (const char bit : line)
        text += bit == '1' ? "pulse 546\nspace 1688\n" : "pulse 546\nspace 562\n";
    return text + "pulse 546\n";
}

// The line whose gaps are, bit by bit, the nearer of beamfile's two to LIRC's own.
std::string nearestLine(const std::vector<long>& frame)
{
    std::string line;
    for (std::size_t i = 3; i < frame.size() && line.size() < 32; i += 2)
        line += std::labs(frame[i] - 1688) < std::labs(frame[i] - 562) ? '1' : '0';
    return line;
}

// LIRC's frames for the keys: irsimsend in a folder of its own (it writes
// simsend.out there and logs into HOME).
std::vector<std::vector<long>> lircFrames(const TempDir& dir, const std::vector<std::string>& keys)
{
    std::string list;
    for (const std::string& k : keys)
        list += k + "\n";
    dir.write("keys", list);
    Command send;
    send.program = NEC_CODE_IRSIMSEND;
    send.args = {"-l", dir.file("keys"), "-c", "1", dir.file("remote.conf")};
    send.dir = dir.path();
    send.env = {"HOME=" + dir.path()};
    send.direct = true;
    const Outcome sent = runCommand(send);
    EXPECT_EQ(sent.status, 0) << sent.err;
    return sentFrames(dir.read("simsend.out"));
}

// The keys LIRC's decoder, irsimreceive, takes beamfile's frames of these lines for.
std::vector<std::string> lircTakes(const TempDir& dir, const std::vector<std::string>& sent)
{
    std::string frames;
    for (const std::string& line : sent)
        frames += beamfileFrame(line);
    dir.write("frames", frames + "space 2000000\n");
    Command receive;
    receive.program = NEC_CODE_IRSIMRECEIVE;
    receive.args = {dir.file("remote.conf"), dir.file("frames")};
    receive.dir = dir.path();
    receive.env = {"HOME=" + dir.path()};
    receive.direct = true;
    const Outcome received = runCommand(receive);
    EXPECT_EQ(received.status, 0) << received.err;
    std::vector<std::string> keys;
    for (const std::string& line : lines(received.out)) {
        std::istringstream words(line);
        std::string code;
        std::string repeat;
        std::string key;
        if (words >> code >> repeat >> key)
            keys.push_back(key);
    }
    return keys;
}

std::string baseName(const std::string& name)
{
    const std::size_t hash = name.rfind('#');
    const bool numbered = hash != std::string::npos && hash > 0 && hash + 1 < name.size() &&
                          name.find_first_not_of("0123456789", hash + 1) == std::string::npos;
    return numbered ? name.substr(0, hash) : name;
}

struct Tally {
    int files = 0, remotes = 0, keys = 0, sent = 0, sentRemotes = 0, repeatedSent = 0;
    int aliases = 0, timingRefused = 0, duplicates = 0;
};

// The keys nec-code sends: LIRC's frame of each has beamfile's gaps bit for bit, and
// LIRC takes beamfile's frame for it.  A repeated name (NAME#2) cannot be asked of
// irsimsend, only of irsimreceive, which names a code by the first key that has it.
void checkSent(const TempDir& dir, const std::vector<Row>& sent, Tally* tally)
{
    std::vector<std::string> names;
    std::vector<std::string> wanted;
    std::vector<std::string> sentLines;
    for (const Row& row : sent) {
        if (baseName(row.name) == row.name)
            names.push_back(row.name);
        wanted.push_back(baseName(row.name));
        sentLines.push_back(row.line);
    }
    const std::vector<std::vector<long>> frames = lircFrames(dir, names);
    ASSERT_EQ(frames.size(), names.size());
    for (std::size_t i = 0, k = 0; i < sent.size(); ++i) {
        if (baseName(sent[i].name) != sent[i].name)
            continue;
        SCOPED_TRACE(sent[i].name);
        EXPECT_EQ(frames[k].size(), 67u) << "not a header, 32 bits and a ptrail";
        EXPECT_EQ(nearestLine(frames[k++]), sent[i].line);
    }
    const std::vector<std::string> taken = lircTakes(dir, sentLines);
    ASSERT_EQ(taken.size(), sent.size()) << "irsimreceive on beamfile's frames";
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (taken[i] == wanted[i])
            continue;
        const auto other = std::find(wanted.begin(), wanted.end(), taken[i]);
        ASSERT_NE(other, wanted.end()) << wanted[i] << " taken as " << taken[i];
        EXPECT_EQ(sentLines[static_cast<std::size_t>(other - wanted.begin())], sentLines[i])
            << wanted[i] << " taken as " << taken[i];
        ++tally->aliases;
    }
    ++tally->sentRemotes;
    tally->sent += static_cast<int>(sent.size());
    tally->repeatedSent += static_cast<int>(sent.size() - names.size());
}

// The keys nec-code refuses for their timing: LIRC takes none of the frames made of
// beamfile's gaps nearest to its own.
void checkRefused(const TempDir& dir, const std::vector<std::string>& names, Tally* tally)
{
    std::vector<std::string> nearest;
    for (const std::vector<long>& frame : lircFrames(dir, names)) {
        if (frame.size() == 67)
            nearest.push_back(nearestLine(frame));
    }
    EXPECT_EQ(lircTakes(dir, nearest), std::vector<std::string>{})
        << "irsimreceive took beamfile's frame for a key nec-code refused";
    tally->timingRefused += static_cast<int>(nearest.size());
}

} // namespace

TEST(LircCompatRemotes, EverySentKeyIsWhatLircSendsAndTakes)
{
    std::string why;
    if (!haveLirc(&why))
        GTEST_SKIP() << why;
    Tally tally;
    for (const std::string& file : filesIn(remotesDir, true)) {
        const std::vector<std::string> found = remotesOf(readFile(file));
        tally.files += found.empty() ? 0 : 1;
        for (std::size_t r = 0; r < found.size(); ++r) {
            SCOPED_TRACE(file + ", remote " + std::to_string(r + 1));
            ++tally.remotes;
            TempDir dir;
            dir.write("remote.conf", found[r]);
            std::string err;
            const std::vector<Row> rows = listed(dir.file("remote.conf"), &err);
            ASSERT_EQ(err, "");
            std::vector<Row> sent;
            std::vector<std::string> refused;
            for (const Row& row : rows) {
                const bool repeated = baseName(row.name) != row.name;
                tally.duplicates += repeated ? 1 : 0;
                if (row.line != "-")
                    sent.push_back(row);
                else if (row.note.find("LIRC would") != std::string::npos && !repeated)
                    refused.push_back(row.name);
            }
            tally.keys += static_cast<int>(rows.size());
            if (!sent.empty())
                checkSent(dir, sent, &tally);
            if (!refused.empty())
                checkRefused(dir, refused, &tally);
        }
    }
    EXPECT_GT(tally.sent, 0);
    std::cout << "lircd.conf: " << tally.sent << " keys of " << tally.sentRemotes
              << " NEC remotes: irsimreceive takes beamfile's frame for each (" << tally.aliases
              << " under another name of the same code), irsimsend's frame of each (but "
              << tally.repeatedSent << " repeated names) has beamfile's gaps; "
              << tally.timingRefused << " keys refused for their timing, none of whose nearest "
              << "frames irsimreceive takes; " << tally.keys << " keys in all, " << tally.remotes
              << " remotes, " << tally.files << " files, " << tally.duplicates
              << " of the keys repeated names\n";
}
