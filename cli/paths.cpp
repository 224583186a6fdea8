#include "paths.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

bool make_parent_directories(const std::string &path, bool private_dirs, std::string &why) {
    fs::path parent = fs::path(path).parent_path();
    std::error_code ec;
    std::vector<fs::path> missing;
    for (fs::path p = parent; !p.empty() && p != p.root_path() && !fs::exists(p, ec); p = p.parent_path())
        missing.push_back(p);
    if (missing.empty()) return true;
    fs::create_directories(parent, ec);
    for (const fs::path &p : missing) {
        if (!ec && private_dirs) fs::permissions(p, fs::perms::owner_all, ec);
    }
    if (ec) why = "cannot create '" + parent.string() + "': " + ec.message();
    return !ec;
}

std::string absolute_path(const std::string &path) {
    if (path.empty()) return path;
    std::error_code ec;
    fs::path full = fs::absolute(path, ec);
    return ec ? path : full.string();
}

std::string regular_file_problem(const std::string &path, const char *what) {
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec) return std::string("cannot read ") + what + " '" + path + "': " + ec.message();
    if (!fs::is_regular_file(st)) return std::string(what) + " '" + path + "' is not a regular file";
    return "";
}
