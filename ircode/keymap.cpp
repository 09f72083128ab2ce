// The keymaps of the kernel's ir-keytable (/lib/udev/rc_keymaps/*.toml): the part of
// TOML they use, [[protocols]] tables of name, protocol and variant, each with a
// [protocols.scancodes] table of 0xSCANCODE = "KEY_NAME"; a raw table instead has
// [[protocols.raw]] entries of keycode = "KEY_NAME" and raw = "+9000 -4500 ...".
// The table's other keys are its protocol's parameters (a BPF decoder's timings,
// carrier, bits...), kept as written for the sender.
#include "codes.h"
#include "text.h"

namespace {

// The line without its comment: a # outside a string.
std::string withoutComment(const std::string& line)
{
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0 && c == '\\' && quote == '"')
            ++i;
        else if (quote != 0 && c == quote)
            quote = 0;
        else if (quote == 0 && (c == '"' || c == '\''))
            quote = c;
        else if (quote == 0 && c == '#')
            return line.substr(0, i);
    }
    return line;
}

// A quoted string's contents; -1 for anything else.  Keymaps hold plain key names.
int unquote(const std::string& text, std::string* value)
{
    if (text.size() < 2 || (text[0] != '"' && text[0] != '\'') || text.back() != text[0])
        return -1;
    *value = text.substr(1, text.size() - 2);
    return value->find_first_of("\"'\\\t") == std::string::npos ? 0 : -1;
}

struct Table {
    std::string protocol;
    std::string variant;
    std::vector<std::pair<std::string, std::string>> parameters;
};

// A raw entry being read: its key and its durations, in either order.
struct RawEntry {
    std::string keycode;
    std::string raw;
    int line = 0;
};

Definition tableDefinition(const Table& table)
{
    Definition d;
    d.source = Definition::Source::keymap;
    d.protocol = table.variant.empty() ? table.protocol : table.variant;
    d.parameters = table.parameters;
    return d;
}

Signal keySignal(const Table& table, std::uint64_t scancode, const std::string& name)
{
    Signal s;
    s.name = name;
    s.definition = tableDefinition(table);
    s.definition.scancode = scancode;
    if (!equalNoCase(table.protocol, "nec")) {
        s.note = table.protocol.empty() ? "a table without a protocol"
                                        : "protocol " + table.protocol + ": not NEC";
        return s;
    }
    if (scancode > 0xFFFFFFFFu) {
        s.note = "scancode " + hexNumber(scancode) + ": more than NEC's 32 bits";
        return s;
    }
    const auto value = static_cast<std::uint32_t>(scancode);
    NecVariant variant = variantBySize(value);
    std::string taken;
    const std::string v = lower(table.variant);
    if (v == "nec" || v == "necx" || v == "nec32") {
        const NecVariant named = v == "nec"    ? NecVariant::nec
                                 : v == "necx" ? NecVariant::necx
                                               : NecVariant::nec32;
        if (value <= variantLargest(named))
            variant = named;
        else
            taken = " (too large for the table's " + v + ": read by its size)";
    } else if (!v.empty()) {
        s.note = "variant " + table.variant + ": not nec, necx or nec32";
        return s;
    }
    s.sendable = true;
    s.code = scancodeCode(variant, value);
    s.note = scancodeNote(variant, value) + taken;
    return s;
}

// "+9000 -4500 +560": a mark first, the signs optional, as ir-ctl reads them.
int rawDurations(const std::string& text, std::vector<std::uint32_t>* durations)
{
    for (std::string word : words(text)) {
        const bool isMark = durations->size() % 2 == 0;
        if (!word.empty() && word[0] == (isMark ? '+' : '-'))
            word.erase(0, 1);
        std::uint64_t us = 0;
        if (parseUnsigned(word, 10, 0xFFFFFE, &us) != 0 || us == 0)
            return -1;
        durations->push_back(static_cast<std::uint32_t>(us));
    }
    return durations->size() % 2 == 1 ? 0 : -1;
}

