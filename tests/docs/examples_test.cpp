// Every example of the README and the manual pages, run as a reader would type it
// against the stand-in, so that no document can drift from the programs.
//
// An example is a block: in the README a ```console block (lines "$ COMMAND", each
// followed by its standard output as shown) or a ```sh block (commands, no output
// shown); in a page, a literal display in EXAMPLES, written as a console block.
// Each block is one session, run by sh in a fresh folder of its own holding copies of
// nec-code/tests/samples/, with the installed programs first on PATH.  A command runs
// when it is not in notRun below, on the kernel library's fake device when it is in
// onKernelPath; it must exit 0 and, where its output is shown, print exactly that.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "run_program.h"

namespace {

const std::string source = BEAM_SOURCE_DIR;

struct Step {
    std::string command;
    std::string output;
    bool shown = false; // the document shows its output
};

struct Block {
    std::string where; // document and line, for messages
    std::vector<Step> steps;
};

// The commands a test here cannot run, each with the reason: the test checks that
// each is still in a document, so this list cannot outlive what it excuses.
struct NotRun {
    const char* command;
    const char* reason;
};
const NotRun notRun[] = {
    {"scripts/run-example.sh", "needs root for apt-get on a fresh machine, and builds the "
                               "project in its clone; CI runs it as a stage of its own"},
    {"scripts/test.sh", "runs the whole suite, this test among it; CI's first stage"},
    {"sudo apt install pigpio cmake g++", "needs root, and Raspberry Pi OS's pigpio package"},
    {"sudo apt install cmake g++", "needs root"},
    {"cmake -S . -B build -DBEAM_BUILD_TESTS=OFF",
     "builds the project in its clone, for pigpio on a Pi; every CI stage builds"},
    {"cmake -S . -B build -DBEAM_PIGPIO=kernel -DBEAM_BUILD_TESTS=OFF",
     "builds the project in its clone; the kernel build of scripts/test.sh builds it"},
    {"cmake --build build", "builds the project in its clone"},
    {"sudo cmake --install build", "needs root"},
    {"sudo systemctl stop pigpiod 2>/dev/null", "needs root, and a Pi's pigpio daemon"},
    {"sudo beamfile", "needs root and a Pi 1 to 4 with pigpio"},
    {"sudo beamones", "needs root and a Pi 1 to 4 with pigpio"},
    {"ls -l /dev/lirc*", "needs a Pi's /dev/lirc0, made by the gpio-ir-tx overlay"},
    {"sudo usermod -aG video $USER", "needs root"},
};

// The commands that send through the kernel's transmitter: they run with the kernel
// library over its fake device in place of the stand-in, as on a Pi 5 with the
// gpio-ir-tx overlay.
const char* const onKernelPath[] = {"beamfile"};

bool runsOnKernelPath(const std::string& command)
{
    return std::any_of(std::begin(onKernelPath), std::end(onKernelPath),
                       [&command](const char* c) { return command == c; });
}

const char* reasonNotRun(const std::string& command)
{
    for (const NotRun& n : notRun)
        if (command == n.command)
            return n.reason;
    return nullptr;
}

std::string underSource(const std::string& folder, const std::string& name, const char* suffix = "")
{
    std::string path = source;
    path.append(folder).append(name).append(suffix);
    return path;
}

// A sh line without its comment: the documents set comments off by two blanks.
std::string withoutComment(const std::string& line)
{
    std::string::size_type hash = line.find("  #");
    if (hash == std::string::npos)
        return line;
    while (hash > 0 && line[hash - 1] == ' ')
        --hash;
    return line.substr(0, hash);
}

// Adds one line of a console block: "$ COMMAND" starts a step, any other line is
// the output of the step before.
void consoleLine(const std::string& line, Block* block, std::string* error)
{
    if (line.rfind("$ ", 0) == 0) {
        block->steps.push_back({line.substr(2), "", false});
        return;
    }
    if (block->steps.empty()) {
        *error = "output before any command: " + line;
        return;
    }
    block->steps.back().output += line + "\n";
    block->steps.back().shown = true;
}

std::vector<Block> readmeBlocks(const std::string& path, std::string* error)
{
    std::vector<Block> blocks;
    enum { none, sh, console, other } in = none;
    int number = 0;
    for (const std::string& line : linesOf(readFile(path))) {
        ++number;
        if (line.rfind("```", 0) == 0) {
            if (in != none) {
                in = none;
                continue;
            }
            const std::string kind = line.substr(3);
            in = kind == "sh" ? sh : kind == "console" ? console : other;
            if (in == sh || in == console)
                blocks.push_back({path + ":" + std::to_string(number), {}});
        } else if (in == sh && !line.empty()) {
            blocks.back().steps.push_back({withoutComment(line), "", false});
        } else if (in == console) {
            consoleLine(line, &blocks.back(), error);
        }
    }
    return blocks;
}

// The literal displays of a page's EXAMPLES.  Their text is the page's source: a
// roff escape there would be read as written, so none may appear.
std::vector<Block> pageBlocks(const std::string& path, std::string* error)
{
    std::vector<Block> blocks;
    bool examples = false;
    bool display = false;
    int number = 0;
    for (const std::string& line : linesOf(readFile(path))) {
        ++number;
        if (line.rfind(".Sh ", 0) == 0) {
            examples = line == ".Sh EXAMPLES";
        } else if (examples && line.rfind(".Bd -literal", 0) == 0) {
            display = true;
            blocks.push_back({path + ":" + std::to_string(number), {}});
        } else if (display && line == ".Ed") {
            display = false;
        } else if (display) {
            if (line.find('\\') != std::string::npos || line.rfind('.', 0) == 0 ||
                line.rfind('\'', 0) == 0)
                *error = path + ":" + std::to_string(number) + ": roff markup in an example";
            consoleLine(line, &blocks.back(), error);
        }
    }
    return blocks;
}

std::string stageBin()
{
    const std::string beam = installedProgram("beam");
    return beam.substr(0, beam.rfind('/'));
}

// A command's absolute paths that this machine lacks (a package's file, such as a
// keymap of ir-keytable's), which make it one to skip here rather than a fault.
std::string missingFile(const std::string& command)
{
    std::string::size_type at = 0;
    while ((at = command.find(" /", at)) != std::string::npos) {
        const std::string::size_type end = command.find(' ', at + 1);
        std::string path = command.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        struct stat info {};
        if (stat(path.c_str(), &info) != 0)
            return path;
        at += 1;
    }
    return "";
}

bool onPath(const std::string& tool)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path == nullptr ? "" : path;
    std::string::size_type start = 0;
    while (start <= dirs.size()) {
        const std::string::size_type end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string file = dir;
        file.append("/").append(tool);
        if (!dir.empty() && access(file.c_str(), X_OK) == 0)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

int ran = 0;
int excused = 0;

void runBlock(const Block& block)
{
    SCOPED_TRACE(block.where);
    const TempDir folder;
    const TempDir runtime; // beam's toggles, never the reader's own
    for (const char* sample : {"remote.ir", "codes.csv", "keymap.toml", "lircd.conf"})
        folder.write(sample, readFile(underSource("/nec-code/tests/samples/", sample)));
    const char* path = std::getenv("PATH");
    for (const Step& step : block.steps) {
        if (reasonNotRun(step.command) != nullptr) {
            ++excused;
            continue;
        }
        const std::string word = step.command.substr(0, step.command.find(' '));
        if (word == "sigrok-cli" && !onPath(word)) {
            std::printf("skipped here, no %s: %s\n", word.c_str(), step.command.c_str());
            continue;
        }
        const std::string missing = missingFile(step.command);
        if (!missing.empty()) {
            std::printf("skipped here, no %s: %s\n", missing.c_str(), step.command.c_str());
            continue;
        }
        Command c;
        c.program = "/bin/sh";
        c.args = {"-c", step.command};
        c.dir = folder.path();
        c.env = {"PATH=" + stageBin() + ":" + (path == nullptr ? "/usr/bin:/bin" : path),
                 "XDG_RUNTIME_DIR=" + runtime.path()};
        if (runsOnKernelPath(step.command)) {
            c.env.push_back(std::string("LD_LIBRARY_PATH=") + FAKE_LIRC_LIBRARY_DIR);
            c.env.push_back("FAKE_LIRC_LOG=" + folder.file("device.log"));
        }
        c.direct = true;
        const Outcome o = runCommand(c);
        ++ran;
        EXPECT_EQ(o.status, 0) << "$ " << step.command << "\n" << o.out << o.err;
        if (step.shown) {
            EXPECT_EQ(o.out, step.output) << "$ " << step.command;
        }
        if (runsOnKernelPath(step.command)) {
            EXPECT_NE(readFile(folder.file("device.log")), "")
                << "$ " << step.command << ": nothing reached the kernel's fake device";
        }
    }
}

void runDocument(const std::vector<Block>& blocks, const std::string& error)
{
    EXPECT_EQ(error, "");
    EXPECT_FALSE(blocks.empty());
    if (BEAM_CROSSCOMPILING) {
        GTEST_SKIP() << "the installed programs are for the target, and sh runs on this machine";
    }
    for (const Block& block : blocks)
        runBlock(block);
}

TEST(Examples, Readme)
{
    ran = 0;
    excused = 0;
    std::string error;
    runDocument(readmeBlocks(source + "/README.md", &error), error);
    std::printf("README: %d commands run, %d listed as not run here\n", ran, excused);
}

TEST(Examples, ManualPages)
{
    ran = 0;
    excused = 0;
    for (const char* name : {"beamfile", "beamones", "beam", "nec-code"}) {
        SCOPED_TRACE(name);
        std::string error;
        const std::vector<Block> blocks = pageBlocks(underSource("/man/", name, ".1"), &error);
        runDocument(blocks, error);
    }
    std::printf("pages: %d commands run, %d listed as not run here\n", ran, excused);
}

// Every excuse still names a command of a document, with a reason.
TEST(Examples, EveryCommandNotRunIsInADocument)
{
    std::string error;
    std::vector<Block> blocks = readmeBlocks(source + "/README.md", &error);
    for (const char* name : {"beamfile", "beamones", "beam", "nec-code"}) {
        const std::vector<Block> page = pageBlocks(underSource("/man/", name, ".1"), &error);
        blocks.insert(blocks.end(), page.begin(), page.end());
    }
    for (const NotRun& n : notRun) {
        bool found = false;
        for (const Block& block : blocks)
            for (const Step& step : block.steps)
                found = found || step.command == n.command;
        EXPECT_TRUE(found) << n.command << " is in no document's examples";
        EXPECT_GT(std::string(n.reason).size(), 8U) << n.command;
    }
}

// How the blocks are read, on documents written here.
TEST(Examples, BlocksAreReadAsWritten)
{
    const TempDir dir;
    dir.write("doc.md",
              "text\n```sh\nbeam -S rc5:1   # a comment\n\nnec-code 1 2\n```\n"
              "```\nnot run\n```\n```console\n$ a\nout 1\n\nout 2\n$ b\n$ c\nlast\n```\n");
    std::string error;
    const std::vector<Block> md = readmeBlocks(dir.file("doc.md"), &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(md.size(), 2U);
    ASSERT_EQ(md[0].steps.size(), 2U);
    EXPECT_EQ(md[0].steps[0].command, "beam -S rc5:1");
    EXPECT_FALSE(md[0].steps[0].shown);
    ASSERT_EQ(md[1].steps.size(), 3U);
    EXPECT_EQ(md[1].steps[0].output, "out 1\n\nout 2\n");
    EXPECT_FALSE(md[1].steps[1].shown);
    EXPECT_EQ(md[1].steps[2].output, "last\n");

    dir.write("page.1", ".Sh DESCRIPTION\n.Bd -literal\n$ no\n.Ed\n.Sh EXAMPLES\ntext\n"
                        ".Bd -literal -offset indent\n$ x\ny\n\n.Ed\n.Sh SEE ALSO\n");
    const std::vector<Block> page = pageBlocks(dir.file("page.1"), &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(page.size(), 1U);
    ASSERT_EQ(page[0].steps.size(), 1U);
    EXPECT_EQ(page[0].steps[0].command, "x");
    EXPECT_EQ(page[0].steps[0].output, "y\n\n");

    dir.write("escaped.1", ".Sh EXAMPLES\n.Bd -literal\n$ echo \\e\n.Ed\n");
    pageBlocks(dir.file("escaped.1"), &error);
    EXPECT_NE(error, "");
    dir.write("orphan.md", "```console\nno command\n```\n");
    error.clear();
    readmeBlocks(dir.file("orphan.md"), &error);
    EXPECT_NE(error, "");
}

} // namespace
