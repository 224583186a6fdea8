#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

// create_directory makes a directory only where none was: a name that is
// taken, by another test program too, just draws the next one.
TempDir::TempDir() {
    static std::mt19937_64 names{std::random_device{}()};
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate = base / ("qv-test-" + std::to_string(names() % 1000000000000u));
        std::error_code ec;
        // Forward slashes throughout, on Windows too: it accepts them, and
        // tests put paths into JSON texts without escaping them.
        if (fs::create_directory(candidate, ec)) path_ = candidate.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary directory in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void write_text(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string read_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool file_exists(const std::string &path) { return fs::exists(path); }

std::string list_dir(const std::string &path) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto &n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}