// A raw entry, once it has both its key and its durations; the carrier is the table's
// (0 where it gives none, as the file says).
int rawSignal(const Table& table, const RawEntry& entry, std::vector<Signal>* signals,
              Failure* failure)
{
    if (entry.keycode.empty() && entry.raw.empty())
        return 0;
    Signal s;
    s.name = entry.keycode;
    s.definition = tableDefinition(table);
    s.definition.raw = true;
    if (entry.keycode.empty() || rawDurations(entry.raw, &s.definition.durations) != 0) {
        *failure = {entry.line, "a raw entry is a keycode and an odd count of durations"};
        return -1;
    }
    for (const auto& parameter : table.parameters) {
        std::uint64_t hz = 0;
        if (parameter.first == "carrier" && parseUnsigned(parameter.second, 10, 1000000, &hz) == 0)
            s.definition.carrierHz = static_cast<std::int32_t>(hz);
    }
    // Judged as every capture is, so that nec-code reads a raw keymap as it reads raw files.
    s.sendable = necFromDurations(s.definition.durations, &s.code, &s.note) == 0;
    signals->push_back(s);
    return 0;
}

enum class Section { none, protocol, scancodes, raw, other };

int scancodeLine(const std::string& key, const std::string& value, bool isString, int number,
                 const Table& table, std::vector<Signal>* signals, Failure* failure)
{
    std::uint64_t scancode = 0;
    const bool hex = key.size() > 2 && key[0] == '0' && (key[1] == 'x' || key[1] == 'X');
    if (!hex || parseUnsigned(key.substr(2), 16, UINT64_MAX, &scancode) != 0) {
        *failure = {number, "a scancode is 0x and hex digits, not '" + key + "'"};
        return -1;
    }
    if (!isString || value.empty()) {
        *failure = {number, "a scancode's key is a quoted name, e.g. \"KEY_POWER\""};
        return -1;
    }
    signals->push_back(keySignal(table, scancode, value));
    return 0;
}

// One "key = value" line: a protocol table's protocol or variant, or a scancode.
int keyLine(Section section, const std::string& line, int number, Table* table, RawEntry* entry,
            std::vector<Signal>* signals, Failure* failure)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
        *failure = {number, "not a 'key = value' line"};
        return -1;
    }
    std::string key = trim(line.substr(0, equals));
    std::string unquotedKey;
    if (unquote(key, &unquotedKey) == 0)
        key = unquotedKey;
    std::string value;
    const bool isString = unquote(trim(line.substr(equals + 1)), &value) == 0;
    if (section == Section::protocol && (key == "protocol" || key == "variant")) {
        if (!isString) {
            *failure = {number, key + " is a quoted string"};
            return -1;
        }
        (key == "protocol" ? table->protocol : table->variant) = value;
    } else if (section == Section::protocol && key != "name") {
        table->parameters.emplace_back(key, isString ? value : trim(line.substr(equals + 1)));
    } else if (section == Section::raw && (key == "keycode" || key == "raw") && isString) {
        (key == "keycode" ? entry->keycode : entry->raw) = value;
        entry->line = number;
    } else if (section == Section::scancodes) {
        return scancodeLine(key, value, isString, number, *table, signals, failure);
    }
    return 0;
}

// A [header] other than [[protocols]]: the scancodes or raw entries of the table it
// follows; before any table, or any other header, opens lines no key is read from.
Section subtableSection(Section section, const std::string& line)
{
    const bool inTable = section != Section::none;
    return !inTable                          ? Section::other
           : line == "[protocols.scancodes]" ? Section::scancodes
           : line == "[[protocols.raw]]"     ? Section::raw
                                             : Section::other;
}

} // namespace

int readKeymap(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    Section section = Section::none;
    Table table;
    RawEntry entry;
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const std::string line = trim(withoutComment(lines[i]));
        if (line.empty())
            continue;
        if (line[0] == '[' && section == Section::raw) {
            if (rawSignal(table, entry, signals, failure) != 0)
                return -1;
            entry = RawEntry{};
        }
        if (line == "[[protocols]]") {
            section = Section::protocol;
            table = Table{};
        } else if (line[0] == '[') {
            section = subtableSection(section, line);
        } else if (keyLine(section, line, number, &table, &entry, signals, failure) != 0) {
            return -1;
        }
    }
    return section == Section::raw ? rawSignal(table, entry, signals, failure) : 0;
}
