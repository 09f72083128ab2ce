// pigpio's lock file: held from gpioInitialise to gpioTerminate, refusing a second
// program while it is there, unless the program that left it is gone.
#include <csignal>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "case_name.h"
#include "sim_test.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The pid of a process that has ended.
pid_t deadPid()
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

class LockFile : public SimTest {
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        setenv("PIGPIO_SIM_LOCK_FILE", path().c_str(), 1);
        pigpioSimReset();
        pigpioSimUseVirtualClock(1);
    }
    std::string path() const
    {
        return dir_.file("pigpio.pid");
    }
    const TempDir& dir() const
    {
        return dir_;
    }

  private:
    TempDir dir_;
};

const std::string ownPid = std::to_string(getpid()) + "\n";

TEST_F(LockFile, HeldFromInitialiseToTerminate)
{
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(readFile(path()), ownPid);
    gpioTerminate();
    EXPECT_FALSE(exists(path()));
    ASSERT_EQ(gpioInitialise(), 79);
    pigpioSimReset(); // as a test does while initialised
    EXPECT_FALSE(exists(path()));
}

struct Left {
    const char* what;
    std::function<std::string()> content; // of the file found at gpioInitialise
    bool stale;                           // removed, and the initialisation goes on
};

const std::vector<Left> kLeft = {
    {"a_running_program", [] { return std::to_string(getppid()) + "\n"; }, false},
    {"a_program_that_is_gone", [] { return std::to_string(deadPid()) + "\n"; }, true},
    {"no_pid", [] { return std::string(); }, false},
    {"not_a_pid", [] { return std::string("pigpio\n"); }, false},
};

class LockLeft : public LockFile, public ::testing::WithParamInterface<Left> {};

// As pigpio judges a lock file: stale only when the pid in it is of no process.
TEST_P(LockLeft, RefusesUnlessItsProgramIsGone)
{
    const std::string content = GetParam().content();
    dir().write("pigpio.pid", content);
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &before), 0);
    CaptureStderr();
    const int result = gpioInitialise();
    const std::string err = GetCapturedStderr();
    if (GetParam().stale) {
        EXPECT_EQ(result, 79);
        EXPECT_EQ(err, "");
        EXPECT_EQ(readFile(path()), ownPid);
        return;
    }
    EXPECT_EQ(result, PI_INIT_FAILED);
    const std::regex note("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d initInitialise: Can't lock " +
                          path() + "\n");
    EXPECT_TRUE(std::regex_match(err, note)) << err;
    EXPECT_EQ(readFile(path()), content);
    // Refused before pigpio's signal handlers, as pigpio is.
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxBusy(), PI_NOT_INITIALISED);
    GetCapturedStderr();
}

INSTANTIATE_TEST_SUITE_P(Cases, LockLeft, ::testing::ValuesIn(kLeft), caseName<Left>);

TEST_F(LockFile, OneThatCannotBeMadeRefuses)
{
    setenv("PIGPIO_SIM_LOCK_FILE", dir().file("missing/pigpio.pid").c_str(), 1);
    pigpioSimReset();
    CaptureStderr();
    EXPECT_EQ(gpioInitialise(), PI_INIT_FAILED);
    EXPECT_NE(GetCapturedStderr().find("initInitialise: Can't lock " +
                                       dir().file("missing/pigpio.pid") + "\n"),
              std::string::npos);
}

// Without PIGPIO_SIM_LOCK_FILE: the user's runtime folder, else a name with the uid.
TEST_F(LockFile, ByDefaultOnePerUser)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string savedTmp = tmp != nullptr ? tmp : "";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime != nullptr ? runtime : "";
    unsetenv("PIGPIO_SIM_LOCK_FILE");
    setenv("XDG_RUNTIME_DIR", dir().path().c_str(), 1);
    pigpioSimReset();
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(readFile(dir().file("pigpio-sim.pid")), ownPid);
    gpioTerminate();
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", dir().path().c_str(), 1);
    pigpioSimReset();
    ASSERT_EQ(gpioInitialise(), 79);
    const std::string perUser = dir().file("pigpio-sim-" + std::to_string(geteuid()) + ".pid");
    EXPECT_EQ(readFile(perUser), ownPid);
    gpioTerminate();
    EXPECT_FALSE(exists(perUser));
    for (const auto& [name, value] :
         {std::pair{"TMPDIR", savedTmp}, {"XDG_RUNTIME_DIR", savedRuntime}}) {
        if (value.empty()) {
            unsetenv(name);
        } else {
            setenv(name, value.c_str(), 1);
        }
    }
}

} // namespace
