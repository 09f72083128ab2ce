// beamfile run with root's rights on behalf of another user: under sudo (SUDO_UID
// and SUDO_GID set) or installed set-user-ID root.  The message file is read with
// that user's rights, so what that user may not read is not read, never with
// root's in their place, and root's rights are back for pigpio.  These run as
// root, and skip for anyone else (the users check runs the suite as both).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "10100101000000001111111100110011";
const std::string sent =
    "code size is 32\npulse count is 2103\nResult: 4174\nIR message sent is " + code32 + "\n\n";
const std::string notOpened = "Could not open file expected_message.txt";
const std::string noCode = "No code to send in expected_message.txt\n";
const std::string bySudo = "for whom sudo runs beamfile";
const std::string bySetuid = "who ran this set-user-ID beamfile";

constexpr int nobody = 65534;
// A cross build's programs run through the emulator, which is what a direct start
// or a set-user-ID bit would then apply to.
constexpr bool crossBuild = BEAM_CROSSCOMPILING != 0;

std::string deniedTo(int uid, int gid, const std::string& forWhom)
{
    return "beamfile: expected_message.txt was opened as user " + std::to_string(uid) + " (group " +
           std::to_string(gid) + "), " + forWhom + ": Permission denied\n";
}

std::string namesNoOne(const std::string& setting)
{
    return "beamfile: " + setting +
           " names no one, so expected_message.txt is not read: sudo sets it to the id of the "
           "user it runs beamfile for\n";
}

// What expected_message.txt is, in a folder that belongs to the user beamfile runs for.
enum class Kind {
    userFile,       // the user's own, mode 600
    rootFile,       // root's, mode 600
    rootGroupFile,  // root's, mode 640, group root
    worldFile,      // root's, mode 644
    linkToRootFile, // a link to a root-only file beside it
    linkOutOfDir,   // a link to a file anyone may read, in a folder only root may enter
    linkChain,      // a link to a link of the user's to that file
    linkToUserFile, // a link to a file of the user's beside it
    userFifo,       // the user's FIFO, with no writer
    rootFifo,       // root's FIFO, mode 600
    memberGroup,    // root's, mode 640, of a group the user is a member of
};

// The folders of one case: the user's, and one only root may enter.
struct Place {
    TempDir home;
    TempDir vault;
};

// A link's own owner; its mode is not its own (chmod would change its target's).
void ownLink(const std::string& path, int uid, int gid)
{
    ASSERT_EQ(lchown(path.c_str(), static_cast<uid_t>(uid), static_cast<gid_t>(gid)), 0) << path;
}

