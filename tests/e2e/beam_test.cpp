// beam as installed, against the pigpio stand-in: the press it hands pigpio, what
// it says, and what it refuses before pigpio is touched.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "run_program.h"

namespace {

const std::string example = "00000000111111111010001001011101";

// beamfile's frame of a code as durations, as a user would write it for --raw.
std::string frameDurations(const std::string& code)
{
    std::string text = "+9000 -4500";
    for (const char bit : code) {
        text += bit == '1' ? " +562 -1688" : " +562 -562";
    }
    return text + " +562";
}

std::vector<std::string> tracedEnv(const TempDir& dir)
{
    return {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + dir.file("log"),
            "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")};
}

// The same durations at the same carrier are the same records: the line carries
// beam's press exactly as it carries beamfile's frame.
TEST(Beam, RawFrameIsBeamfilesFrameOnTheLine)
{
    for (const std::string& code : {example, std::string(32, '1')}) {
        SCOPED_TRACE(code);
        TempDir sent;
        sent.write("expected_message.txt", code + "\n");
        const Outcome file = runProgram(installedProgram("beamfile"), sent.path(), tracedEnv(sent));
        ASSERT_EQ(file.status, 0) << file.err;

        TempDir raw;
        const Outcome beam = runProgram(installedProgram("beam"), raw.path(), tracedEnv(raw),
                                        {"--raw", frameDurations(code)});
        ASSERT_EQ(beam.status, 0) << beam.err;
        EXPECT_EQ(beam.err, "");
        EXPECT_EQ(raw.read("trace.vcd"), sent.read("trace.vcd"));
        // The wave's records as pigpio was handed them, in the stand-in's log.
        const std::string fileLog = sent.read("log");
        const std::string beamLog = raw.read("log");
        const auto added = [](const std::string& log) {
            const size_t at = log.find("gpioWaveAddGeneric");
            return at == std::string::npos ? std::string()
                                           : log.substr(at, log.find('\n', at) - at);
        };
        EXPECT_FALSE(added(fileLog).empty()) << fileLog;
        EXPECT_EQ(added(beamLog), added(fileLog));
    }
}

// pigpio's answer to the send counts its control blocks, which is pigpio's
// business; the line itself must be there.
std::string withoutSendResult(const std::string& out)
{
    const std::string result = "Result: ";
    if (out.rfind(result, 0) != 0 || out.find('\n') == std::string::npos) {
        return out;
    }
    return result + "N" + out.substr(out.find('\n'));
}

TEST(Beam, SaysWhatItSentAndHowItEnded)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::string out;
        int status;
    } cases[] = {
        {"rc5 at 36 kHz",
         {"-S", "rc5:0x1e0c"},
         {},
         "Result: N\nSent rc5:0x1e0c (the kernel's encoder, toggle 0) on GPIO 24: 1 frame, 21 "
         "durations, 23114 us on air, 36000 Hz, duty cycle 0.5\n",
         0},
        {"another line",
         {"--gpio", "17", "--raw", "+1000 -500 +1000", "--carrier", "40000", "--duty", "33"},
         {},
         "Result: N\nSent raw durations on GPIO 17: 1 frame, 3 durations, 2500 us on air, 40000 "
         "Hz, duty cycle 0.33\n",
         0},
        {"pigpio does not start",
         {"-S", "nec:0x408"},
         {"PIGPIO_SIM_FAIL_INIT=1"},
         "GPIO Initialization failed\n",
         1},
        {"wave refused",
         {"-S", "sony12:0x10015"},
         {"PIGPIO_SIM_FAIL_WAVE_CREATE=-69"},
         "Wave creation failure!\n -69",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual"};
        env.insert(env.end(), c.env.begin(), c.env.end());
        const Outcome run = runProgram(installedProgram("beam"), dir.path(), env, c.args);
        EXPECT_EQ(withoutSendResult(run.out), c.out);
        EXPECT_EQ(run.status, c.status) << run.err;
    }
}

