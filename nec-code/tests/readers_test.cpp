// Each database's format, read from small files written here from the formats'
// descriptions: what each signal becomes, what is refused and why, and which lines
// are malformed.  Expected lines are bytes on air (nec_line.h).
#include "codes.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "nec_line.h"

namespace {

struct Row {
    std::string name;
    std::string line; // "-" where the signal cannot be sent
    std::string note; // a part of its note
};

void expectRows(const std::string& text, const std::vector<Row>& rows)
{
    std::vector<Signal> signals;
    Failure failure;
    ASSERT_EQ(readSignals(text, &signals, &failure), 0) << failure.line << ": " << failure.what;
    ASSERT_EQ(signals.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(signals[i].name, rows[i].name);
        EXPECT_EQ(lineOf(signals[i]), rows[i].line) << signals[i].note;
        EXPECT_NE(signals[i].note.find(rows[i].note), std::string::npos) << signals[i].note;
    }
}

struct Malformed {
    const char* what;
    std::string text;
    int line;
    const char* error; // a part of the message
};

void expectFailures(const std::vector<Malformed>& cases)
{
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Signal> signals;
        Failure failure;
        EXPECT_EQ(readSignals(c.text, &signals, &failure), -1);
        EXPECT_EQ(failure.line, c.line) << failure.what;
        EXPECT_NE(failure.what.find(c.error), std::string::npos) << failure.what;
    }
}

const std::string lgPower = necLine({0x04, 0xFB, 0x08, 0xF7});

std::string flipper(const std::string& signals)
{
    return "Filetype: IR signals file\nVersion: 1\n" + signals;
}

std::string parsed(const std::string& name, const std::string& protocol, const std::string& address,
                   const std::string& command)
{
    return "# \nname: " + name + "\ntype: parsed\nprotocol: " + protocol + "\naddress: " + address +
           "\ncommand: " + command + "\n";
}

std::string durations(const std::vector<unsigned>& bytes)
{
    std::string d = "9024 4512";
    for (const unsigned byte : bytes) {
        for (unsigned i = 0; i < 8; ++i)
            d += ((byte >> i) & 1u) != 0 ? " 579 1683" : " 579 552";
    }
    return d + " 579";
}

std::string rawSignal(const std::string& name, const std::string& data,
                      const std::string& frequency = "38000")
{
    return "# \nname: " + name + "\ntype: raw\nfrequency: " + frequency +
           "\nduty_cycle: 0.330000\ndata: " + data + "\n";
}

} // namespace

TEST(Flipper, ReadsNecAndNecextAndSaysWhyNotTheRest)
{
    expectRows(flipper(parsed("Power", "NEC", "04 00 00 00", "08 00 00 00") +
                       parsed("Input", "NECext", "EE 00 00 00", "5D A2 00 00") +
                       parsed("Own inverse", "NECext", "86 6B 00 00", "0C F3 00 00") +
                       parsed("Wide", "NECext", "34 12 00 00", "78 56 00 00") +
                       parsed("Too wide", "NEC", "04 01 00 00", "08 00 00 00") +
                       parsed("Wider", "NECext", "04 00 01 00", "08 00 00 00") +
                       parsed("Samsung", "Samsung32", "07 00 00 00", "02 00 00 00") +
                       parsed("Long", "NEC42", "04 00 00 00", "08 00 00 00") +
                       parsed("Philips", "RC5", "00 00 00 00", "0C 00 00 00") +
                       parsed("Sony", "SIRC", "01 00 00 00", "15 00 00 00") +
                       parsed("Power", "NEC", "04 00 00 00", "09 00 00 00")),
               {
                   {"Power", lgPower, "NEC address 0x04 command 0x08"},
                   {"Input", necLine({0xEE, 0x00, 0x5D, 0xA2}), "NECext address 0x00EE"},
                   {"Own inverse", necLine({0x86, 0x6B, 0x0C, 0xF3}), "command 0xF30C"},
                   {"Wide", necLine({0x34, 0x12, 0x78, 0x56}), "address 0x1234"},
                   {"Too wide", "-", "more than NEC's 8 bits"},
                   {"Wider", "-", "more than NECext's 16 bits"},
                   {"Samsung", "-", "4.5 ms lead"},
                   {"Long", "-", "42 bits"},
                   {"Philips", "-", "RC5: not NEC"},
                   {"Sony", "-", "SIRC: not NEC"},
                   {"Power#2", necLine({0x04, 0xFB, 0x09, 0xF6}), "command 0x09"},
               });
}