void own(const std::string& path, int uid, int gid, mode_t mode)
{
    ownLink(path, uid, gid);
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void layOut(const Place& place, Kind kind, int uid, int gid, int group = 0)
{
    const std::string message = place.home.file("expected_message.txt");
    const std::string hidden = place.vault.file("code");
    place.vault.write("code", code32);
    own(hidden, 0, 0, 0644);
    own(place.vault.path(), 0, 0, 0700);
    own(place.home.path(), uid, gid, 0755);
    place.home.write("secret", code32);
    own(place.home.file("secret"), 0, 0, 0600);
    place.home.write("mine", code32);
    own(place.home.file("mine"), uid, gid, 0600);
    switch (kind) {
    case Kind::userFile:
    case Kind::rootFile:
    case Kind::rootGroupFile:
    case Kind::worldFile:
    case Kind::memberGroup:
        place.home.write("expected_message.txt", code32);
        break;
    case Kind::linkToRootFile:
        ASSERT_EQ(symlink("secret", message.c_str()), 0);
        break;
    case Kind::linkOutOfDir:
        ASSERT_EQ(symlink(hidden.c_str(), message.c_str()), 0);
        break;
    case Kind::linkChain:
        ASSERT_EQ(symlink(hidden.c_str(), place.home.file("hop").c_str()), 0);
        ownLink(place.home.file("hop"), uid, gid);
        ASSERT_EQ(symlink("hop", message.c_str()), 0);
        break;
    case Kind::linkToUserFile:
        ASSERT_EQ(symlink("mine", message.c_str()), 0);
        break;
    case Kind::userFifo:
    case Kind::rootFifo:
        ASSERT_EQ(mkfifo(message.c_str(), 0600), 0);
        break;
    }
    switch (kind) {
    case Kind::userFile:
    case Kind::userFifo:
        own(message, uid, gid, 0600);
        break;
    case Kind::rootFile:
    case Kind::rootFifo:
        own(message, 0, 0, 0600);
        break;
    case Kind::rootGroupFile:
        own(message, 0, 0, 0640);
        break;
    case Kind::worldFile:
        own(message, 0, 0, 0644);
        break;
    case Kind::memberGroup:
        own(message, 0, group, 0640);
        break;
    default:
        ownLink(message, uid, gid);
        break;
    }
}

// Why these cannot run here, or "" when they can: root, and a temporary folder the
// user can reach.
std::string cannotRun()
{
    if (geteuid() != 0) {
        return "needs root";
    }
    const TempDir probe;
    for (std::filesystem::path p = std::filesystem::path(probe.path()).parent_path();
         !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat s {};
        if (stat(p.c_str(), &s) != 0 || (s.st_mode & S_IXOTH) == 0) {
            return p.string() + " cannot be entered by other users";
        }
    }
    return "";
}

std::vector<std::string> simEnv(const Place& place)
{
    // The trace and the log in root's own folder: written there only with root's rights.
    return {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + place.vault.file("log"),
            "PIGPIO_SIM_VCD=" + place.vault.file("trace.vcd")};
}

// What a run's outcome must be; the log and trace show whether pigpio ran, as root.
void expectRun(const Outcome& run, const Place& place, const std::string& out, int status,
               const std::string& err)
{
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err, err);
    const bool sends = out == sent;
    const std::string log = place.vault.read("log");
    EXPECT_EQ(log.find("gpioInitialise") != std::string::npos, sends) << log;
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    struct stat trace {};
    if (sends && stat(place.vault.file("trace.vcd").c_str(), &trace) == 0) {
        EXPECT_EQ(trace.st_uid, 0u) << "pigpio ran without root's rights";
    } else {
        EXPECT_FALSE(sends) << "no trace";
    }
}

const std::vector<std::string> sudoNobody = {"SUDO_UID=65534", "SUDO_GID=65534"};

struct SudoCase {
    const char* what;
    Kind kind;
    std::vector<std::string> env;
    std::string out;
    int status;
    std::string err;
};

