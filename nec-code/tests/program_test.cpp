// Runs the built program as a shell would, to check what reaches stdout, stderr and
// the exit status, which the functions alone cannot show.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "emulator.h"

namespace {

std::string read_all(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
}

// Returns the exit status, or -1 if the program did not exit normally.  Without
// out, stdout goes to /dev/full, where every write fails.
int run(std::vector<const char*> args, std::string* out, std::string* err)
{
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        return -1;
    std::vector<std::string> words = emulatorWords();
    words.emplace_back(NEC_CODE_PATH);
    std::vector<const char*> argv;
    argv.reserve(words.size() + args.size() + 1);
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out_fd = out != nullptr ? out_pipe[1] : open("/dev/full", O_WRONLY);
        dup2(out_fd, 1);
        dup2(err_pipe[1], 2);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    const std::string out_text = read_all(out_pipe[0]);
    *err = read_all(err_pipe[0]);
    if (out != nullptr)
        *out = out_text;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
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