TEST(Flipper, DecodesRawSignalsAsTheKernelDoes)
{
    const std::string lg = durations({0x04, 0xFB, 0x08, 0xF7});
    std::string samsung = durations({0x07, 0x07, 0x02, 0xFD});
    samsung.replace(0, 4, "4500");
    expectRows(flipper(rawSignal("Frame", lg) + rawSignal("Held", lg + " 40000 9024 2250 579") +
                       rawSignal("Twice", lg + " 40000 " + lg) +
                       rawSignal("Two keys", lg + " 40000 " + durations({0x04, 0xFB, 0x09, 0xF6})) +
                       rawSignal("Samsung", samsung) + rawSignal("Sony", "2400 600 1200 600 600") +
                       rawSignal("Cut", lg.substr(0, 200)) + rawSignal("At 36 kHz", lg, "36000") +
                       "# \nname: Split\ntype: raw\nfrequency: 38000\nduty_cycle: 0.33\ndata: " +
                       lg.substr(0, lg.find(" 579 552")) +
                       "\ndata:" + lg.substr(lg.find(" 579 552")) + "\n"),
               {
                   {"Frame", lgPower, "one NEC frame, as the kernel decodes it: nec 0x408"},
                   {"Held", lgPower, "then 1 repeat code"},
                   {"Twice", lgPower, "sent 2 times"},
                   {"Two keys", "-", "frames that differ"},
                   {"Samsung", "-", "4.5 ms lead"},
                   {"Sony", "-", "rejects duration 1 (2400 us)"},
                   {"Cut", "-", "not one NEC frame"},
                   {"At 36 kHz", lgPower, "captured at 36000 Hz"},
                   {"Split", lgPower, "nec 0x408"},
               });
}

TEST(Flipper, NamesTheMalformedLine)
{
    expectFailures({
        {"no colon", flipper("name: A\ntype parsed\n"), 4, "key: value"},
        {"three bytes", flipper(parsed("A", "NEC", "04 00 00", "08 00 00 00")), 7,
         "four hex bytes"},
        {"a byte in decimal", flipper(parsed("A", "NEC", "04 00 00 00", "256 00 00 00")), 8,
         "four hex bytes"},
        {"no command", flipper("name: A\ntype: parsed\nprotocol: NEC\naddress: 04 00 00 00\n"), 3,
         "no command"},
        {"field before a name", flipper("type: parsed\n"), 3, "before the first name"},
        {"unknown type", flipper("name: A\ntype: learned\n"), 4, "parsed or raw"},
        {"no type", flipper("name: A\nprotocol: NEC\n"), 3, "no type"},
        {"two protocols", flipper("name: A\ntype: parsed\nprotocol: NEC\nprotocol: RC5\n"), 6,
         "a second 'protocol:'"},
        {"negative duration", flipper(rawSignal("A", "9000 -4500")), 8, "whole microseconds"},
        {"raw without data", flipper("name: A\ntype: raw\nfrequency: 38000\n"), 3, "no data"},
        {"a tab in a name", flipper("name: A\tB\n"), 3, "no tab"},
    });
}

