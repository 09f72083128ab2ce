// beamfile as installed, given message files that are not plain text files, or
// plain files with bytes nobody meant: each finishes at once, reads no more than
// the start of the file, and either sends the frame of the digits in its first 32
// bytes (the same frame, to the microsecond, as a plain file of those digits
// would) or sends nothing.  docs/checks.md lists the cases with their outcomes.
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "case_name.h"
#include "files.h"
#include "run_program.h"

namespace {

const std::string code32 = "10100101000000001111111100110011";
const std::string noCode = "No code to send in expected_message.txt\n";
const std::string notOpened = "Could not open file expected_message.txt";

// Every run here is over in well under a second; a read of the whole 1 GiB file
// shows in the bytes read long before it shows in the time.
constexpr double quickSeconds = 5.0;
// The loader's reads of the libraries (about 7 KiB) and one 4 KiB stdio buffer
// of the message file.
constexpr long long fewBytes = 64 << 10;

std::string sentOutput(const std::string& line, int warnings, int bits)
{
    std::string out = "code size is " + std::to_string(line.size()) + "\n";
    for (int i = 0; i < warnings; ++i) {
        out += "Warning: Non-binary digit in command\n";
    }
    // 727 + 43 n records; 1 + (726 + 42 n) + (727 + 43 n) control blocks.
    return out + "pulse count is " + std::to_string(727 + 43 * bits) +
           "\nResult: " + std::to_string(1454 + 85 * bits) + "\nIR message sent is " + line +
           "\n\n";
}

void sparseGibibyte(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string end = "0000\n";
    ASSERT_EQ(write(fd, code32.data(), code32.size()), static_cast<ssize_t>(code32.size()));
    const off_t size = off_t{1} << 30;
    ASSERT_EQ(pwrite(fd, end.data(), end.size(), size - static_cast<off_t>(end.size())),
              static_cast<ssize_t>(end.size()));
    close(fd);
}

void unixSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd); // the name stays, with nobody listening
}

enum class Kind {
    bytes,        // a plain file of `content`
    linkTo,       // a symbolic link to `content`
    sparse,       // 1 GiB: code32, a hole, "0000\n" at the end
    fifo,         // a FIFO nobody has open for writing
    fifoWithLine, // a FIFO this test holds open for writing, `content` written
    socket,       // a UNIX socket's name
};

struct Case {
    const char* what;
    Kind kind;
    std::string content;
    std::string out;
    int status;
    const char* digits; // the code whose frame goes out; nullptr: nothing is sent
};

const std::vector<Case> cases = {
    {"link to dev zero", Kind::linkTo, "/dev/zero", noCode, 1, nullptr},
    {"link to dev null", Kind::linkTo, "/dev/null", noCode, 1, nullptr},
    {"dangling link", Kind::linkTo, "no-such-file", notOpened, 1, nullptr},
    {"link to itself", Kind::linkTo, "expected_message.txt", notOpened, 1, nullptr},
    {"sparse 1 GiB file", Kind::sparse, "", sentOutput(code32, 0, 32), 0, code32.c_str()},
    {"not UTF 8", Kind::bytes,
     "\xef\xbb\xbf"
     "10\xff\xfe"
     "01\n",
     sentOutput("\xef\xbb\xbf"
                "10\xff\xfe"
                "01\n",
                6, 4),
     0, "1001"},
    {"NUL inside the line", Kind::bytes,
     std::string("1010\0"
                 "0110\n",
                 10),
     sentOutput("1010", 0, 4), 0, "1010"},
    {"CR without LF", Kind::bytes, "1010\r0101", sentOutput("1010\r0101", 1, 8), 0, "10100101"},
    {"CR and more than 32 bytes", Kind::bytes, "\r" + code32 + "\n",
     sentOutput("\r" + code32.substr(0, 31), 1, 31), 0, "1010010100000000111111110011001"},
    {"FIFO with no writer", Kind::fifo, "", noCode, 1, nullptr},
    {"FIFO with a line waiting", Kind::fifoWithLine, "10100101\n", sentOutput("10100101\n", 1, 8),
     0, "10100101"},
    {"UNIX socket", Kind::socket, "", notOpened, 1, nullptr},
};

