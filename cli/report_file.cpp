#include "report_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli_error.h"

FileHandle open_report_file(const std::string &path, const char *what) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST) break;
    }
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
