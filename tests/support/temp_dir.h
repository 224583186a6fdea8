// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers for tests; read_text returns "" for a missing file.
void write_text(const std::string &path, const std::string &text);
std::string read_text(const std::string &path);
bool file_exists(const std::string &path);
// Names of the entries of a directory, sorted.
std::string list_dir(const std::string &path);
