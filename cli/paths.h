// Paths and folders of the command line's files.
#pragma once

#include <string>

// Creates the missing folders above `path`, as `mkdir -p` does; folders it
// creates are the user's alone when `private_dirs` (the history's), else
// readable by all (a report's). False with `why` set.
bool make_parent_directories(const std::string &path, bool private_dirs, std::string &why);

// `path` made absolute against the working directory; "" stays "".
std::string absolute_path(const std::string &path);

// "" when `path` is a regular file, else why not ("cannot read <what> '<path>':
// ..." or "<what> '<path>' is not a regular file").
std::string regular_file_problem(const std::string &path, const char *what);