TEST(Irdb, ReadsNecRowsAndSaysWhyNotTheRest)
{
    expectRows("functionname,protocol,device,subdevice,function\n"
               "POWER,NEC1,4,-1,8\n"
               "INPUT,NEC1,184,0,93\n"
               "VOL+,nec2,4,-1,2\n"
               "Old,NEC,0,-1,69\n"
               "\"MENU, TOP\",NEC1-f16,4,251,53004\n"
               "Low,nec2-F16,184,-1,1\n"
               ",NEC1,4,-1,9\n"
               "PLAY,NECx2,7,7,2\n"
               "STOP,RC5,0,-1,54\n"
               "BIG,NEC1,256,-1,1\n"
               "WIDE,NEC1,4,-1,256\n"
               "SUB,NEC1,4,-2,1\n"
               "Sony,Sony12,1,-1,21\n"
               "POWER,NEC1,4,-1,12\n",
               {
                   {"POWER", lgPower, "NEC1 device 4 subdevice -1 function 8"},
                   {"INPUT", necLine({0xB8, 0x00, 0x5D, 0xA2}), "subdevice 0"},
                   {"VOL+", necLine({0x04, 0xFB, 0x02, 0xFD}), "nec2"},
                   {"Old", necLine({0x00, 0xFF, 0x45, 0xBA}), "NEC device 0"},
                   {"MENU, TOP", necLine({0x04, 0xFB, 0x0C, 0xCF}), "NEC1-f16"},
                   {"Low", necLine({0xB8, 0x47, 0x01, 0x00}), "nec2-F16"},
                   {"(unnamed, line 8)", necLine({0x04, 0xFB, 0x09, 0xF6}), "function 9"},
                   {"PLAY", "-", "NECx2: a 4.5 ms lead"},
                   {"STOP", "-", "RC5: not NEC"},
                   {"BIG", "-", "device and subdevice are 0..255"},
                   {"WIDE", "-", "function 0..255"},
                   {"SUB", "-", "subdevice -2"},
                   {"Sony", "-", "Sony12: not NEC"},
                   {"POWER#2", necLine({0x04, 0xFB, 0x0C, 0xF3}), "function 12"},
               });
}

TEST(Irdb, NamesTheMalformedLine)
{
    const std::string header = "functionname,protocol,device,subdevice,function\n";
    expectFailures({
        {"four fields", header + "A,NEC1,4,-1,8\nB,NEC1,4,8\n", 3, "a row is"},
        {"six fields", header + "A,NEC1,4,-1,8,9\n", 2, "a row is"},
        {"a letter", header + "A,NEC1,4,x,8\n", 2, "decimal numbers"},
        {"hex", header + "A,NEC1,0x4,-1,8\n", 2, "decimal numbers"},
        {"an open quote", header + "\"A,NEC1,4,-1,8\n", 2, "a row is"},
        {"empty function", header + "A,NEC1,4,-1,\n", 2, "decimal numbers"},
    });
}

