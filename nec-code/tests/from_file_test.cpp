// The program with -S and --from, run as a shell runs it: what reaches stdout and
// stderr, and the status.  A line goes to stdout only when the signal can be sent, so
// "nec-code --from f KEY > expected_message.txt" never leaves a wrong line behind.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "run_program.h"

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result necCode(const std::vector<std::string>& args, bool stdoutFull = false, int user = -1)
{
    Command command;
    command.program = NEC_CODE_PATH;
    command.args = args;
    command.stdoutFull = stdoutFull;
    command.user = user;
    const Outcome o = runCommand(command);
    return {o.status, o.out, o.err};
}

std::string sample(const char* name)
{
    return std::string(NEC_CODE_SAMPLES) + "/" + name;
}

// One line on stderr, nothing on stdout, status 2; the line holds `part`.
void expectRefusal(const Result& run, const std::string& part)
{
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
}

} // namespace

TEST(Scancodes, PrintTheLineTheKernelMeans)
{
    const struct Case {
        std::vector<std::string> args;
        const char* line;
        const char* err;
    } cases[] = {
        {{"-S", "nec:0x408"}, "00100000110111110001000011101111\n", ""},
        {{"--scancode", "necx:0xEE005D"}, "01110111000000001011101001000101\n", ""},
        {{"--scancode=nec32:0x12345678"}, "00101100010010000001111001101010\n", ""},
        {{"-S", "necx:0x04fb08"},
         "00100000110111110001000011101111\n",
         "nec-code: note: necx 0x4fb08 (the kernel refuses it as not canonical; its decoder "
         "reads these bytes as nec 0x408)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Result run = necCode(c.args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, c.line);
        EXPECT_EQ(run.err, c.err);
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-S", "nec:0x10000"},
                                               {"-S", "rc5:0x1e01"},
                                               {"-S"},
                                               {"-S", "nec:1", "2"},
                                               {"--scancode="},
                                               {"-S", "nec"}}) {
        SCOPED_TRACE(args.back());
        expectRefusal(necCode(args), "nec-code");
    }
}

TEST(FromFile, ListsEverySignalTabSeparated)
{
    const Result run = necCode({"--from", sample("codes.csv")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(
        run.out,
        "POWER\t00100000110111110001000011101111\tNEC1 device 4 subdevice -1 function 8 (251)\n"
        "INPUT\t00011101000000001011101001000101\tNEC1 device 184 subdevice 0 function 93\n"
        "VOL+\t00100000110111110100000010111111\tnec2 device 4 subdevice -1 function 2 (251)\n"
        "MENU, TOP\t00100000110111110011000011110011\tNEC1-f16 device 4 subdevice 251 "
        "function 53004\n"
        "(unnamed, line 6)\t00100000110111111001000001101111\tNEC1 device 4 subdevice -1 "
        "function 9 (251)\n"
        "PLAY\t-\tNECx2: a 4.5 ms lead burst, not NEC's 9 ms\n"
        "STOP\t-\tRC5: not NEC\n"
        "POWER#2\t00100000110111110011000011001111\tNEC1 device 4 subdevice -1 function 12 "
        "(251)\n");
}

TEST(FromFile, PrintsTheLineOfTheSignalNamed)
{
    const struct Case {
        const char* file;
        const char* key;
        const char* line;
    } cases[] = {
        {"remote.ir", "Power", "00100000110111110001000011101111\n"},
        {"remote.ir", "Power#2", "00100000110111111001000001101111\n"},
        {"remote.ir", "mute", "00100000110111110101000010101111\n"},
        {"codes.csv", "menu, top", "00100000110111110011000011110011\n"},
        {"keymap.toml", "KEY_INPUT", "01110111000000001011101001000101\n"},
        {"lircd.conf", "#", "00100000110111111000000001111111\n"},
        {"lircd.conf", "End", "00100000110111110000000011111111\n"},
        {"lircd.conf", "KEY_MUTE", "00100000110111111001000001101111\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.key);
        const Result run = necCode({"--from", sample(c.file), c.key});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.line);
        EXPECT_EQ(run.err, "");
    }
}

TEST(FromFile, RefusesWithOneLineAndNothingOnStdout)
{
    TempDir dir;
    dir.write("broken.conf", "begin remote\n  name tv\n  bits sixteen\nend remote\n");
    dir.write("unknown.txt", "0000 006D 0022 0002\n");
    dir.write("binary.ir", std::string("Filetype: IR signals file\n\0\0\0", 29));
    dir.write("big.csv",
              "functionname,protocol,device,subdevice,function\n" + std::string(8u << 20u, '\n'));
    (void)mkfifo(dir.file("fifo").c_str(), 0600);
    const struct Case {
        std::vector<std::string> args;
        std::string part;
    } cases[] = {
        {{"--from", sample("remote.ir"), "Vol_up"},
         "remote.ir: Vol_up cannot be sent: Samsung32: a 4.5 ms lead burst"},
        {{"--from", sample("remote.ir"), "Source"}, "Source cannot be sent: raw: a 4.5 ms lead"},
        {{"--from", sample("lircd.conf"), "KEY_POWER#2"}, "16 bits in all"},
        {{"--from", sample("remote.ir"), "Pwr"}, "no signal named 'Pwr'; the closest: Power"},
        {{"--from", sample("keymap.toml"), "KEY_NUMERIC_1"}, "protocol rc-5: not NEC"},
        {{"--from", dir.file("missing.ir")}, "cannot open " + dir.file("missing.ir")},
        {{"--from", dir.path()}, "cannot read " + dir.path() + ": Is a directory"},
        {{"--from", dir.file("broken.conf")}, "broken.conf:3: 'sixteen' is not a number"},
        {{"--from", dir.file("unknown.txt"), "Power"}, "unknown.txt: format not recognised"},
        {{"--from", dir.file("binary.ir")}, "binary.ir: a binary file"},
        {{"--from", dir.file("big.csv")}, "larger than 8 MiB"},
        {{"--from", dir.file("fifo")}, "format not recognised"},
        {{"--from", "/dev/null"}, "format not recognised"},
        {{"--from", "/dev/zero"}, "larger than 8 MiB"},
        {{"--from"}, "usage"},
        {{"--from", sample("remote.ir"), "Power", "more"}, "usage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        expectRefusal(necCode(c.args), c.part);
    }
}

TEST(FromFile, FailsWhenTheOutputCannotBeWritten)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--from", sample("remote.ir")}, {"--from", sample("remote.ir"), "Power"}}) {
        const Result run = necCode(args, true);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    }
}

// Result by root, as under sudo, the file is read as nobody, who may not read it.
TEST(FromFile, SaysWhenTheUserMayNotReadTheFile)
{
    TempDir dir;
    dir.write("remote.ir", "Filetype: IR signals file\n");
    (void)chmod(dir.file("remote.ir").c_str(), 0600);
    (void)chmod(dir.path().c_str(), 0755);
    const bool root = geteuid() == 0;
    const Result run = necCode({"--from", dir.file("remote.ir")}, false, root ? 65534 : -1);
    if (!root && run.status == 0)
        GTEST_SKIP() << "this user may read its own 0600 file: run the tests as root";
    expectRefusal(run, "cannot open " + dir.file("remote.ir") + ": Permission denied");
}