// --print writes what would be sent, and sends nothing.
TEST(Beam, PrintsThePressInsteadOfSendingIt)
{
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-S", "rc5:0x1e0c", "--print"},
         "# carrier 36000 Hz, duty cycle 0.5, 1 frame, 23114 us\n"
         "+889 -889 +1778 -1778 +889 -889 +889 -889 +889 -889 +1778 -889 +889 -889 +889 -1778 "
         "+889 -889 +1778 -889 +889\n"},
        {{"--print", "--raw", "pulse 600\nspace 600\npulse 1200\n", "--carrier", "40000"},
         "# carrier 40000 Hz, duty cycle 0.5, 1 frame, 2400 us\n+600 -600 +1200\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        TempDir dir;
        const Outcome run =
            runProgram(installedProgram("beam"), dir.path(), tracedEnv(dir), c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(dir.read("log"), "");
    }
}

// Whatever is wrong with the input: one line on standard error, status 2, nothing
// on standard output and pigpio never started.
TEST(Beam, RefusesBadInputWithOneLineAndSendsNothing)
{
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* says; // a part of the line
    } cases[] = {
        {"no signal", {"--print"}, "nothing to send"},
        {"two signals", {"-S", "nec:1", "--raw", "+100"}, "give one signal"},
        {"unknown option", {"--bogus", "1"}, "unknown option"},
        {"missing value", {"-S"}, "needs a value"},
        {"unknown protocol", {"-S", "samsung99:1"}, "samsung99"},
        {"scancode too large", {"-S", "rc5:0x10000"}, "rc5"},
        {"no scancode", {"-S", "nec"}, "nec"},
        {"gpio 32", {"--gpio", "32", "-S", "nec:1"}, "--gpio"},
        {"zero duration", {"--raw", "+9000 -0 +560"}, "0"},
        {"negative duration", {"--raw", "+9000 -4500 -560"}, "-560"},
        {"duration too long", {"--raw", "+16777215"}, "16777215"},
        {"control bytes", {"--raw", "+9000 \x1b[2J"}, "\\x1b"},
        {"carrier zero", {"--raw", "+9000", "--carrier", "0"}, "--carrier"},
        {"duty 1.0, the line always on", {"--raw", "+9000", "--duty", "1.0"}, "--duty"},
        {"duty 100 %", {"--raw", "+9000", "--duty", "100"}, "--duty"},
        {"duty 0", {"--raw", "+9000", "--duty", "0"}, "--duty"},
        {"carrier with -S", {"-S", "nec:1", "--carrier", "38000"}, "--carrier"},
        {"repeat with raw", {"--raw", "+9000", "--repeat", "1"}, "--repeat"},
        {"repeat not a number", {"-S", "nec:1", "--repeat", "x"}, "--repeat"},
        {"toggle without one", {"-S", "nec:1", "--toggle", "1"}, "toggle"},
        {"pronto odd", {"--pronto", "0000 006D 0001"}, "Pronto"},
        {"press too long for pigpio",
         {"--raw", "+157895"},
         "needs 12000 pulse records at 38000 Hz; one pigpio wave takes at most 11999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const Outcome run =
            runProgram(installedProgram("beam"), dir.path(), tracedEnv(dir), c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("beam: ", 0), 0U) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(dir.read("log"), "");
    }
}

} // namespace

