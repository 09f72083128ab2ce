// The documents as a reader meets them: every relative link of every Markdown file
// leads somewhere, the README stays short, and the manual pages lint clean and give
// the synopsis the programs' --help gives.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "run_program.h"

namespace {

const std::string source = BEAM_SOURCE_DIR;
const std::vector<std::string> pages = {"beamfile", "beamones", "beam", "nec-code"};

bool exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The page of a program in the sources.
std::string pageOf(const std::string& name)
{
    std::string path = source;
    path.append("/man/").append(name).append(".1");
    return path;
}

// Build trees and the example's output hold copies and files of their own, not the
// project's documents.
bool notTheProjects(const std::string& folder)
{
    return folder[0] == '.' || folder.rfind("build", 0) == 0 || folder == "out";
}

std::vector<std::string> markdownFiles(const std::string& top)
{
    std::vector<std::string> found;
    for (const std::string& path : filesIn(top, true, notTheProjects))
        if (path.size() > 3 && path.compare(path.size() - 3, 3, ".md") == 0)
            found.push_back(path);
    return found;
}

bool isFence(const std::string& line)
{
    return line.rfind("```", 0) == 0;
}

// A heading's anchor as GitHub makes it: lower case, blanks to hyphens, and every
// other mark but hyphens and underscores dropped (letters beyond ASCII stay).
std::string anchorOf(const std::string& heading)
{
    std::string anchor;
    for (const char c : heading) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '_')
            anchor += c;
        else if (c >= 'A' && c <= 'Z')
            anchor += static_cast<char>(c - 'A' + 'a');
        else if (c == ' ')
            anchor += '-';
    }
    return anchor;
}

std::vector<std::string> anchorsIn(const std::string& path)
{
    std::vector<std::string> anchors;
    bool inCode = false;
    for (const std::string& line : linesOf(readFile(path))) {
        if (isFence(line))
            inCode = !inCode;
        else if (!inCode && line.rfind('#', 0) == 0) {
            const std::string::size_type text = line.find_first_not_of('#');
            if (text != std::string::npos && line[text] == ' ')
                anchors.push_back(anchorOf(line.substr(text + 1)));
        }
    }
    return anchors;
}

// What is wrong with one link of the file at path; empty when it leads somewhere.
std::string brokenLink(const std::string& path, const std::string& target)
{
    if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
        target.rfind("mailto:", 0) == 0)
        return "";
    const std::string::size_type hash = target.find('#');
    const std::string file = target.substr(0, hash);
    const std::string dir = path.substr(0, path.rfind('/'));
    std::string resolved = path;
    if (!file.empty())
        resolved = dir + "/" + file;
    if (!exists(resolved))
        return "no such file: " + target;
    if (hash == std::string::npos)
        return "";
    for (const std::string& anchor : anchorsIn(resolved))
        if (anchor == target.substr(hash + 1))
            return "";
    return "no heading for the anchor: " + target;
}

TEST(Documents, EveryRelativeLinkLeadsToAFileAndItsHeading)
{
    const std::vector<std::string> files = markdownFiles(source);
    ASSERT_GT(files.size(), 10U) << "the project's Markdown files were not found under " << source;
    int links = 0;
    for (const std::string& path : files) {
        bool inCode = false;
        int number = 0;
        for (const std::string& line : linesOf(readFile(path))) {
            ++number;
            if (isFence(line))
                inCode = !inCode;
            if (inCode)
                continue;
            for (std::string::size_type at = line.find("]("); at != std::string::npos;
                 at = line.find("](", at + 2)) {
                const std::string::size_type end = line.find(')', at);
                if (end == std::string::npos)
                    continue;
                ++links;
                const std::string wrong = brokenLink(path, line.substr(at + 2, end - at - 2));
                EXPECT_EQ(wrong, "") << path << ":" << number;
            }
        }
    }
    EXPECT_GT(links, 50);
}

TEST(Documents, AnchorsAreGitHubs)
{
    EXPECT_EQ(anchorOf("Raspberry Pi 5 and current Raspberry Pi OS: the kernel's IR transmitter"),
              "raspberry-pi-5-and-current-raspberry-pi-os-the-kernels-ir-transmitter");
    EXPECT_EQ(anchorOf("A code for `beamfile`: `nec-code`"), "a-code-for-beamfile-nec-code");
    EXPECT_EQ(anchorOf("The Raspberry Pi builds, tested here (armhf and arm64 under qemu)"),
              "the-raspberry-pi-builds-tested-here-armhf-and-arm64-under-qemu");
}

// A reader with a Pi 4 sends a frame before reading the first screens' worth.
TEST(Documents, TheReadmeIsShortAndAPiSendsEarly)
{
    const std::string readme = readFile(source + "/README.md");
    EXPECT_LE(readme.size(), 12U * 1024U);
    const std::vector<std::string> all = linesOf(readme);
    int sent = 0;
    for (std::size_t i = 0; i < all.size() && sent == 0; ++i)
        if (all[i].rfind("sudo beamfile", 0) == 0)
            sent = static_cast<int>(i) + 1;
    EXPECT_GT(sent, 0) << "no `sudo beamfile` line in the README";
    EXPECT_LE(sent, 150);
}

