// The programs, built once, sending through the kernel library: against the fake
// device (a libpigpio.so.1 of the library's core and tests/fake_device.cpp) and
// against the real library where no transmitter can be had.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "case_name.h"
#include "lirc_test.h"
#include "run_program.h"

namespace {

// Runs program in dir, loading libpigpio.so.1 from libraryDir before its own RUNPATH.
Outcome runIn(const TempDir& dir, const std::string& program, const std::string& libraryDir,
              std::vector<std::string> env = {})
{
    env.push_back("LD_LIBRARY_PATH=" + libraryDir);
    env.push_back("PIGPIO_LIRC_DT_ROOT=" + dir.path() + "/no-tree");
    return runProgram(program, dir.path(), env);
}

// The durations the fake device was given, from its log's "write" line.
Durations written(const std::string& log)
{
    Durations durations;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("write ", 0) == 0) {
            std::istringstream words(line.substr(6));
            uint32_t duration = 0;
            while (words >> duration) {
                durations.push_back(duration);
            }
        }
    }
    return durations;
}

TEST(ProgramTest, BeamfileSendsThroughTheKernel)
{
    const std::string code = "00000000111111111010001001011101";
    TempDir dir;
    dir.write("expected_message.txt", code + "\n");
    const Outcome result =
        runIn(dir, BEAMFILE, FAKE_LIBRARY_DIR, {"FAKE_LIRC_LOG=" + dir.path() + "/device.log"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "code size is 32\npulse count is 2103\nResult: 67\nIR message sent is " +
                              code + "\n\n");
    EXPECT_EQ(result.err, "");
    const std::string log = dir.read("device.log");
    EXPECT_EQ(log.substr(0, log.find("write")),
              "open /dev/lirc0\nfeatures\nlock\ncarrier 38462\nduty 50\n");
    EXPECT_EQ(written(log), necDurations(code));
}

TEST(ProgramTest, BeamonesSendsThroughTheKernel)
{
    TempDir dir;
    const Outcome result =
        runIn(dir, BEAMONES, FAKE_LIBRARY_DIR, {"FAKE_LIRC_LOG=" + dir.path() + "/device.log"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\nResult: 67\n"), std::string::npos) << result.out;
    EXPECT_EQ(written(dir.read("device.log")), necDurations(std::string(32, '1')));
}

TEST(ProgramTest, AFailedSendIsAFailure)
{
    TempDir dir;
    dir.write("expected_message.txt", "1010\n");
    const Outcome result =
        runIn(dir, BEAMFILE, FAKE_LIBRARY_DIR,
              {"FAKE_LIRC_LOG=" + dir.path() + "/device.log", "FAKE_LIRC_WRITE_ERRNO=19"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\nResult: -132\n"), std::string::npos) << result.out;
    EXPECT_NE(
        result.err.find(std::string("/dev/lirc0 could not send the wave: ") + std::strerror(19)),
        std::string::npos)
        << result.err;
}

// The real library, on what is no transmitter: pigpio did not start.
TEST(ProgramTest, NoTransmitterIsAnInitialisationFailure)
{
    TempDir dir;
    dir.write("expected_message.txt", "1010");
    for (const char* device : {"/dev/null", "/nonexistent/lirc0"}) {
        const Outcome result =
            runIn(dir, BEAMFILE, LIBRARY_DIR, {std::string("PIGPIO_LIRC_DEVICE=") + device});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "code size is 4\npulse count is " +
                                  std::to_string(necRecords("1010").size()) +
                                  "\nGPIO Initialization failed\nIR message sent is 1010\n\n");
        EXPECT_NE(result.err.find(std::string(" gpioInitialise: ") +
                                  (device[1] == 'd' ? "/dev/null is not an IR device"
                                                    : "cannot open /nonexistent/lirc0")),
                  std::string::npos)
            << result.err;
    }
}

// ---- senders started together ------------------------------------------------------

constexpr uint64_t kMs = 1000000;
const std::string kCode = "00000000111111111010001001011101";

// One sender's send as the fake device saw it (FAKE_LIRC_TIMES), on CLOCK_MONOTONIC.
struct Send {
    std::map<std::string, uint64_t> at; // lock, carrier, write, written, unlock, close
    uint64_t operator[](const char* event) const
    {
        const auto found = at.find(event);
        return found != at.end() ? found->second : 0;
    }
};

Send sendIn(const std::string& times)
{
    Send send;
    std::istringstream lines(times);
    std::string event;
    uint64_t ns = 0;
    while (lines >> event >> ns) {
        send.at.emplace(event, ns); // the first of each
    }
    return send;
}

struct Senders {
    const char* what;
    std::vector<const char*> programs;
    bool oneAfterAnother;    // `beamfile; beamfile`, else all started at once
    bool asTwoUsers = false; // the second as nobody (only as root)
};

std::vector<Senders> senders()
{
    return {
        {"three_beamfile_at_once", {BEAMFILE, BEAMFILE, BEAMFILE}, false},
        {"beamones_with_beamfile", {BEAMONES, BEAMFILE}, false},
        {"beamfile_then_beamfile", {BEAMFILE, BEAMFILE}, true},
        {"two_users_at_once", {BEAMFILE, BEAMFILE}, false, true},
    };
}

class TogetherTest : public ::testing::TestWithParam<Senders> {};

// Each write takes the frame's time, as the kernel's does; the device's lock file
// is one for all of them, as /dev/lirc0 is one inode.  Every frame is whole, each
// starts at least 40 ms after the one before ended, and the carrier is set inside
// the sender's own hold.
TEST_P(TogetherTest, FramesNeverRunTogether)
{
    constexpr int nobody = 65534;
    if (GetParam().asTwoUsers && geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run a sender as another user";
    }
    TempDir dir;
    dir.write("expected_message.txt", kCode + "\n");
    // The device's inode is one for every user: one lock file any of them may open.
    dir.write("lirc0", "");
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.file("lirc0").c_str(), 0666), 0);
    const std::vector<const char*>& programs = GetParam().programs;
    std::vector<Outcome> outcomes(programs.size());
    const auto run = [&](size_t i) {
        const std::string n = std::to_string(i);
        outcomes[i] = runProgram(
            programs[i], dir.path(),
            {std::string("LD_LIBRARY_PATH=") + FAKE_LIBRARY_DIR,
             "PIGPIO_LIRC_DT_ROOT=" + dir.file("no-tree"), "FAKE_LIRC_LOG=" + dir.file("log" + n),
             "FAKE_LIRC_TIMES=" + dir.file("times" + n), "FAKE_LIRC_LOCK=" + dir.file("lirc0")},
            {}, GetParam().asTwoUsers && i == 1 ? nobody : -1);
    };
    std::vector<std::thread> started;
    for (size_t i = 0; i < programs.size(); ++i) {
        if (GetParam().oneAfterAnother) {
            run(i);
        } else {
            started.emplace_back(run, i);
        }
    }
    for (std::thread& sender : started) {
        sender.join();
    }
    if (GetParam().asTwoUsers && outcomes[1].status >= 125 && outcomes[1].status <= 127) {
        GTEST_SKIP() << "cannot run the sender as user " << nobody << ": " << outcomes[1].err;
    }
    std::vector<Send> sends;
    for (size_t i = 0; i < programs.size(); ++i) {
        EXPECT_EQ(outcomes[i].status, 0) << outcomes[i].err;
        EXPECT_NE(outcomes[i].out.find("\nResult: 67\n"), std::string::npos) << outcomes[i].out;
        EXPECT_EQ(written(dir.read("log" + std::to_string(i))).size(), 67u);
        sends.push_back(sendIn(dir.read("times" + std::to_string(i))));
    }
    std::sort(sends.begin(), sends.end(),
              [](const Send& a, const Send& b) { return a["lock"] < b["lock"]; });
    for (size_t i = 0; i < sends.size(); ++i) {
        const Send& s = sends[i];
        EXPECT_GT(s["lock"], 0u);
        EXPECT_LE(s["lock"], s["carrier"]);
        EXPECT_LE(s["carrier"], s["write"]);
        EXPECT_GE(s["written"] - s["write"], 67 * kMs); // the frame's 67,410 us
        EXPECT_GE(s["unlock"], s["written"] + 40 * kMs);
        if (i > 0) {
            const Send& before = sends[i - 1];
            EXPECT_GE(s["lock"], before["unlock"]);
            EXPECT_GE(s["write"], before["written"] + 40 * kMs);
            std::printf("frame %zu starts %.1f ms after frame %zu ended (held %.1f ms after it)\n",
                        i + 1, static_cast<double>(s["write"] - before["written"]) / 1e6, i,
                        static_cast<double>(before["unlock"] - before["written"]) / 1e6);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TogetherTest, ::testing::ValuesIn(senders()), caseName<Senders>);

// A sender that cannot have the device within 10 s says so and fails: Result is
// negative, the status 1, and nothing was written.
TEST(ProgramTest, ASenderGivesUpAfterTenSeconds)
{
    TempDir dir;
    dir.write("expected_message.txt", kCode);
    const int other = open(dir.file("lirc0").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    const Outcome result =
        runIn(dir, BEAMFILE, FAKE_LIBRARY_DIR,
              {"FAKE_LIRC_LOG=" + dir.file("log"), "FAKE_LIRC_LOCK=" + dir.file("lirc0")});
    close(other);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\nResult: -132\n"), std::string::npos) << result.out;
    EXPECT_TRUE(contains(result.err, " gpioWaveTxSend: /dev/lirc0 is busy: another sender has "
                                     "held it for 10 s; nothing was sent\n"));
    EXPECT_TRUE(written(dir.read("log")).empty());
    EXPECT_GE(result.seconds, 10.0);
}

} // namespace
