// Runs the built program as a shell would, to check what reaches stdout, stderr and
// the exit status, which the functions alone cannot show.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

// Returns the exit status, or 128 + the signal that ended the program.  Without
// out, stdout goes to /dev/full, where every write fails.
int run(const std::vector<const char*>& args, std::string* out, std::string* err)
{
    Command command;
    command.program = NEC_CODE_PATH;
    command.args.assign(args.begin(), args.end());
    command.stdoutFull = out == nullptr;
    const Outcome program = runCommand(command);
    *err = program.err;
    if (out != nullptr)
        *out = program.out;
    return program.status;
}

} // namespace

TEST(Program, PrintsTheLineForGoodCodes)
{
    const struct Case {
        std::vector<const char*> args;
        const char* line;
    } cases[] = {
        {{"0x00", "0x45"}, "00000000111111111010001001011101\n"},
        {{"--raw", "0x00FFA25D"}, "00000000111111111010001001011101\n"},
        {{"4", "8"}, "00100000110111110001000011101111\n"},
        {{"010", "0"}, "01010000101011110000000011111111\n"},
        {{"0x1234", "0x56"}, "00101100010010000110101010010101\n"},
        {{"--raw", "5"}, "00000000000000000000000000000101\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args[0]) + ' ' + c.args[1]);
        std::string out;
        std::string err;
        EXPECT_EQ(run(c.args, &out, &err), 0);
        EXPECT_EQ(out, c.line);
        EXPECT_EQ(err, "");
    }
}

TEST(Program, RefusesBadArgumentsWithOneLineOnStderr)
{
    const std::vector<const char*> cases[] = {
        {},
        {"0x00"},
        {"0x00", "0x45", "0x00"},
        {"--raw"},
        {"--raw", "0x1", "0x2"},
        {"--raw", ""},
        {"", "1"},
        {"1", ""},
        {"0x45x", "1"},
        {"0x10000", "0"},
        {"0", "256"},
        {"-1", "0"},
        {"--help", "1"},
    };
    for (const std::vector<const char*>& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        std::string out;
        std::string err;
        EXPECT_EQ(run(args, &out, &err), 2);
        EXPECT_EQ(out, "");
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
}

TEST(Program, PrintsHelpOnStdout)
{
    for (const char* flag : {"--help", "-h"}) {
        std::string out;
        std::string err;
        EXPECT_EQ(run({flag}, &out, &err), 0) << flag;
        EXPECT_EQ(out.rfind("usage: nec-code", 0), 0u) << flag;
        EXPECT_EQ(err, "") << flag;
    }
}

TEST(Program, FailsWhenTheLineCannotBeWritten)
{
    std::string err;
    EXPECT_EQ(run({"0x00", "0x45"}, nullptr, &err), 1);
    EXPECT_FALSE(err.empty());
}