TEST(Keymap, ReadsScancodesAsTheKernelMeansThem)
{
    expectRows(
        "# a comment\n"
        "[[protocols]]\n"
        "name = \"sample\"\n"
        "protocol = \"nec\"\n"
        "variant = \"necx\" # extended\n"
        "[protocols.scancodes]\n"
        "0xee005d = \"KEY_INPUT\"\n"
        "0x04fb08 = \"KEY_POWER\"\n"
        "0x0408 = \"KEY_MUTE\"\n"
        "0x12345678 = \"KEY_BIG\"\n"
        "[[protocols]]\n"
        "name = 'sized'\n"
        "protocol = 'nec'\n"
        "[protocols.scancodes]\n"
        "0x408 = 'KEY_POWER'\n"
        "\"0x7a8415\" = \"KEY_EXTENDED\"\n"
        "0x12344AB5 = \"KEY_32\" # command bytes inverses\n"
        "0x100000000 = \"KEY_HUGE\"\n"
        "[[protocols]]\n"
        "protocol = \"NEC\"\n"
        "variant = \"nec\"\n"
        "[protocols.scancodes]\n"
        "0x866b12 = \"KEY_PLAIN\"\n"
        "[[protocols]]\n"
        "protocol = \"nec\"\n"
        "variant = \"necy\"\n"
        "[protocols.scancodes]\n"
        "0x408 = \"KEY_ODD\"\n"
        "[[protocols]]\n"
        "name = \"other\"\n"
        "protocol = \"rc-5\"\n"
        "[protocols.scancodes]\n"
        "0x1e01 = \"KEY_NUMERIC_1\"\n"
        "[[protocols]]\n"
        "[protocols.scancodes]\n"
        "0x1 = \"KEY_NONE\"\n",
        {
            {"KEY_INPUT", necLine({0xEE, 0x00, 0x5D, 0xA2}), "necx 0xee005d"},
            {"KEY_POWER", lgPower, "not canonical"},
            {"KEY_MUTE", necLine({0x00, 0x04, 0x08, 0xF7}), "necx 0x408"},
            {"KEY_BIG", necLine({0x34, 0x12, 0x78, 0x56}), "too large for the table's necx"},
            {"KEY_POWER#2", lgPower, "nec 0x408"},
            {"KEY_EXTENDED", necLine({0x7A, 0x84, 0x15, 0xEA}), "necx 0x7a8415"},
            {"KEY_32", necLine({0x34, 0x12, 0xB5, 0x4A}), "as necx 0x3412b5"},
            {"KEY_HUGE", "-", "more than NEC's 32 bits"},
            {"KEY_PLAIN", necLine({0x86, 0x6B, 0x12, 0xED}), "too large for the table's nec"},
            {"KEY_ODD", "-", "variant necy"},
            {"KEY_NUMERIC_1", "-", "protocol rc-5: not NEC"},
            {"KEY_NONE", "-", "without a protocol"},
        });
}

TEST(Keymap, NamesTheMalformedLine)
{
    const std::string head = "[[protocols]]\nprotocol = \"nec\"\n[protocols.scancodes]\n";
    expectFailures({
        {"decimal scancode", head + "1032 = \"KEY_A\"\n", 4, "0x and hex digits"},
        {"not hex", head + "0x40g = \"KEY_A\"\n", 4, "0x and hex digits"},
        {"no quotes", head + "0x408 = KEY_A\n", 4, "quoted name"},
        {"no value", head + "0x408 =\n", 4, "quoted name"},
        {"no equals", head + "0x408 \"KEY_A\"\n", 4, "key = value"},
        {"protocol not a string", "[[protocols]]\nprotocol = nec\n", 2, "quoted string"},
    });
}

namespace {

std::string lircRemote(const std::string& parameters, const std::string& codes)
{
    return "begin remote\n  name  tv\n" + parameters + "  begin codes\n" + codes +
           "  end codes\nend remote\n";
}

const std::string lgTimings = "  bits 16\n  flags SPACE_ENC|CONST_LENGTH\n  eps 30\n  aeps 100\n"
                              "  header 9000 4500\n  one 560 1690\n  zero 560 560\n"
                              "  ptrail 560\n  gap 108000\n";

std::string lg(const std::string& extra)
{
    return lgTimings + "  pre_data_bits 16\n  pre_data 0x20DF\n" + extra;
}

} // namespace

