// lircd.conf presses against what LIRC itself sends: a few confs whose durations were
// measured with lircd and irsimsend, and every key of every remote of Debian's
// lirc-compat-remotes, and of samples/lircd, against irsimsend, LIRC's own encoder,
// and lircd.  samples/lircd holds what no compat remote with timings has: raw_codes,
// SPACE_FIRST, NO_HEAD_REP, REPEAT_HEADER, and remotes LIRC refuses.
#include "codes.h"
#include "lirc.h"
#include "sources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX has programs declare it
extern char** environ;

#include "files.h"
#include "run_program.h"

namespace {

// The frame of a space-encoded word, most significant bit first, as a conf's one and
// zero lines say, for expectations written from those measured bit patterns.
std::string spaceBits(std::uint64_t word, int bits, const char* one, const char* zero)
{
    std::string text;
    for (int i = bits - 1; i >= 0; --i)
        text += std::string(" ") + (((word >> static_cast<unsigned>(i)) & 1u) != 0 ? one : zero);
    return text;
}

const char rc5Conf[] = "begin remote\n name rc5\n bits 13\n flags RC5|CONST_LENGTH\n"
                       " one 889 889\n zero 889 889\n plead 889\n toggle_bit_mask 0x800\n"
                       " gap 113792\n begin codes\n  K 0x100C\n end codes\nend remote\n";
const char rc5FirstPress[] =
    "+889 -889 +889 -889 +1778 -889 +889 -889 +889 -889 +889 -889 +889 -889 +889 -889 +889 "
    "-1778 +889 -889 +1778 -889 +889 -90678";

const char necConf[] = "begin remote\n name nec\n bits 16\n flags SPACE_ENC|CONST_LENGTH\n"
                       " header 9000 4500\n one 560 1690\n zero 560 560\n ptrail 560\n"
                       " repeat 9000 2250\n pre_data_bits 16\n pre_data 0x20DF\n gap 108000\n"
                       " min_repeat 1\n begin codes\n  K 0x10EF\n end codes\nend remote\n";

const char sonyConf[] = "begin remote\n name sony\n bits 12\n flags SPACE_ENC|CONST_LENGTH\n"
                        " header 2400 600\n one 1200 600\n zero 600 600\n gap 45000\n"
                        " min_repeat 2\n frequency 40000\n begin codes\n  K 0xA90\n"
                        " end codes\nend remote\n";
const char sonyFrame[] = "+2400 -600 +1200 -600 +600 -600 +1200 -600 +600 -600 +1200 -600 +600 "
                         "-600 +600 -600 +1200 -600 +600 -600 +600 -600 +600 -600 +600";

const char noTimingsConf[] = "begin remote\n name usb\n bits 8\n eps 30\n aeps 100\n gap 200000\n"
                             " begin codes\n  K 0x10\n end codes\nend remote\n";

const char shortGapConf[] = "begin remote\n name short\n bits 8\n flags SPACE_ENC|CONST_LENGTH\n"
                            " one 560 1690\n zero 560 560\n gap 5000\n"
                            " begin codes\n  K 0xFF\n end codes\nend remote\n";

struct PressCase {
    const char* name;
    const char* conf;
    PressRequest request;
    std::string durations; // empty: refused, with `refusal` in the reason
    const char* refusal;
    int frames;
    int toggle;
    std::int32_t carrierHz;
};

class LircPressTest : public ::testing::TestWithParam<PressCase> {};

TEST_P(LircPressTest, SendsWhatLircSends)
{
    const PressCase& c = GetParam();
    std::vector<Signal> signals;
    Failure failure;
    ASSERT_EQ(readLircd(c.conf, &signals, &failure), 0) << failure.what;
    ASSERT_EQ(signals.size(), 1u);
    ASSERT_NE(signals[0].definition.remote, nullptr);
    Press press;
    std::string error;
    const int status = pressOf(signals[0].definition, c.request, &press, &error);
    if (c.durations.empty()) {
        EXPECT_EQ(status, -1);
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        return;
    }
    ASSERT_EQ(status, 0) << error;
    EXPECT_EQ(durationText(press.durations), c.durations);
    EXPECT_EQ(press.frames, c.frames);
    EXPECT_EQ(press.toggle, c.toggle);
    EXPECT_EQ(press.carrierHz, c.carrierHz);
    EXPECT_DOUBLE_EQ(press.dutyCycle, 0.5);
}

PressRequest request(int repeats, int toggle, unsigned earlier)
{
    PressRequest r;
    r.repeats = repeats;
    r.toggle = toggle;
    r.earlierPresses = earlier;
    return r;
}

const std::string necFrame =
    "+9000 -4500" + spaceBits(0x20DF10EF, 32, "+560 -1690", "+560 -560") + " +560";

INSTANTIATE_TEST_SUITE_P(
    Lircd, LircPressTest,
    ::testing::Values(
        // §6: the toggle bit is set on the first press (0x180C on air).
        PressCase{"rc5_first_press", rc5Conf, request(0, -1, 0), rc5FirstPress, "", 1, 1, 38000},
        PressCase{"rc5_toggle_asked_set", rc5Conf, request(0, 1, 7), rc5FirstPress, "", 1, 1,
                  38000},
        // §3.2, measured with lircd: full frame, the rest of 108 ms, the repeat code.
        PressCase{"nec_min_repeat_1", necConf, request(0, -1, 0),
                  necFrame + " -40020 +9000 -2250 +560 -96190", "", 2, -1, 38000},
        PressCase{"nec_min_repeat_1_held", necConf, request(1, -1, 0),
                  necFrame + " -40020 +9000 -2250 +560 -96190 +9000 -2250 +560 -96190", "", 3, -1,
                  38000},
        // §3.2, Sony: three identical frames, each followed by 25800.
        PressCase{"sony_min_repeat_2", sonyConf, request(0, -1, 0),
                  std::string(sonyFrame) + " -25800 " + sonyFrame + " -25800 " + sonyFrame +
                      " -25800",
                  "", 3, -1, 40000},
        PressCase{"no_timings", noTimingsConf, request(0, -1, 0), "", "no timings", 0, 0, 0},
        PressCase{"const_length_gap_too_short", shortGapConf, request(0, -1, 0), "",
                  "too short gap", 0, 0, 0}),
    [](const ::testing::TestParamInfo<PressCase>& test) { return test.param.name; });

// ---- lircd.conf folders against irsimsend ----

const char remotesDir[] = "/usr/share/lirc/remotes";

// Where the confs come from, and whether lircd presses each remote's every key or
// only its first: the compat remotes' keys differ only in their codes.
struct Folder {
    const char* name;
    const char* dir;
    const char* package; // what puts it there
    bool everyKey;
};

const Folder folders[] = {
    {"compat", remotesDir, "package lirc-compat-remotes", false},
    {"samples", IRCODE_SAMPLES "/lircd", "the source tree", true},
};

void PrintTo(const Folder& f, std::ostream* os)
{
    *os << f.dir;
}

class LircOracle : public ::testing::TestWithParam<Folder> {};

std::string lowerWord(std::string w)
{
    std::transform(w.begin(), w.end(), w.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return w;
}

// Each remote of a file as a file of its own: irsimsend sends keys of one remote only.
std::vector<std::string> remotesOf(const std::string& text)
{
    std::vector<std::string> remotes;
    std::string current;
    bool inside = false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string a;
        std::string b;
        words >> a >> b;
        const bool comment = line.rfind('#', 0) == 0;
        if (!comment && lowerWord(a) == "begin" && lowerWord(b) == "remote")
            inside = true;
        if (inside)
            current += line + "\n";
        if (inside && !comment && lowerWord(a) == "end" && lowerWord(b) == "remote") {
            remotes.push_back(current);
            current.clear();
            inside = false;
        }
    }
    return remotes;
}

struct Sim {
    std::vector<std::uint32_t> durations; // merged as a press merges them
    bool codesOnly = false;               // "code N" lines: LIRC has no timings to send
    int status = -1;
};

Sim irsimsend(const TempDir& dir, const std::vector<std::string>& args)
{
    (void)unlink(dir.file("simsend.out").c_str());
    Command send;
    send.program = IRSIMSEND;
    send.args = args;
    send.args.push_back(dir.file("remote.conf"));
    send.dir = dir.path();
    send.env = {"HOME=" + dir.path()};
    send.direct = true;
    Sim sim;
    sim.status = runCommand(send).status;
    std::istringstream in(dir.read("simsend.out"));
    std::string kind;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::uint32_t us = 0;
        words >> kind;
        if (kind == "code")
            sim.codesOnly = true;
        else if (words >> us)
            appendDuration(&sim.durations, kind == "pulse", us);
    }
    return sim;
}

