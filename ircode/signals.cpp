// Reading a file of codes whatever database it comes from, and finding a signal in it.
#include "codes.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int readTextFile(const char* path, std::string* text, std::string* error)
{
    // O_NONBLOCK: a FIFO without a writer must not hold the open; reads then block
    // again, so a writer that is there is read to its end.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    text->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = std::string("cannot read ") + path + ": " + std::strerror(errno);
            (void)close(fd);
            return -1;
        }
        if (n == 0)
            break;
        if (text->size() + static_cast<std::size_t>(n) > maxFileBytes) {
            *error = std::string(path) + " is larger than " + std::to_string(maxFileBytes >> 20u) +
                     " MiB: no file of codes is";
            (void)close(fd);
            return -1;
        }
        text->append(buffer, static_cast<std::size_t>(n));
    }
    (void)close(fd);
    return 0;
}

namespace {

// Control characters other than blanks and line ends mean a binary file (NUL first).
bool isBinary(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == 0x7F || (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' &&
                                byte != '\v' && byte != '\f');
    });
}

// The first line that is neither empty nor (for the formats with # comments in the
// first column) a comment.
std::string firstLine(const std::vector<std::string>& lines, bool skipComments)
{
    for (const std::string& line : lines) {
        std::string t = trim(line);
        if (t.empty() || (skipComments && t[0] == '#'))
            continue;
        return t;
    }
    return "";
}

using Reader = int (*)(const std::string&, std::vector<Signal>*, Failure*);

Reader readerFor(const std::string& text)
{
    const std::vector<std::string> lines = splitLines(text);
    const std::string first = firstLine(lines, false);
    if (first == "Filetype: IR signals file" || first == "Filetype: IR library file")
        return readFlipper;
    std::string header = lower(first);
    header.erase(std::remove(header.begin(), header.end(), ' '), header.end());
    if (header == "functionname,protocol,device,subdevice,function")
        return readIrdb;
    const std::string code = firstLine(lines, true);
    if (code == "[[protocols]]")
        return readKeymap;
    const std::vector<std::string> w = words(lower(code));
    if ((w.size() >= 2 && w[0] == "begin" && w[1] == "remote") || (!w.empty() && w[0] == "include"))
        return readLircd;
    return nullptr;
}

} // namespace

int readSignals(const std::string& text, std::vector<Signal>* signals, Failure* failure)
{
    static const char formats[] = "a Flipper IR file, an irdb CSV, an ir-keytable keymap (TOML) "
                                  "or a lircd.conf";
    if (isBinary(text)) {
        *failure = {0, std::string("a binary file, not ") + formats};
        return -1;
    }
    // A byte order mark, as some editors write, is not part of the first line.
    const bool bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string body = bom ? text.substr(3) : text;
    const Reader reader = readerFor(body);
    if (reader == nullptr) {
        *failure = {0, std::string("format not recognised: not ") + formats};
        return -1;
    }
    signals->clear();
    if (reader(body, signals, failure) != 0)
        return -1;
    // The list is tab-separated: a tab the file put into a note (a protocol's name)
    // must not start another column.
    std::map<std::string, int> seen;
    for (Signal& s : *signals) {
        std::replace(s.note.begin(), s.note.end(), '\t', ' ');
        const int n = ++seen[s.name];
        if (n > 1)
            s.name += "#" + std::to_string(n);
    }
    return 0;
}

namespace {

std::size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

int findSignal(const std::vector<Signal>& signals, const std::string& key, std::string* error)
{
    for (std::size_t i = 0; i < signals.size(); ++i) {
        if (signals[i].name == key)
            return static_cast<int>(i);
    }
    const std::string wanted = lower(key);
    std::vector<std::size_t> alike;
    for (std::size_t i = 0; i < signals.size(); ++i) {
        if (lower(signals[i].name) == wanted)
            alike.push_back(i);
    }
    if (alike.size() == 1)
        return static_cast<int>(alike[0]);
    if (alike.size() > 1) {
        *error = "'" + key + "' matches " + std::to_string(alike.size()) +
                 " names but for case: " + signals[alike[0]].name + ", " + signals[alike[1]].name +
                 (alike.size() > 2 ? ", ..." : "") + "; give one exactly";
        return -1;
    }
    if (signals.empty()) {
        *error = "no signal named '" + key + "': the file has no signals";
        return -1;
    }
    // Closest first: a name that holds the key, then by edit distance, in file order.
    std::vector<std::pair<std::size_t, std::size_t>> ranked;
    for (std::size_t i = 0; i < signals.size(); ++i) {
        const std::string name = lower(signals[i].name);
        const std::size_t distance =
            name.find(wanted) != std::string::npos ? 0 : 1 + editDistance(name, wanted);
        ranked.emplace_back(distance, i);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string closest;
    for (std::size_t i = 0; i < ranked.size() && i < 3; ++i)
        closest += (i > 0 ? ", " : "") + signals[ranked[i].second].name;
    *error = "no signal named '" + key + "'; the closest: " + closest;
    return -1;
}