// Lays out expected_message.txt in dir; returns a descriptor to close after the
// run, or -1.
int layOut(const Case& c, const TempDir& dir)
{
    const std::string path = dir.file("expected_message.txt");
    switch (c.kind) {
    case Kind::bytes:
        dir.write("expected_message.txt", c.content);
        break;
    case Kind::linkTo:
        EXPECT_EQ(symlink(c.content.c_str(), path.c_str()), 0);
        break;
    case Kind::sparse:
        sparseGibibyte(path);
        break;
    case Kind::fifo:
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
    case Kind::fifoWithLine: {
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        // Read and write: on Linux this opens at once, with no reader yet.
        const int fd = open(path.c_str(), O_RDWR);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, c.content.data(), c.content.size()),
                  static_cast<ssize_t>(c.content.size()));
        return fd;
    }
    case Kind::socket:
        unixSocket(path);
        break;
    }
    return -1;
}

std::vector<std::string> simEnv(const TempDir& dir)
{
    return {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + dir.file("log"),
            "PIGPIO_SIM_VCD=" + dir.file("trace.vcd")};
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.what;
}

class HostileFile : public testing::TestWithParam<Case> {};

TEST_P(HostileFile, FinishesAtOnceAndSendsOnlyItsFirst32Bytes)
{
    const Case& c = GetParam();
    TempDir dir;
    const int heldOpen = layOut(c, dir);
    const Outcome run = runProgram(installedProgram("beamfile"), dir.path(), simEnv(dir));
    if (heldOpen >= 0) {
        close(heldOpen);
    }

    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.status, c.status);
    EXPECT_LT(run.seconds, quickSeconds);
    if (run.read >= 0) {
        EXPECT_LT(run.read, fewBytes);
    }
    const std::string log = dir.read("log");
    EXPECT_EQ(log.find("warning:"), std::string::npos) << log;
    EXPECT_EQ(log.find("gpioInitialise") != std::string::npos, c.digits != nullptr) << log;
    if (c.digits != nullptr) {
        // The line as a plain file of just those digits would drive it.
        TempDir plain;
        plain.write("expected_message.txt", c.digits);
        const Outcome reference =
            runProgram(installedProgram("beamfile"), plain.path(), simEnv(plain));
        ASSERT_EQ(reference.status, 0);
        const std::string trace = dir.read("trace.vcd");
        EXPECT_FALSE(trace.empty());
        EXPECT_EQ(trace, plain.read("trace.vcd"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileFile, testing::ValuesIn(cases), caseName<Case>);

// A file the user running beamfile may not read.  Root reads any file, so as
// root the program runs as nobody (65534), from a copy of the staged install
// that nobody can reach wherever the build tree lies.
TEST(HostileFileAccess, UnreadableFileIsNotOpened)
{
    namespace fs = std::filesystem;
    const bool root = geteuid() == 0;
    const int nobody = 65534;
    TempDir install;
    TempDir dir;
    std::string program = installedProgram("beamfile");
    dir.write("expected_message.txt", code32 + "\n");
    dir.write("log", "");
    if (root) {
        const fs::path stage = fs::path(program).parent_path().parent_path();
        fs::copy(stage, fs::path(install.path()) / "stage", fs::copy_options::recursive);
        program = install.path() + "/stage/bin/beamfile";
        ASSERT_EQ(chmod(install.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(dir.file("log").c_str(), 0666), 0);
        ASSERT_EQ(chmod(dir.file("expected_message.txt").c_str(), 0600), 0);
    } else {
        ASSERT_EQ(chmod(dir.file("expected_message.txt").c_str(), 0), 0);
    }
    const Outcome run = runProgram(
        program, dir.path(), {"PIGPIO_SIM_CLOCK=virtual", "PIGPIO_SIM_LOG=" + dir.file("log")}, {},
        root ? nobody : -1);
    if (root && (run.status == 125 || run.status == 126 || run.status == 127)) {
        GTEST_SKIP() << "cannot run beamfile as user " << nobody << ": " << run.err;
    }
    EXPECT_EQ(run.out, notOpened);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("log"), "");
}

} // namespace