// The key's press with min_repeat 0, as irsimsend sends a key.
int pressOnce(const Signal& s, unsigned earlier, Press* press, std::string* error)
{
    Definition d = s.definition;
    auto remote = std::make_shared<LircRemote>(*d.remote);
    remote->minRepeat = 0;
    d.remote = remote;
    PressRequest r;
    r.earlierPresses = earlier;
    return lircdPress(d, r, press, error);
}

std::string withoutRemote(const std::string& error)
{
    const std::size_t colon = error.find(": ");
    return error.rfind("remote ", 0) == 0 && colon != std::string::npos ? error.substr(colon + 2)
                                                                        : error;
}

struct Tally {
    int files = 0, remotes = 0, unread = 0, keys = 0, matched = 0, differed = 0, refused = 0;
    int duplicates = 0, irsimsendRuns = 0;
    std::map<std::string, int> refusals;
    std::vector<std::string> differences;
};

void differs(Tally* t, const std::string& file, const std::string& key, const Sim& sim,
             const Press& press)
{
    ++t->differed;
    if (t->differences.size() < 20)
        t->differences.push_back(file + " " + key +
                                 "\n  irsimsend: " + durationText(sim.durations) +
                                 "\n  lircdPress: " + durationText(press.durations));
}

// One remote: its sendable keys in one irsimsend run (the toggle flips once per key,
// so the k-th key is a press with k earlier ones); where that differs, key by key.
void sweepRemote(const std::string& file, const std::string& conf, Tally* t)
{
    std::vector<Signal> signals;
    Failure failure;
    if (readLircd(conf, &signals, &failure) != 0) {
        ++t->unread;
        return;
    }
    ++t->remotes;
    TempDir dir;
    dir.write("remote.conf", conf);
    std::set<std::string> seen;
    std::vector<const Signal*> sent;
    std::vector<Press> presses;
    std::map<std::string, std::string> refusedKeys; // a key for each reason
    for (const Signal& s : signals) {
        ++t->keys;
        if (!seen.insert(s.name).second) {
            ++t->duplicates; // irsimsend finds the first key of a name only
            continue;
        }
        Press press;
        std::string error;
        if (pressOnce(s, static_cast<unsigned>(sent.size()), &press, &error) != 0) {
            ++t->refused;
            ++t->refusals[withoutRemote(error)];
            refusedKeys.emplace(withoutRemote(error), s.name);
            continue;
        }
        sent.push_back(&s);
        presses.push_back(press);
    }
    for (const auto& refused : refusedKeys) {
        // LIRC must agree that it has nothing to send either.
        ++t->irsimsendRuns;
        const Sim sim = irsimsend(dir, {"-k", refused.second, "-c", "1"});
        EXPECT_TRUE(sim.durations.empty())
            << file << ": irsimsend sent " << refused.second << ", which the press refuses ("
            << refused.first << "): " << durationText(sim.durations);
        if (refused.first.find("no timings") != std::string::npos) {
            EXPECT_TRUE(sim.codesOnly)
                << file << ": no codes from irsimsend for " << refused.second;
        }
    }
    if (sent.empty())
        return;
    std::string list;
    std::vector<std::uint32_t> ours;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        list += sent[i]->name + "\n";
        for (std::size_t j = 0; j < presses[i].durations.size(); ++j)
            appendDuration(&ours, j % 2 == 0, presses[i].durations[j]);
    }
    dir.write("keys", list);
    ++t->irsimsendRuns;
    const Sim all = irsimsend(dir, {"-l", dir.file("keys"), "-c", "1"});
    EXPECT_EQ(all.status, 0) << file;
    if (all.durations == ours) {
        t->matched += static_cast<int>(sent.size());
        return;
    }
    for (const Signal* s : sent) {
        Press press;
        std::string error;
        ++t->irsimsendRuns;
        const Sim one = irsimsend(dir, {"-k", s->name, "-c", "1"});
        if (pressOnce(*s, 0, &press, &error) == 0 && one.durations == press.durations)
            ++t->matched;
        else
            differs(t, file, s->name, one, press);
    }
}

