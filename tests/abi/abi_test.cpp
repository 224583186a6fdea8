#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

// The names between "global:" and "local:" in the linker's version script.
std::set<std::string> exported_names() {
    std::string map = read_text(QV_EXPORTS_MAP);
    std::size_t begin = map.find("global:"), end = map.find("local:");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    if (begin == std::string::npos || end == std::string::npos) return {};
    std::string list = map.substr(begin + 7, end - begin - 7);
    for (char &c : list) {
        if (c == ';') c = ' ';
    }
    std::istringstream words(list);
    std::set<std::string> names;
    for (std::string w; words >> w;) names.insert(w);
    return names;
}

struct Library {
    void *handle = dlopen(QV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ~Library() {
        if (handle) dlclose(handle);
    }
    template <typename F>
    F *get(const char *name) const {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }
};

}  // namespace

TEST(Abi, ExportListNamesTheTwentyThreeDeclaredFunctions) {
    std::set<std::string> names = exported_names();
    EXPECT_EQ(names.size(), 23u);
    std::string header = read_text(std::string(QV_SOURCE_DIR) + "/include/quorvane_apiclient.h");
    for (const std::string &name : names) {
        EXPECT_EQ(name.rfind("api_", 0), 0u) << name;
        bool declared = header.find(" " + name + "(") != std::string::npos ||
                        header.find("*" + name + "(") != std::string::npos;
        EXPECT_TRUE(declared) << name << " is not declared";
    }
}

TEST(Abi, EveryNameResolvesUnmangled) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    for (const std::string &name : exported_names()) {
        EXPECT_NE(dlsym(lib.handle, name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(dlsym(lib.handle, "ac_set_error"), nullptr);
    EXPECT_EQ(dlsym(lib.handle, "ac_read_file"), nullptr);
}

TEST(Abi, LoadedLibraryWorksThroughPlainPointers) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto init = lib.get<int(const char *)>("api_init");
    auto set = lib.get<int(const char *, const char *)>("api_env_set");
    auto get = lib.get<const char *(const char *)>("api_env_get");
    auto last_error = lib.get<const char *()>("api_last_error");
    auto cleanup = lib.get<void()>("api_cleanup");
    ASSERT_TRUE(init && set && get && last_error && cleanup);
    EXPECT_STREQ(last_error(), "");
    EXPECT_EQ(init(nullptr), 1);
    EXPECT_EQ(set("k", "v"), 1);
    EXPECT_STREQ(get("k"), "v");
    EXPECT_EQ(set("", "v"), 0);
    EXPECT_STREQ(last_error(), "api_env_set: empty or null key");
    cleanup();
    EXPECT_STREQ(last_error(), "");
}

TEST(Abi, DynamicSymbolTableHoldsExactlyTheExports) {
    const std::string command = std::string("nm -D --defined-only '") + QV_SHARED_LIBRARY + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    ASSERT_EQ(pclose(pipe), 0) << output;

    std::set<std::string> defined;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name, extra;
        fields >> address >> type >> name;
        EXPECT_TRUE(type == "T" && !name.empty() && !(fields >> extra)) << "unexpected line: " << line;
        defined.insert(name);
    }
    EXPECT_EQ(defined, exported_names());
}