const std::vector<SudoCase> sudoCases = {
    {"user file", Kind::userFile, sudoNobody, sent, 0, ""},
    {"root only file", Kind::rootFile, sudoNobody, notOpened, 1, deniedTo(65534, 65534, bySudo)},
    {"root group file", Kind::rootGroupFile, sudoNobody, notOpened, 1,
     deniedTo(65534, 65534, bySudo)},
    {"file anyone may read", Kind::worldFile, sudoNobody, sent, 0, ""},
    {"link to a root only file", Kind::linkToRootFile, sudoNobody, notOpened, 1,
     deniedTo(65534, 65534, bySudo)},
    {"link out of the folder into a root only one", Kind::linkOutOfDir, sudoNobody, notOpened, 1,
     deniedTo(65534, 65534, bySudo)},
    {"links out of the folder into a root only one", Kind::linkChain, sudoNobody, notOpened, 1,
     deniedTo(65534, 65534, bySudo)},
    {"link to a user file", Kind::linkToUserFile, sudoNobody, sent, 0, ""},
    {"user FIFO", Kind::userFifo, sudoNobody, noCode, 1, ""},
    {"root only FIFO", Kind::rootFifo, sudoNobody, notOpened, 1, deniedTo(65534, 65534, bySudo)},
    // sudo run by root, or no sudo at all: root's own rights.
    {"sudo by root", Kind::rootFile, {"SUDO_UID=0", "SUDO_GID=0"}, sent, 0, ""},
    {"only SUDO_GID", Kind::rootFile, {"SUDO_GID=65534"}, sent, 0, ""},
    // Who the user is cannot be told: nothing is read, not even what anyone may read.
    {"SUDO_UID not a number",
     Kind::worldFile,
     {"SUDO_UID=nobody", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=nobody")},
    {"SUDO_UID empty",
     Kind::worldFile,
     {"SUDO_UID=", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=")},
    {"SUDO_UID negative",
     Kind::worldFile,
     {"SUDO_UID=-1", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=-1")},
    {"SUDO_UID with a sign",
     Kind::worldFile,
     {"SUDO_UID=+65534", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=+65534")},
    {"SUDO_UID with a blank",
     Kind::worldFile,
     {"SUDO_UID=65534 ", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=65534 ")},
    {"SUDO_UID of no one",
     Kind::worldFile,
     {"SUDO_UID=4294967295", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=4294967295")},
    {"SUDO_UID too large",
     Kind::worldFile,
     {"SUDO_UID=99999999999", "SUDO_GID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_UID=99999999999")},
    {"SUDO_UID without SUDO_GID",
     Kind::worldFile,
     {"SUDO_UID=65534"},
     notOpened,
     1,
     namesNoOne("SUDO_GID=(not set)")},
    {"SUDO_GID not a number",
     Kind::worldFile,
     {"SUDO_UID=65534", "SUDO_GID=0x10"},
     notOpened,
     1,
     namesNoOne("SUDO_GID=0x10")},
};

void PrintTo(const SudoCase& c, std::ostream* os)
{
    *os << c.what;
}

class UnderSudo : public testing::TestWithParam<SudoCase> {};

TEST_P(UnderSudo, ReadsAsTheUserItRunsFor)
{
    const std::string why = cannotRun();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const SudoCase& c = GetParam();
    const Place place;
    layOut(place, c.kind, nobody, nobody);
    std::vector<std::string> env = simEnv(place);
    env.insert(env.end(), c.env.begin(), c.env.end());
    const Outcome run = runProgram(installedProgram("beamfile"), place.home.path(), env);
    expectRun(run, place, c.out, c.status, c.err);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnderSudo, testing::ValuesIn(sudoCases), caseName<SudoCase>);

// A user listed as a member of a group other than its own, or none found.
struct Member {
    int uid = -1;
    int gid = -1;
    int group = -1;
};

Member someMember()
{
    Member found;
    setgrent();
    for (const group* g = getgrent(); g != nullptr && found.uid < 0; g = getgrent()) {
        for (char** name = g->gr_mem; *name != nullptr && g->gr_gid != 0; ++name) {
            const passwd* user = getpwnam(*name);
            if (user != nullptr && user->pw_uid != 0 && user->pw_gid != g->gr_gid) {
                found = {static_cast<int>(user->pw_uid), static_cast<int>(user->pw_gid),
                         static_cast<int>(g->gr_gid)};
                break;
            }
        }
    }
    endgrent();
    return found;
}

// The groups sudo's user has in the group database count, as they would for that
// user's own run.
TEST(UnderSudoGroups, AFileOfAGroupOfTheUsersIsRead)
{
    const std::string why = cannotRun();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const Member member = someMember();
    if (member.uid < 0) {
        GTEST_SKIP() << "no user here is a member of a group other than its own";
    }
    const Place place;
    layOut(place, Kind::memberGroup, member.uid, member.gid, member.group);
    std::vector<std::string> env = simEnv(place);
    env.push_back("SUDO_UID=" + std::to_string(member.uid));
    env.push_back("SUDO_GID=" + std::to_string(member.gid));
    expectRun(runProgram(installedProgram("beamfile"), place.home.path(), env), place, sent, 0, "");
}

// When the user's rights cannot be taken (root without the capability to change
// its user or groups), nothing is read, not even a file anyone may read.
TEST(UnderSudoSwitch, AFailedSwitchReadsNothing)
{
    const std::string why = cannotRun();
    if (!why.empty() || crossBuild) {
        GTEST_SKIP() << (why.empty() ? "setpriv cannot start a program of the target" : why);
    }
    const struct {
        const char* drop;
        const char* step;
    } cases[] = {{"-setuid", "seteuid"}, {"-setgid", "initgroups"}};
    for (const auto& c : cases) {
        const Place place;
        layOut(place, Kind::worldFile, nobody, nobody);
        Command command;
        command.program = "setpriv";
        command.args = {std::string("--bounding-set=") + c.drop, installedProgram("beamfile")};
        command.dir = place.home.path();
        command.env = simEnv(place);
        command.env.insert(command.env.end(), sudoNobody.begin(), sudoNobody.end());
        command.direct = true;
        expectRun(runCommand(command), place, notOpened, 1,
                  std::string("beamfile: cannot take the rights of user 65534 (group 65534), ") +
                      bySudo + ", to read expected_message.txt: " + c.step +
                      ": Operation not permitted; it is not read with any other\n");
    }
}

// A copy of the installed programs the given user can run, wherever the build lies.
std::string reachableCopy(const TempDir& install)
{
    namespace fs = std::filesystem;
    const fs::path stage = fs::path(installedProgram("beamfile")).parent_path().parent_path();
    fs::copy(stage, fs::path(install.path()) / "stage", fs::copy_options::recursive);
    EXPECT_EQ(chmod(install.path().c_str(), 0755), 0);
    return install.path() + "/stage/bin/beamfile";
}

// A user's own run, with SUDO_UID set to anything: the user's own rights, as ever.
TEST(UserRun, SudoVariablesGiveNoOtherRights)
{
    const std::string why = cannotRun();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const TempDir install;
    const std::string program = reachableCopy(install);
    for (const Kind kind : {Kind::userFile, Kind::rootFile}) {
        const Place place;
        layOut(place, kind, nobody, nobody);
        place.vault.write("log", "");
        own(place.vault.file("log"), nobody, nobody, 0600);
        own(place.vault.path(), 0, 0, 0755);
        std::vector<std::string> env = {"PIGPIO_SIM_CLOCK=virtual",
                                        "PIGPIO_SIM_LOG=" + place.vault.file("log"), "SUDO_UID=0",
                                        "SUDO_GID=0"};
        const Outcome run = runProgram(program, place.home.path(), env, {}, nobody);
        EXPECT_EQ(run.out, kind == Kind::userFile ? sent : notOpened);
        EXPECT_EQ(run.status, kind == Kind::userFile ? 0 : 1);
        EXPECT_EQ(run.err, "");
    }
}

// beamfile set-user-ID root, run by a user: read with that user's rights.  The copy
// is of the build tree's program, whose library path is absolute: for a
// set-user-ID program the loader ignores the installed one's $ORIGIN.
TEST(SetUserIdRun, ReadsAsTheUserWhoRanIt)
{
    const std::string why = cannotRun();
    if (!why.empty() || crossBuild) {
        GTEST_SKIP() << (why.empty() ? "the emulator would run, not the set-user-ID program" : why);
    }
    const TempDir install;
    struct statvfs mount {};
    ASSERT_EQ(statvfs(install.path().c_str(), &mount), 0);
    if ((mount.f_flag & ST_NOSUID) != 0) {
        GTEST_SKIP() << install.path() << " is on a file system mounted nosuid";
    }
    const std::string program = install.file("beamfile");
    std::filesystem::copy_file(BEAM_BUILD_BEAMFILE, program);
    own(install.path(), 0, 0, 0755);
    own(program, 0, 0, 04755);
    const struct {
        Kind kind;
        std::vector<std::string> env;
        std::string out;
        int status;
        std::string err;
    } cases[] = {
        {Kind::userFile, {}, sent, 0, ""},
        {Kind::linkToUserFile, {}, sent, 0, ""},
        {Kind::rootFile, {}, notOpened, 1, deniedTo(65534, 65534, bySetuid)},
        {Kind::linkOutOfDir, {}, notOpened, 1, deniedTo(65534, 65534, bySetuid)},
        {Kind::rootFile,
         {"SUDO_UID=0", "SUDO_GID=0"},
         notOpened,
         1,
         deniedTo(65534, 65534, bySetuid)},
    };
    for (const auto& c : cases) {
        const Place place;
        layOut(place, c.kind, nobody, nobody);
        std::vector<std::string> env = simEnv(place);
        env.insert(env.end(), c.env.begin(), c.env.end());
        Command command;
        command.program = program;
        command.dir = place.home.path();
        command.env = env;
        command.user = nobody;
        command.direct = true;
        expectRun(runCommand(command), place, c.out, c.status, c.err);
    }
}

} // namespace
