#include "report_file.h"

#include <cerrno>
#include <cstring>

#include "cli_error.h"
#include "paths.h"

FileHandle open_report_file(const std::string &path, const char *what) {
    // A folder that cannot be made shows as the file that cannot be opened.
    std::string ignored;
    make_parent_directories(path, false, ignored);
    FileHandle file(std::fopen(path.c_str(), "w"));
    if (!file) usage_error(std::string("cannot write the ") + what + " '" + path + "': " + std::strerror(errno));
    return file;
}

bool close_report_file(FileHandle &file, const std::string &path, std::string &why) {
    bool ok = std::ferror(file.get()) == 0;
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok) why = "could not write '" + path + "': " + std::strerror(errno);
    return ok;
}