TEST(Lircd, ReadsKeysAsLircSendsThem)
{
    expectRows("# column 1: a comment\n" +
                   lircRemote(lg(""), "    KEY_POWER 0x10EF\n"
                                      "    #         0x807F  # an indented # is a key\n"
                                      "    End       0x00FF\n"
                                      "    end       0x00FE\n"
                                      "    KEY_MENU  0xC23D 0xC33C\n"
                                      "    KEY_OCT   010\n"
                                      "    KEY_WIDE  0x110EF\n") +
                   "junk between remotes is read past\n" +
                   lircRemote(lgTimings + "  flags SPACE_ENC|REVERSE\n  pre_data_bits 16\n"
                                          "  pre_data 0xFB04\n",
                              "    KEY_POWER 0xF708\n") +
                   lircRemote(lgTimings + "  bits 16\n  pre_data_bits 8\n  pre_data 0x20\n"
                                          "  post_data_bits 8\n  post_data 0xEF\n",
                              "    KEY_POWER 0xDF10\n") +
                   lircRemote("  bits 16\n  eps 30\n  aeps 100\n  header 9000 4500\n"
                              "  one 560 560\n  zero 560 1690\n  ptrail 560\n"
                              "  pre_data_bits 16\n  pre_data 0xDF20\n",
                              "    KEY_POWER 0xEF10\n"),
               {
                   {"KEY_POWER", lgPower, "remote tv: 0x20DF10EF"},
                   {"#", necLine({0x04, 0xFB, 0x01, 0xFE}), "0x20DF807F"},
                   {"End", necLine({0x04, 0xFB, 0x00, 0xFF}), "0x20DF00FF"},
                   {"end", necLine({0x04, 0xFB, 0x00, 0x7F}), "0x20DF00FE"},
                   {"KEY_MENU", necLine({0x04, 0xFB, 0x43, 0xBC}), "the first of 2 codes"},
                   {"KEY_OCT", necLine({0x04, 0xFB, 0x00, 0x10}), "0x20DF0008"},
                   {"KEY_WIDE", "-", "wider than its 16 bits"},
                   {"KEY_POWER#2", lgPower, "REVERSE"},
                   {"KEY_POWER#3", lgPower, "0x20DF10EF"},
                   {"KEY_POWER#4", lgPower, "its one is the short gap"},
               });
}

