#include "ir_ctl_oracle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files.h"

ProtocolTimings v4lUtilsTimings()
{
    ProtocolTimings timings = kernelTimings();
    timings.nec = {9000, 4500, 563, 563, 1688};
    timings.sharp.zeroSpace = 1000;
    timings.sharp.oneSpace = 2000;
    timings.rc6LeadMark = 2667;
    timings.rc6LeadSpace = 889;
    timings.rc6ToggleHalf = 889;
    return timings;
}

#ifdef FAKE_LIRC_TRANSMITTER
namespace {

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> out;
    out.reserve(words.size() + 1);
    for (std::string& word : words)
        out.push_back(word.data());
    out.push_back(nullptr);
    return out;
}

// Whether the environment entry is of the variable that setting ("NAME=value") sets.
bool isSetBy(const char* entry, const std::string& setting)
{
    return std::strncmp(entry, setting.c_str(), setting.find('=') + 1) == 0;
}

// This process's environment with settings in place of the variables they name, as
// the shell's NAME=value prefix had it: the loader would take the last LD_PRELOAD of
// two, getenv the first.
std::vector<std::string> environmentWith(const std::vector<std::string>& settings)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* entry = *e;
        if (std::none_of(settings.begin(), settings.end(),
                         [entry](const std::string& setting) { return isSetBy(entry, setting); }))
            env.emplace_back(entry);
    }
    env.insert(env.end(), settings.begin(), settings.end());
    return env;
}

// Without a shell, so that no character of the temporary folder's path is read as
// shell syntax.  Standard error goes to /dev/null: only what reaches the fake
// transmitter is compared.  The wait status, or -1.
int runQuietly(std::vector<std::string> args, const std::vector<std::string>& settings)
{
    std::vector<std::string> env = environmentWith(settings);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    pid_t pid = 0;
    const bool started =
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
    (void)posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (!started || waitpid(pid, &status, 0) != pid)
        return -1;
    return status;
}

} // namespace

// Each run in a folder of its own: ctest runs the oracle's tests in processes at
// once, and other users run them too, so a file of one fixed name would be read by
// the wrong run.
IrCtlRun runIrCtl(const std::vector<std::string>& sendArgs)
{
    const TempDir dir;
    const std::string out = dir.file("ir-ctl-sent.txt");
    IrCtlRun run;
    std::vector<std::string> args{IR_CTL, "-d", dir.file("fake-lirc")};
    args.insert(args.end(), sendArgs.begin(), sendArgs.end());
    run.status = runQuietly(args, {"FAKE_LIRC_PATH=" + dir.file("fake-lirc"),
                                   "FAKE_LIRC_OUT=" + out, "LD_PRELOAD=" FAKE_LIRC_TRANSMITTER});
    std::ifstream sent(out);
    std::string word;
    while (sent >> word) {
        if (word == "carrier")
            sent >> run.carrierHz;
        else
            run.durations.push_back(static_cast<std::uint32_t>(std::stoul(word)));
    }
    return run;
}

#endif
