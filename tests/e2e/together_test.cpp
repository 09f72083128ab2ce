// Senders started together on the stand-in, as pigpio has them: while one runs, the
// lock file it holds keeps a second from starting ("GPIO Initialization failed",
// status 1, nothing sent).  The first is stopped (SIGSTOP, which no mask holds off)
// while it holds the lock, so that the second meets it however slow the machine
// (valgrind, qemu).  SIGCONT then wakes it, and pigpio's handler, which catches it
// like nearly every signal, ends it once its frame is out and pigpio terminated:
// status 255 and no closing line, as a Pi's pigpio does after Ctrl-Z and fg.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "00000000111111111010001001011101";
const std::string sent =
    "code size is 32\npulse count is 2103\nResult: 4174\nIR message sent is " + code32 + "\n\n";
const std::string continued = "code size is 32\npulse count is 2103\nResult: 4174\n";
const std::string refused = "code size is 32\npulse count is 2103\nGPIO Initialization "
                            "failed\nIR message sent is " +
                            code32 + "\n\n";

bool exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// The pid a lock file names once its holder has written it; 0 after 10 s without.
pid_t holderOf(const std::string& lock)
{
    for (int i = 0; i < 10000; ++i) {
        const std::string text = readFile(lock);
        if (!text.empty() && text.back() == '\n') {
            return static_cast<pid_t>(std::stol(text));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

bool stopped(pid_t pid)
{
    for (int i = 0; i < 2000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        for (int f = 0; f < 3 && stat >> field; ++f) {
        }
        if (field == "T" || field == "t") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A sender running in the background, stopped once it holds the lock.
class Holder {
  public:
    Holder(const std::string& dir, const std::string& lock, const std::vector<std::string>& env)
        : thread_(
              [this, dir, env] { outcome_ = runProgram(installedProgram("beamfile"), dir, env); }),
          pid_(holderOf(lock)), stopped_(pid_ > 0 && kill(pid_, SIGSTOP) == 0 && stopped(pid_))
    {
    }
    ~Holder()
    {
        if (thread_.joinable()) {
            finish();
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool holding() const
    {
        return stopped_;
    }
    // Lets it go on to its end, or ends it with `signal`.
    const Outcome& finish(int signal = SIGCONT)
    {
        if (pid_ > 0) {
            kill(pid_, signal);
            if (signal != SIGCONT) {
                kill(pid_, SIGCONT);
            }
        }
        thread_.join();
        return outcome_;
    }

  private:
    Outcome outcome_;
    std::thread thread_;
    pid_t pid_ = 0;
    bool stopped_ = false;
};

TEST(Together, ASecondSenderWhileOneRunsDoesNotStart)
{
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    const std::string lock = dir.file("pigpio.pid");
    Holder first(dir.path(), lock,
                 {"PIGPIO_SIM_LOCK_FILE=" + lock, "PIGPIO_SIM_LOG=" + dir.file("first.log")});
    ASSERT_TRUE(first.holding());
    const struct {
        const char* program;
        std::vector<std::string> args;
    } seconds[] = {{"beamfile", {}}, {"beamones", {}}, {"beam", {"-S", "rc5:0x1e0c"}}};
    for (const auto& [program, args] : seconds) {
        SCOPED_TRACE(program);
        const std::string log = dir.file(std::string(program) + ".log");
        const Outcome second =
            runProgram(installedProgram(program), dir.path(),
                       {"PIGPIO_SIM_LOCK_FILE=" + lock, "PIGPIO_SIM_LOG=" + log,
                        "PIGPIO_SIM_VCD=" + dir.file(std::string(program) + ".vcd")},
                       args);
        EXPECT_EQ(second.status, 1);
        EXPECT_NE(("\n" + second.out).find("\nGPIO Initialization failed\n"), std::string::npos)
            << second.out;
        EXPECT_NE(second.err.find(" initInitialise: Can't lock " + lock + "\n"), std::string::npos)
            << second.err;
        // Nothing sent: no call after the refused one, no trace.
        EXPECT_EQ(readFile(log).substr(readFile(log).find(' ') + 1), "gpioInitialise() = -1\n");
        EXPECT_FALSE(exists(dir.file(std::string(program) + ".vcd")));
    }
    const Outcome done = first.finish();
    EXPECT_EQ(done.status, 255);
    EXPECT_EQ(done.out, continued);
    const std::string log = readFile(dir.file("first.log"));
    EXPECT_LT(log.find("gpioTerminate()"), log.find("sigHandler: Unhandled signal 18")) << log;
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    EXPECT_FALSE(exists(lock));
}

// A sender killed while it sends leaves its lock file; the next one finds its pid
// dead, removes it and sends.
TEST(Together, AKilledSendersLockIsStale)
{
    TempDir dir;
    dir.write("expected_message.txt", code32 + "\n");
    const std::string lock = dir.file("pigpio.pid");
    Holder killed(dir.path(), lock, {"PIGPIO_SIM_LOCK_FILE=" + lock});
    ASSERT_TRUE(killed.holding());
    EXPECT_EQ(killed.finish(SIGKILL).signal, SIGKILL);
    ASSERT_TRUE(exists(lock));
    const Outcome next = runProgram(installedProgram("beamfile"), dir.path(),
                                    {"PIGPIO_SIM_LOCK_FILE=" + lock, "PIGPIO_SIM_CLOCK=virtual"});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(next.out, sent);
    EXPECT_FALSE(exists(lock));
}

// The default lock is the user's own: a second sender of the same user is refused,
// one of another user is not (as root, the other user is nobody).
TEST(Together, ByDefaultTheLockIsTheUsers)
{
    namespace fs = std::filesystem;
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run a sender as another user";
    }
    // A wrapper's own files (valgrind's logs in the build tree) need not be open to
    // another user.
    const char* wrapper = std::getenv("BEAM_TEST_WRAPPER");
    if (wrapper != nullptr && *wrapper != '\0') {
        GTEST_SKIP() << "runs a sender as another user, which the wrapper may not serve";
    }
    const int nobody = 65534;
    TempDir tmp; // TMPDIR of every sender, sticky and open to all like /tmp
    TempDir install;
    TempDir dir;
    ASSERT_EQ(chmod(tmp.path().c_str(), 01777), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    dir.write("expected_message.txt", code32 + "\n");
    const fs::path stage = fs::path(installedProgram("beamfile")).parent_path().parent_path();
    fs::copy(stage, fs::path(install.path()) / "stage", fs::copy_options::recursive);
    ASSERT_EQ(chmod(install.path().c_str(), 0755), 0);
    const std::string program = install.path() + "/stage/bin/beamfile";
    const std::vector<std::string> byDefault = {
        "PIGPIO_SIM_LOCK_FILE=", "XDG_RUNTIME_DIR=", "TMPDIR=" + tmp.path()};
    const std::string rootsLock = tmp.file("pigpio-sim-0.pid");
    Holder first(dir.path(), rootsLock, byDefault);
    ASSERT_TRUE(first.holding());

    const Outcome again = runProgram(program, dir.path(), byDefault);
    EXPECT_EQ(again.out, refused);
    EXPECT_NE(again.err.find("Can't lock " + rootsLock + "\n"), std::string::npos) << again.err;

    const Outcome other = runProgram(program, dir.path(), byDefault, {}, nobody);
    if (other.status == 125 || other.status == 126 || other.status == 127) {
        first.finish();
        GTEST_SKIP() << "cannot run beamfile as user " << nobody << ": " << other.err;
    }
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.out, sent);
    EXPECT_FALSE(exists(tmp.file("pigpio-sim-65534.pid")));

    EXPECT_EQ(first.finish().out, continued);
    EXPECT_FALSE(exists(rootsLock));
}

} // namespace
