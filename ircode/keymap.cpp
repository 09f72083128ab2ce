// The keymaps of the kernel's ir-keytable (/lib/udev/rc_keymaps/*.toml): the part of
// TOML they use, [[protocols]] tables of name, protocol and variant, each with a
// [protocols.scancodes] table of 0xSCANCODE = "KEY_NAME".
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
};

Signal keySignal(const Table& table, std::uint64_t scancode, const std::string& name)
{
    Signal s;
    s.name = name;
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

enum class Section { none, protocol, scancodes, other };

// One "key = value" line: a protocol table's protocol or variant, or a scancode.
int keyLine(Section section, const std::string& line, int number, Table* table,
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
    } else if (section == Section::scancodes) {
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
        signals->push_back(keySignal(*table, scancode, value));
    }
    return 0;
}

} // namespace

int readKeymap(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    Section section = Section::none;
    Table table;
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const std::string line = trim(withoutComment(lines[i]));
        if (line.empty())
            continue;
        if (line == "[[protocols]]") {
            section = Section::protocol;
            table = Table{};
        } else if (line[0] == '[') {
            const bool scancodes = line == "[protocols.scancodes]" && section != Section::none;
            section = scancodes ? Section::scancodes : Section::other;
        } else if (keyLine(section, line, number, &table, signals, failure) != 0) {
            return -1;
        }
    }
    return 0;
}
