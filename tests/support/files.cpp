#include "files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> out;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type end = text.find('\n', start);
        const std::string::size_type stop = end == std::string::npos ? text.size() : end;
        out.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return out;
}

std::vector<std::string> filesIn(const std::string& top, bool recursive,
                                 bool (*skip)(const std::string& folder))
{
    std::vector<std::string> found;
    std::vector<std::string> folders = {top};
    while (!folders.empty()) {
        const std::string dir = folders.back();
        folders.pop_back();
        DIR* d = opendir(dir.c_str());
        if (d == nullptr)
            continue;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            std::string path = dir;
            path += "/";
            path += name;
            if (e->d_type == DT_DIR && recursive && (skip == nullptr || !skip(name)))
                folders.push_back(path);
            else if (e->d_type == DT_REG)
                found.push_back(path);
        }
        closedir(d);
    }
    std::sort(found.begin(), found.end());
    return found;
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/beam-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); },
        16, FTW_DEPTH | FTW_PHYS);
}

void TempDir::write(const std::string& name, const std::string& bytes) const
{
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
        mkdir(file(name.substr(0, slash)).c_str(), 0755);
    }
    std::ofstream(file(name), std::ios::binary) << bytes;
}
