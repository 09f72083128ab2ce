// What the device tree says about the board: which GPIOs the kernel's gpio-ir-tx
// driver transmits on, and the board revision.  The overlay's node is found by
// its compatible string: its name depends on the overlay's version.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

#include "lirc_core.h"
#include "pigpio_rules.h"

namespace pigpio_lirc {

namespace {

// Nodes nest a few levels deep; a deeper walk would be a loop or a fault.
constexpr int kMaxDepth = 16;

// A property's bytes (properties here are small), empty when it cannot be read.
std::string property(const std::string& node, const char* name)
{
    return pigpio_rules::fileStart((node + "/" + name).c_str(), 4096);
}

// A string-list property (NUL-separated strings) holds `value`.
bool listHas(const std::string& list, const char* value)
{
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = list.find('\0', start);
        const size_t length = (end == std::string::npos ? list.size() : end) - start;
        if (list.compare(start, length, value) == 0) {
            return true;
        }
        start += length + 1;
    }
    return false;
}

uint32_t bigEndianCell(const std::string& bytes, size_t cell)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[cell * 4 + i]);
    }
    return value;
}

// A node without status is enabled; "okay" (or the older "ok") says so too.
bool enabled(const std::string& node)
{
    const std::string status = property(node, "status");
    return status.empty() || status.compare(0, 2, "ok") == 0;
}

bool isDirectory(const std::string& path, const dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_DIR; // a link is no node: never followed
    }
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void checkNode(const std::string& node, std::vector<TreeNode>& found)
{
    if (listHas(property(node, "compatible"), "gpio-ir-tx") && enabled(node)) {
        // gpios = <&controller number flags>: the second cell is the line.
        const std::string cells = property(node, "gpios");
        if (cells.size() >= 12) {
            found.push_back({node, bigEndianCell(cells, 1)});
        }
    }
}

// Appends the nodes under node, one level down.
void addChildren(const std::string& node, int depth,
                 std::vector<std::pair<std::string, int>>& nodes)
{
    DIR* dir = ::opendir(node.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        std::string child = node + "/" + entry->d_name;
        if (isDirectory(child, entry)) {
            nodes.emplace_back(std::move(child), depth + 1);
        }
    }
    ::closedir(dir);
}

} // namespace

std::string deviceTreeRoot()
{
    const char* named = std::getenv("PIGPIO_LIRC_DT_ROOT");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    // /proc/device-tree links to the sysfs copy, which may be there without it.
    struct stat info {};
    return ::stat("/proc/device-tree", &info) == 0 ? "/proc/device-tree"
                                                   : "/sys/firmware/devicetree/base";
}

std::vector<TreeNode> transmitterNodes(const std::string& root)
{
    std::vector<TreeNode> found;
    std::vector<std::pair<std::string, int>> nodes{{root, 0}};
    while (!nodes.empty()) {
        const auto [node, depth] = nodes.back();
        nodes.pop_back();
        checkNode(node, found);
        if (depth < kMaxDepth) {
            addChildren(node, depth, nodes);
        }
    }
    // The walk's order is the file system's; the notes list nodes in a fixed one.
    std::sort(found.begin(), found.end(),
              [](const TreeNode& a, const TreeNode& b) { return a.path < b.path; });
    return found;
}

unsigned treeRevision(const std::string& root)
{
    const std::string cell = property(root + "/system", "linux,revision");
    return cell.size() >= 4 ? bigEndianCell(cell, 0) : 0;
}

} // namespace pigpio_lirc
