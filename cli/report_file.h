// The file a report goes to, opened before the run so that a path that
// cannot be written stops the command at once.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Creates missing parent folders, as newman does for its newman/ folder.
// A usage error naming `what` when the file cannot be opened.
FileHandle open_report_file(const std::string &path, const char *what);

// Closes the file, flushing it; false with `why` set when a write failed.
bool close_report_file(FileHandle &file, const std::string &path, std::string &why);