namespace {

// A file the user beam runs for may not read is refused as beamfile refuses one, and
// nothing of it reaches a message; one the user may read is read.  As root only.
TEST(BeamUnderSudo, ReadsFilesAsTheUserItRunsFor)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const std::string secret = "KEY_SECRET_LINE";
    const std::string flipper = "Filetype: IR signals file\nVersion: 1\n#\nname: " + secret +
                                "\ntype: parsed\nprotocol: NEC\naddress: 04 00 00 00\n"
                                "command: 08 00 00 00\n";
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    dir.write("remote.ir", flipper);
    const std::vector<std::string> sudo = {"SUDO_UID=65534", "SUDO_GID=65534",
                                           "PIGPIO_SIM_CLOCK=virtual",
                                           "PIGPIO_SIM_LOG=" + dir.file("log")};
    const std::string path = dir.file("remote.ir");

    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const Outcome refused =
        runProgram(installedProgram("beam"), dir.path(), sudo, {"--from", path, secret});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "beam: " + path +
                               " was opened as user 65534 (group 65534), for whom sudo runs "
                               "beam: Permission denied\n");
    EXPECT_EQ(dir.read("log"), "");

    // Where the temporary folder's own parents keep other users out (a TMPDIR of
    // root's), no file in it is readable to the user, and only the refusal is checked.
    for (std::string p = dir.path(); p.size() > 1; p.resize(p.rfind('/'))) {
        struct stat s {};
        if (stat(p.c_str(), &s) != 0 || (s.st_mode & S_IXOTH) == 0) {
            GTEST_SKIP() << p << " cannot be entered by other users";
        }
    }
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    const Outcome listed = runProgram(installedProgram("beam"), dir.path(), sudo, {"--from", path});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.rfind(secret + "\t", 0), 0U) << listed.out;
}

} // namespace

namespace {

// The toggle of a remote's signal alternates from one press to the next, as the
// remote's own button does; the runtime folder keeps the last one, so a fresh one
// starts at the source's first press, and --toggle sets it without counting.
TEST(BeamFrom, ToggleAlternatesFromPressToPress)
{
    TempDir dir;
    TempDir runtime;
    const std::string file = std::string(BEAM_SAMPLES) + "/flipper.ir";
    const std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual",
                                          "XDG_RUNTIME_DIR=" + runtime.path()};
    const auto toggleOf = [&](const std::vector<std::string>& extra,
                              const std::vector<std::string>& environment) {
        std::vector<std::string> args = {"--from", file, "Next"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome run = runProgram(installedProgram("beam"), dir.path(), environment, args);
        EXPECT_EQ(run.status, 0) << run.err;
        const size_t at = run.out.find(", toggle ");
        return at == std::string::npos ? std::string("none") : run.out.substr(at + 9, 1);
    };
    EXPECT_EQ(toggleOf({}, env), "0");
    EXPECT_EQ(toggleOf({}, env), "1");
    EXPECT_EQ(toggleOf({"--toggle", "0"}, env), "0");
    EXPECT_EQ(toggleOf({}, env), "0");
    EXPECT_EQ(toggleOf({"--print"}, env), "none"); // printed, not sent: not counted
    EXPECT_EQ(toggleOf({}, env), "1");
    // Without a runtime folder every press is a first press.
    const std::vector<std::string> none = {"PIGPIO_SIM_CLOCK=virtual", "XDG_RUNTIME_DIR="};
    EXPECT_EQ(toggleOf({}, none), "0");
    EXPECT_EQ(toggleOf({}, none), "0");
}

// Every signal is listed with what it is and its press or why it cannot be sent;
// a key that cannot be sent is refused with that reason, and one that is not
// there with the closest names.
TEST(BeamFrom, ListsAndRefusesAsTheFileSays)
{
    TempDir dir;
    const std::string file = std::string(BEAM_SAMPLES) + "/flipper.ir";
    const std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual",
                                          "PIGPIO_SIM_LOG=" + dir.file("log")};
    const Outcome list = runProgram(installedProgram("beam"), dir.path(), env, {"--from", file});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Power\tFlipper NEC address 0x4 command 0x8\t1 frame, 67 durations"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("Steady\tFlipper raw, 3 durations at 38000 Hz\t- "), std::string::npos)
        << list.out;

    const struct {
        const char* key;
        const char* says;
    } refusals[] = {{"Steady", "Steady cannot be sent: duty_cycle 1"},
                    {"Nope", "no signal named 'Nope'"}};
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.key);
        const Outcome run =
            runProgram(installedProgram("beam"), dir.path(), env, {"--from", file, r.key});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(dir.read("log"), "");
}

} // namespace
