// The one export list, src/exports.txt: a name a line.
#pragma once

#include <set>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

inline std::set<std::string> exported_names() {
    std::istringstream lines(read_text(QV_EXPORTS_LIST));
    std::set<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) names.insert(line);
    }
    return names;
}
