// The kernel's scancodes and the files the remote-code databases are written in, read
// one way for every program.  Each signal carries what its file says it is (its
// Definition, which sources.h turns into a press as that source's own sender sends
// it), and what beamfile's NEC frame can make of it: a code held as nec_code.h holds
// one (the first bit on air is the top bit), for nec-code.
//
// Nothing here guesses: a signal whose frame beamfile cannot send exactly (another
// protocol, another lead, another length, a capture that is no NEC frame) is kept,
// with the reason in its note and no code.
#ifndef NEC_CODES_H
#define NEC_CODES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nec_code.h" // airCode: the bytes on air as a code

struct LircRemote; // lirc.h: a lircd.conf remote, as LIRC's transmitter reads it

// What a file says a signal is, in its source's own terms.
struct Definition {
    enum class Source { none, flipper, irdb, keymap, lircd };
    Source source = Source::none;
    std::string protocol;        // as the file names it ("NEC", "Samsung32", "NEC1", "rc-5")
    std::uint64_t address = 0;   // Flipper's address; irdb's device
    std::uint64_t command = 0;   // Flipper's command; irdb's function
    std::int64_t subdevice = -1; // irdb: -1 where the row gives none
    std::uint64_t scancode = 0;  // keymap
    // A keymap's protocol table: its parameters, as the table writes them.
    std::vector<std::pair<std::string, std::string>> parameters;
    bool raw = false;
    std::int32_t carrierHz = 0;               // raw: the file's, 0 where it gives none
    double dutyCycle = 0;                     // raw: the file's (a fraction), 0 where it gives none
    std::vector<std::uint32_t> durations;     // raw, mark first
    std::shared_ptr<const LircRemote> remote; // lircd: the remote the key belongs to
    std::vector<std::uint64_t> codes;         // lircd: the key's codes, as written
};

struct Signal {
    std::string name;
    bool sendable = false;
    std::uint32_t code = 0;
    std::string note; // where the code came from, or why it cannot be sent
    Definition definition;
};

// Why a file could not be read: the line it happened on (0 for the file as a whole).
struct Failure {
    int line = 0;
    std::string what;
};

std::string hexNumber(std::uint64_t value); // "0x408", lower case, as the kernel prints

// ---- The kernel's NEC scancodes (drivers/media/rc/ir-nec-decoder.c) ----

enum class NecVariant { nec, necx, nec32 };

std::uint32_t variantLargest(NecVariant variant);
NecVariant variantBySize(std::uint32_t scancode);
// The frame the kernel's encoder makes of a scancode (ir_nec_scancode_to_raw).
std::uint32_t scancodeCode(NecVariant variant, std::uint32_t scancode);
// "nec 0x408", and the kernel's refusal where it has one (rc_validate_scancode's: a
// necx address whose second byte is the first one's inverse, a nec32 command whose
// bytes are inverses).
std::string scancodeNote(NecVariant variant, std::uint32_t scancode);

// PROTOCOL:SCANCODE as ir-ctl -S takes it, the scancode always hex.  Returns 0 and sets
// *signal (its note names the scancode), or -1 and sets *error.
int parseScancode(const std::string& text, Signal* signal, std::string* error);

// A capture, mark first and alternating (microseconds), judged as the kernel's NEC
// decoder judges it.  Returns 0 and sets *code when it is one NEC frame (repeat codes
// and copies of the same frame may follow); else -1.  *note says which, or why not.
int necFromDurations(const std::vector<std::uint32_t>& durations, std::uint32_t* code,
                     std::string* note);

// ---- Files ----

// The whole file, refused past maxFileBytes or when it holds bytes no text file has.
constexpr std::size_t maxFileBytes = 8u << 20u;
int readTextFile(const char* path, std::string* text, std::string* error);

int readFlipper(const std::string& text, std::vector<Signal>* signals, Failure* failure);
int readIrdb(const std::string& text, std::vector<Signal>* signals, Failure* failure);
int readKeymap(const std::string& text, std::vector<Signal>* signals, Failure* failure);
int readLircd(const std::string& text, std::vector<Signal>* signals, Failure* failure);

// Recognises the format from the content and reads it; repeated names become
// NAME, NAME#2, NAME#3...  Returns 0, or -1 with *failure set.
int readSignals(const std::string& text, std::vector<Signal>* signals, Failure* failure);

// The signal named key: its exact name, else its only case-insensitive match.
// Returns its index, or -1 with *error naming the closest names.
int findSignal(const std::vector<Signal>& signals, const std::string& key, std::string* error);

#endif