bool folderHere(const Folder& f, std::string* why)
{
    if (access(f.dir, R_OK) != 0) {
        *why = std::string(f.dir) + " is not there (" + f.package + ")";
        return false;
    }
    return true;
}

bool oracleHere(const Folder& f, std::string* why)
{
    if (std::string(IRSIMSEND).empty()) {
        *why = "irsimsend not found, or a cross build (package lirc; scripts/setup.sh test)";
        return false;
    }
    return folderHere(f, why);
}

// Every key of every remote of the folder: LIRC's own encoder and the press must put
// the same durations and gaps on air, or both must refuse it.
TEST_P(LircOracle, EveryKeyAsIrsimsendSendsIt)
{
    const Folder& folder = GetParam();
    std::string why;
    if (!oracleHere(folder, &why))
        GTEST_SKIP() << why;
    const auto start = std::chrono::steady_clock::now();
    Tally t;
    for (const std::string& file : filesIn(folder.dir, true)) {
        std::string text = readFile(file);
        const std::vector<std::string> remotes = remotesOf(text);
        if (remotes.empty())
            continue;
        ++t.files;
        for (const std::string& conf : remotes)
            sweepRemote(file, conf, &t);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << folder.dir << ": " << t.files << " files, " << t.remotes << " remotes ("
              << t.unread << " unread), " << t.keys << " keys: " << t.matched << " matched, "
              << t.differed << " differed, " << t.refused << " refused, " << t.duplicates
              << " repeated names; " << t.irsimsendRuns << " irsimsend runs, " << seconds << " s\n";
    for (const auto& r : t.refusals)
        std::cout << "  refused " << r.second << ": " << r.first << "\n";
    for (const std::string& d : t.differences)
        std::cout << "  differed: " << d << "\n";
    EXPECT_EQ(t.differed, 0);
    EXPECT_GT(t.matched, 0);
}

// ---- whole presses, repeats included, against lircd and its file driver ----

// The harness's runCommand waits for its program; lircd must keep running while
// irsend talks to it, and several remotes run at once, so these are spawned here.
pid_t spawnLogged(const std::vector<std::string>& argv, const std::string& log)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Its exit status (128 + signal), or -1 when it outlived the deadline and was killed:
// a daemon that hangs must fail the test, not stall it.
int reap(pid_t pid, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct DaemonCase {
    std::string file;
    std::string conf;
    std::string remote;
    std::vector<std::string> keys;
    std::uint64_t minRepeat = 0;
    bool repeatCode = false;
    bool toggles = false;                  // toggle_mask or a toggle bit
    std::vector<std::uint32_t> expected;   // both presses of each key, as lircdPress sends them
    std::vector<std::uint32_t> lircdSends; // the same, where lircd errs as it errs
    std::string fault;                     // the named difference, or ""
    std::vector<std::uint32_t> sent;       // what the file driver wrote
    std::string failure;                   // why lircd or irsend sent nothing to compare
};

// The --count the second press asks for: lircd then sends 1 + max(min_repeat, N) frames.
constexpr int sendCount = 3;

// One remote: lircd with the file driver, which writes "pulse N" / "space N" lines for
// all it sends, and irsend's plain press then a --count press of each key.  The second
// press also shows the toggle state flipping between presses.
void runDaemon(DaemonCase* c)
{
    TempDir dir;
    dir.write("remote.conf", c->conf);
    const std::string log = dir.file("lircd.log");
    const std::string socket = dir.file("lircd.socket");
    // -O /dev/null: the machine's lirc_options.conf must not choose anything here.
    const pid_t lircd = spawnLogged({LIRCD, "-O", "/dev/null", "--nodaemon", "--driver=file",
                                     "--device=" + dir.file("sent"), "--output=" + socket,
                                     "--pidfile=" + dir.file("lircd.pid"), "--logfile=" + log,
                                     dir.file("remote.conf")},
                                    dir.file("lircd.out"));
    if (lircd < 0) {
        c->failure = "lircd could not be started";
        return;
    }
    // The socket's file exists a moment before it listens; "ready" comes after.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (dir.read("lircd.log").find(" ready, using") == std::string::npos) {
        int status = 0;
        if (waitpid(lircd, &status, WNOHANG) == lircd) {
            c->failure = "lircd ended: " + dir.read("lircd.out") + dir.read("lircd.log");
            return;
        }
        if (std::chrono::steady_clock::now() > end) {
            c->failure = "lircd not ready in 5 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::vector<std::vector<std::string>> sends;
    for (const std::string& key : c->keys) {
        sends.push_back({IRSEND, "--device=" + socket, "SEND_ONCE", c->remote, key});
        sends.push_back({IRSEND, "--device=" + socket, "--count=" + std::to_string(sendCount),
                         "SEND_ONCE", c->remote, key});
    }
    for (const auto& send : sends) {
        if (!c->failure.empty())
            break;
        const pid_t irsend = spawnLogged(send, dir.file("irsend.out"));
        // irsend returns once lircd has sent every frame of the press.
        const int status = irsend < 0 ? 127 : reap(irsend, 15);
        if (status != 0)
            c->failure = "irsend " + send[send.size() - 3] + " exited " + std::to_string(status) +
                         ": " + dir.read("irsend.out");
    }
    kill(lircd, SIGTERM);
    reap(lircd, 5);
    std::istringstream in(dir.read("sent"));
    std::string kind;
    std::uint32_t us = 0;
    while (in >> kind >> us)
        appendDuration(&c->sent, kind == "pulse", us);
}

bool daemonHere(const Folder& f, std::string* why)
{
    if (std::string(LIRCD).empty()) {
        *why = "lircd or irsend not found, or a cross build (package lirc)";
        return false;
    }
    return folderHere(f, why);
}

// Where lircd 0.10.1 errs, the press sends what the file means instead.  The test
// requires lircd's output to be the fault's, so that each difference stays the one
// named.  rawRepeat: a raw remote with a repeat code builds that code in lircd's send
// buffer, but what goes out is as many values from the start of the raw code, the
// buffer's data still pointing at it (lib/transmit.c).
const char rawRepeat[] = "a raw remote's repeat code: lircd sends the start of the raw code";

// A press as lircd's rawRepeat fault sends it: each repeat frame's values (all but its
// gap) from the start of the raw code.
std::vector<std::uint32_t> withRawRepeat(const Definition& d, const Press& p)
{
    const std::size_t first = d.durations.size() + 1;
    if (p.frames < 2 || p.durations.size() < first)
        return p.durations;
    const std::size_t frame = (p.durations.size() - first) / static_cast<std::size_t>(p.frames - 1);
    std::vector<std::uint32_t> out = p.durations;
    for (std::size_t i = first; i < out.size(); ++i) {
        const std::size_t at = (i - first) % frame;
        if (at + 1 < frame && at < d.durations.size())
            out[i] = d.durations[at];
    }
    return out;
}

// The keys of the remote that the press sends, the first or all, with both presses of
// each as lircdPress sends them, the toggle state going on from one press to the
// next; none leaves c->keys empty, and *refusal the last reason.
void sentKeys(const LircRemote& remote, const std::vector<Signal>& signals, bool everyKey,
              DaemonCase* c, std::string* refusal)
{
    std::set<std::string> seen;
    for (const Signal& s : signals) {
        if (!seen.insert(s.name).second)
            continue; // lircd sends the first key of a name
        PressRequest r;
        r.earlierPresses = 2 * static_cast<unsigned>(c->keys.size());
        Press first;
        Press second;
        std::string error;
        if (lircdPress(s.definition, r, &first, &error) != 0) {
            *refusal = withoutRemote(error);
            continue;
        }
        ++r.earlierPresses;
        r.repeats = std::max(static_cast<int>(remote.minRepeat), sendCount) -
                    static_cast<int>(remote.minRepeat);
        if (lircdPress(s.definition, r, &second, &error) != 0)
            continue;
        const bool faulty = s.definition.raw && remote.repeat.pulse > 0 && remote.repeat.space > 0;
        c->fault = faulty ? rawRepeat : "";
        for (const Press* p : {&first, &second}) {
            const std::vector<std::uint32_t> lircd =
                faulty ? withRawRepeat(s.definition, *p) : p->durations;
            for (std::size_t j = 0; j < p->durations.size(); ++j) {
                appendDuration(&c->expected, j % 2 == 0, p->durations[j]);
                appendDuration(&c->lircdSends, j % 2 == 0, lircd[j]);
            }
        }
        c->keys.push_back(s.name);
        if (!everyKey)
            return;
    }
}

struct DaemonCases {
    std::vector<DaemonCase> cases;
    int refused = 0;                     // remotes with no key the press sends
    std::map<std::string, int> refusals; // their last reasons, counted
};

DaemonCases daemonCases(const Folder& folder)
{
    DaemonCases all;
    for (const std::string& file : filesIn(folder.dir, true)) {
        for (const std::string& conf : remotesOf(readFile(file))) {
            std::vector<Signal> signals;
            Failure failure;
            if (readLircd(conf, &signals, &failure) != 0 || signals.empty())
                continue;
            const LircRemote& remote = *signals[0].definition.remote;
            DaemonCase c;
            std::string lastRefusal;
            sentKeys(remote, signals, folder.everyKey, &c, &lastRefusal);
            if (c.keys.empty()) {
                ++all.refused;
                ++all.refusals[lastRefusal];
                continue;
            }
            c.file = file;
            c.conf = conf;
            c.remote = remote.name;
            c.minRepeat = remote.minRepeat;
            c.repeatCode = remote.repeat.pulse != 0 || remote.repeat.space != 0;
            c.toggles =
                remote.toggleMask != 0 || remote.toggleBitMask != 0 || remote.toggleBit != 0;
            all.cases.push_back(std::move(c));
        }
    }
    return all;
}

// lircd spends a press mostly waiting out its gaps: many at once cost no CPU.
void runDaemons(std::vector<DaemonCase>* cases)
{
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    workers.reserve(12);
    for (int i = 0; i < 12; ++i)
        workers.emplace_back([&] {
            for (std::size_t k; (k = next++) < cases->size();)
                runDaemon(&(*cases)[k]);
        });
    for (std::thread& w : workers)
        w.join();
}

struct DaemonTally {
    int matched = 0;
    int differed = 0;
    int failed = 0;
    int keys = 0;
    std::vector<std::string> shown;
    int withMinRepeat = 0;
    int withRepeatCode = 0;
    int withToggle = 0;
    std::map<std::string, int> faults; // remotes that differ as a named lircd fault says
};

DaemonTally tallied(const std::vector<DaemonCase>& cases)
{
    DaemonTally t;
    for (const DaemonCase& c : cases) {
        t.keys += static_cast<int>(c.keys.size());
        t.withMinRepeat += c.minRepeat > 0 ? 1 : 0;
        t.withRepeatCode += c.repeatCode ? 1 : 0;
        t.withToggle += c.toggles ? 1 : 0;
        if (!c.failure.empty()) {
            ++t.failed;
            t.shown.push_back(c.file + " " + c.remote + ": " + c.failure);
        } else if (c.sent == c.expected && c.fault.empty()) {
            ++t.matched;
        } else if (c.sent == c.lircdSends && c.sent != c.expected) {
            ++t.faults[c.fault];
        } else {
            ++t.differed;
            t.shown.push_back(c.file + " " + c.remote + " (min_repeat " +
                              std::to_string(c.minRepeat) + ")\n  lircd:      " +
                              durationText(c.sent) + "\n  lircdPress: " + durationText(c.expected) +
                              (c.fault.empty() ? "" : "\n  expected lircd's fault: " + c.fault));
        }
    }
    return t;
}

// The keys the press sends of every remote, pressed as irsend presses them: every
// frame and the gaps between them as lircd sends them.  A compat remote's keys are
// alike but for their codes, which irsimsend compares: of those, the first key only.
TEST_P(LircOracle, PressesWithRepeatsAsLircdSendsThem)
{
    const Folder& folder = GetParam();
    std::string why;
    if (!daemonHere(folder, &why))
        GTEST_SKIP() << why;
    const auto start = std::chrono::steady_clock::now();
    DaemonCases all = daemonCases(folder);
    runDaemons(&all.cases);
    const DaemonTally t = tallied(all.cases);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "lircd presses: " << all.cases.size() << " remotes, " << t.keys << " keys ("
              << t.withMinRepeat << " with min_repeat, " << t.withRepeatCode
              << " with a repeat code, " << t.withToggle << " toggling): " << t.matched
              << " matched, " << t.differed << " differed, " << t.failed << " lircd/irsend failed; "
              << all.refused << " remotes with no key the press sends; " << seconds << " s\n";
    for (const auto& r : all.refusals)
        std::cout << "  no key sent, " << r.second << ": " << r.first << "\n";
    for (const auto& f : t.faults)
        std::cout << "  lircd's own fault, " << f.second << " remotes: " << f.first << "\n";
    for (const std::string& d : t.shown)
        std::cout << "  " << d << "\n";
    EXPECT_EQ(t.differed, 0);
    EXPECT_EQ(t.failed, 0);
    EXPECT_GT(t.matched, 0);
}

INSTANTIATE_TEST_SUITE_P(Folders, LircOracle, ::testing::ValuesIn(folders),
                         [](const ::testing::TestParamInfo<Folder>& test) {
                             return std::string(test.param.name);
                         });

} // namespace