// The page as mandoc renders it, its overstrikes (bold, underline) dropped.
std::string rendered(const std::string& page, const std::string& width)
{
    const Outcome o =
        runHostProgram(BEAM_MANDOC, ".", {"-T", "ascii", "-O", "width=" + width, page});
    EXPECT_EQ(o.status, 0) << o.err;
    std::string plain;
    for (const char c : o.out) {
        if (c == '\b' && !plain.empty())
            plain.pop_back();
        else if (c != '\b')
            plain += c;
    }
    return plain;
}

// The lines of a rendered section, each without its indent.
std::vector<std::string> section(const std::string& text, const std::string& name)
{
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& line : linesOf(text)) {
        if (!line.empty() && line[0] != ' ') {
            in = line == name;
            continue;
        }
        const std::string::size_type start = line.find_first_not_of(' ');
        if (in && start != std::string::npos)
            out.push_back(line.substr(start));
    }
    return out;
}

bool haveMandoc()
{
    return std::string(BEAM_MANDOC).find('/') != std::string::npos;
}

TEST(ManualPages, LintCleanAtWarningLevel)
{
    if (!haveMandoc()) {
        GTEST_SKIP() << "mandoc not found";
    }
    for (const std::string& name : pages) {
        const Outcome o =
            runHostProgram(BEAM_MANDOC, ".", {"-T", "lint", "-W", "warning", pageOf(name)});
        EXPECT_EQ(o.status, 0) << name << ": " << o.out << o.err;
        EXPECT_EQ(o.out + o.err, "") << name;
    }
}

TEST(ManualPages, EachHasTheSectionsAUserLooksFor)
{
    if (!haveMandoc()) {
        GTEST_SKIP() << "mandoc not found";
    }
    for (const std::string& name : pages) {
        const std::string text = rendered(pageOf(name), "80");
        for (const char* heading : {"NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "EXIT STATUS",
                                    "EXAMPLES", "SEE ALSO"})
            EXPECT_FALSE(section(text, heading).empty()) << name << " has no " << heading;
    }
}

// The forms of a command line --help gives, one per line: beam's usage lines, or
// nec-code's one line of forms between " | ".
std::vector<std::string> helpForms(const std::string& help)
{
    std::vector<std::string> forms;
    for (const std::string& line : linesOf(help)) {
        std::string form;
        if (line.rfind("usage: ", 0) == 0)
            form = line.substr(7);
        else if (!forms.empty() && line.rfind("       ", 0) == 0)
            form = line.substr(line.find_first_not_of(' '));
        else
            break;
        for (std::string::size_type bar = form.find(" | "); bar != std::string::npos;
             bar = form.find(" | ")) {
            forms.push_back(form.substr(0, bar));
            form = form.substr(bar + 3);
        }
        forms.push_back(form);
    }
    return forms;
}

TEST(ManualPages, SynopsisIsWhatHelpGives)
{
    if (!haveMandoc()) {
        GTEST_SKIP() << "mandoc not found";
    }
    for (const char* name : {"beam", "nec-code"}) {
        const Outcome help = runProgram(installedProgram(name), ".", {}, {"--help"});
        ASSERT_EQ(help.status, 0) << name;
        const std::vector<std::string> forms = helpForms(help.out);
        EXPECT_GE(forms.size(), 4U) << name << ": " << help.out;
        // Wide enough that no form wraps.
        const std::string page = rendered(pageOf(name), "400");
        EXPECT_EQ(section(page, "SYNOPSIS"), forms) << name;
    }
}

TEST(ManualPages, HelpFormsAreSplitAsWritten)
{
    EXPECT_EQ(helpForms("usage: a X | a -Y Z\nrest\n"),
              (std::vector<std::string>{"a X", "a -Y Z"}));
    EXPECT_EQ(helpForms("usage: a X\n       a Y [Z]\noptions: --q\n"),
              (std::vector<std::string>{"a X", "a Y [Z]"}));
}

// What `cmake --install` laid out is what `man` shows, found by the prefix's path.
TEST(ManualPages, InstalledWhereManFindsThem)
{
    const std::string prefix =
        installedProgram("beam").substr(0, installedProgram("beam").rfind("/bin/"));
    for (const std::string& name : pages) {
        std::string installed = prefix;
        installed.append("/share/man/man1/").append(name).append(".1");
        const std::string page = readFile(installed);
        EXPECT_FALSE(page.empty()) << installed;
        EXPECT_TRUE(page == readFile(pageOf(name)))
            << installed << " is not the page of the sources";
    }
    if (!exists("/usr/bin/man")) {
        GTEST_SKIP() << "man not found";
    }
    const Outcome shown =
        runHostProgram("/usr/bin/man", ".", {"-M", prefix + "/share/man", "-P", "cat", "beam"});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("--pronto"), std::string::npos) << shown.out;
}

} // namespace
