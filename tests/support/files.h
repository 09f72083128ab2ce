// Files for tests: the whole of one, and a folder of a test's own.
#ifndef BEAM_TESTS_FILES_H
#define BEAM_TESTS_FILES_H

#include <string>
#include <vector>

// The whole content of a file, as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

// The regular files in top and, if asked, in the folders below it, sorted; none
// where top cannot be read.  Folders for which skip (if given) is true, by name,
// are not entered.
std::vector<std::string> filesIn(const std::string& top, bool recursive,
                                 bool (*skip)(const std::string& folder) = nullptr);

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const
    {
        return path_;
    }
    std::string file(const std::string& name) const
    {
        return path_ + "/" + name;
    }
    // Writes bytes to a file in the folder, and the folders on its way.
    void write(const std::string& name, const std::string& bytes) const;
    // The whole content of a file in the folder, empty when it does not exist.
    std::string read(const std::string& name) const
    {
        return readFile(file(name));
    }

  private:
    std::string path_;
};

#endif