// LIRC takes a duration d for one of e when |d - e| <= e * eps / 100 or <= aeps; beamfile
// sends 8892 4500, bits of 546 and 1688 or 562, and 546.
TEST(Lircd, SendsOnlyWhatLircWouldTakeForTheRemotesCodes)
{
    const std::string code = "    KEY_POWER 0x10EF\n";
    const std::string nec = "  one 560 1690\n  zero 560 560\n  ptrail 560\n";
    const std::string pre = "  bits 16\n  pre_data_bits 16\n  pre_data 0x20DF\n";
    const struct Case {
        const char* what;
        std::string parameters;
        std::string line;
        const char* note;
    } cases[] = {
        {"LG", lg(""), lgPower, "0x20DF10EF"},
        {"no eps or aeps", pre + "  header 9000 4500\n" + nec, "-", "header 9000 4500"},
        {"aeps 108", pre + "  aeps 108\n  header 9000 4500\n" + nec, lgPower, ""},
        {"aeps 107, eps 1", pre + "  eps 1\n  aeps 107\n  header 9000 4500\n" + nec, "-",
         "(eps 1, aeps 107)"},
        {"eps 2 takes 556 for 546",
         pre + "  eps 2\n  header 9000 4500\n  one 556 1688\n" + "  zero 556 562\n  ptrail 556\n",
         lgPower, ""},
        {"eps 2 refuses 558 for 546",
         pre + "  eps 2\n  header 9000 4500\n  one 558 1688\n" + "  zero 558 562\n  ptrail 556\n",
         "-", "one 558 1688"},
        {"imon's zero 625 375",
         pre + "  eps 30\n  aeps 130\n  header 9000 4500\n" +
             "  one 625 1625\n  zero 625 375\n  ptrail 625\n",
         "-", "zero 625 375: LIRC would not take beamfile's 546 562"},
        {"a one that takes both", pre + "  eps 30\n  aeps 1200\n  header 9000 4500\n" + nec, "-",
         "would read both"},
        {"Samsung's lead", pre + "  eps 30\n  aeps 100\n  header 4500 4500\n" + nec, "-",
         "header 4500 4500"},
        {"no header", pre + "  eps 30\n  aeps 100\n" + nec, "-", "no header"},
        {"no ptrail",
         pre + "  eps 30\n  aeps 100\n  header 9000 4500\n  one 560 1690\n" + "  zero 560 560\n",
         "-", "no ptrail"},
        {"16 bits", "  bits 16\n  eps 30\n  header 9000 4500\n" + nec, "-", "16 bits in all"},
        {"48 bits", pre + "  post_data_bits 16\n  eps 30\n  header 9000 4500\n" + nec, "-",
         "48 bits in all"},
        {"RC5", lg("  flags RC5|CONST_LENGTH\n"), "-", "not NEC's space encoding"},
        {"plead", lg("  plead 560\n"), "-", "plead, pre, post or foot"},
        {"foot", lg("  foot 560 560\n"), "-", "plead, pre, post or foot"},
        {"toggles", lg("  toggle_bit_mask 0x1\n"), "-", "changes from one press"},
        {"toggle_bit 0 is none", lg("  toggle_bit 0\n"), lgPower, ""},
        {"pre_data too wide", lgTimings + "  pre_data_bits 16\n  pre_data 0x120DF\n", "-",
         "pre_data or post_data wider"},
        {"no flags: space encoded", pre + "  eps 30\n  header 9000 4500\n" + nec, lgPower, ""},
        {"huge bit counts", lgTimings + "  pre_data_bits 4294967280\n", "-", "bits in all"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRows(lircRemote(c.parameters, code), {{"KEY_POWER", c.line, c.note}});
    }
}

TEST(Lircd, ReadsRawCodesAsTheKernelWould)
{
    expectRows("begin remote\n  name cap\n  flags RAW_CODES\n  begin raw_codes\n"
               "    name KEY_POWER\n      " +
                   durations({0x04, 0xFB, 0x08, 0xF7}) +
                   "\n    name End\n      2400 600 1200\n      600 600\n"
                   "  end raw_codes\nend remote\n",
               {{"KEY_POWER", lgPower, "remote cap: raw: one NEC frame"},
                {"End", "-", "rejects duration 1"}});
}

// Found by fuzzing: a remote with both sections once read a raw key's missing code.
TEST(Lircd, KeepsRawAndCodedKeysOfOneRemoteApart)
{
    expectRows("begin remote\n  name both\n" + lg("") +
                   "  begin raw_codes\n    name KEY_RAW\n  end raw_codes\n"
                   "  begin codes\n    KEY_POWER 0x10EF\n  end codes\nend remote\n",
               {{"KEY_RAW", "-", "no NEC frame"}, {"KEY_POWER", lgPower, "0x20DF10EF"}});
    expectFailures({{"durations after a coded key",
                     "begin remote\n  name r\n  begin codes\n    A 0x1\n  end codes\n"
                     "  begin raw_codes\n    9000\n  end raw_codes\nend remote\n",
                     7, "raw_codes hold"}});
}

TEST(Lircd, NamesTheMalformedLine)
{
    expectFailures({
        {"a code that is no number", lircRemote(lg(""), "    KEY_A 0x10EG\n"), 15, "is a number"},
        {"an indented # comment among codes", lircRemote(lg(""), "    # HASH 0x10EF\n"), 15,
         "is a number, not 'HASH'"},
        {"a key without a code", lircRemote(lg(""), "    KEY_A\n"), 15, "without a code"},
        {"an indented # among the parameters", lircRemote("  # just a guess\n" + lg(""), ""), 3,
         "indented #"},
        {"begin inside codes", lircRemote(lg(""), "  begin codes\n"), 15, "'begin' inside"},
        {"the end missing", "begin remote\n  name tv\n  begin codes\n    A 0x1\n", 4,
         "ends inside a remote"},
        {"an include", "include \"other.conf\"\n", 1, "include"},
        {"a number that is none", lircRemote("  bits sixteen\n", ""), 3, "not a number"},
        {"a pair of one", lircRemote("  header 9000\n", ""), 3, "two numbers"},
        {"raw durations before a name",
         "begin remote\n  name r\n  begin raw_codes\n    9000 4500\n  end raw_codes\nend remote\n",
         4, "raw_codes hold"},
    });
}

TEST(Files, AreRecognisedByTheirContent)
{
    const struct Case {
        const char* what;
        std::string text;
        std::size_t signals; // or -1 for a failure that names the formats
    } cases[] = {
        {"Flipper", flipper(parsed("A", "NEC", "04 00 00 00", "08 00 00 00")), 1},
        {"Flipper library", "Filetype: IR library file\nVersion: 1\n", 0},
        {"Flipper after a BOM and blank lines", "\xEF\xBB\xBF\n\nFiletype: IR signals file\n", 0},
        {"irdb with spaces and capitals", "FunctionName, Protocol, Device, Subdevice, Function\n",
         0},
        {"keymap after comments", "# generated\n\n[[protocols]]\n", 0},
        {"lircd.conf", "#\n# remote\n#\nbegin remote\nend remote\n", 0},
        {"lircd.conf with CR LF", "begin remote\r\n  name tv\r\nend remote\r\n", 0},
        {"empty", "", static_cast<std::size_t>(-1)},
        {"blank lines", "\n\n  \n", static_cast<std::size_t>(-1)},
        {"Flipper's header not first", "Version: 1\nFiletype: IR signals file\n",
         static_cast<std::size_t>(-1)},
        {"a Pronto hex code", "0000 006D 0022 0002 0157 00AC", static_cast<std::size_t>(-1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Signal> signals;
        Failure failure;
        const int status = readSignals(c.text, &signals, &failure);
        if (c.signals == static_cast<std::size_t>(-1)) {
            EXPECT_EQ(status, -1);
            EXPECT_NE(failure.what.find("format not recognised: not a Flipper IR file, an irdb "
                                        "CSV, an ir-keytable keymap (TOML) or a lircd.conf"),
                      std::string::npos)
                << failure.what;
        } else {
            EXPECT_EQ(status, 0) << failure.what;
            EXPECT_EQ(signals.size(), c.signals);
        }
    }
}

TEST(Files, BinaryContentIsRefused)
{
    for (const std::string& text :
         {std::string("Filetype: IR signals file\n") + '\0' + "name: A\n", std::string(4096, '\0'),
          std::string("begin remote\n\x1b[31m\n"),
          std::string("\x7f"
                      "ELF")}) {
        std::vector<Signal> signals;
        Failure failure;
        EXPECT_EQ(readSignals(text, &signals, &failure), -1);
        EXPECT_NE(failure.what.find("a binary file"), std::string::npos) << failure.what;
    }
}

TEST(FindSignal, ExactThenCaseInsensitiveThenClosest)
{
    std::vector<Signal> signals(6);
    const char* names[] = {"Power", "Power#2", "Vol_up", "Vol_dn", "MUTE", "mute"};
    for (std::size_t i = 0; i < signals.size(); ++i)
        signals[i].name = names[i];
    const struct Case {
        const char* key;
        int index;
        const char* error;
    } cases[] = {
        {"Power", 0, ""},
        {"Power#2", 1, ""},
        {"power", 0, ""},
        {"VOL_UP", 2, ""},
        {"MUTE", 4, ""},
        {"mute", 5, ""},
        {"Mute", -1, "matches 2 names but for case: MUTE, mute"},
        {"Vol+", -1, "the closest: Vol_up, Vol_dn"},
        {"pow", -1, "the closest: Power, Power#2"},
        {"Power#3", -1, "the closest: Power#2, Power"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        std::string error;
        EXPECT_EQ(findSignal(signals, c.key, &error), c.index);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(findSignal({}, "Power", &error), -1);
    EXPECT_NE(error.find("no signals"), std::string::npos) << error;
}
