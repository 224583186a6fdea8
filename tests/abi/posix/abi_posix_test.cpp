// The shared object as the dynamic linker sees it.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "abi/export_list.h"

TEST(Abi, EveryNameResolvesUnmangledAndWorksThroughPlainPointers) {
    void *lib = dlopen(QV_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const std::string &name : exported_names()) EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "ac_set_error"), nullptr);
    auto set = reinterpret_cast<int (*)(const char *, const char *)>(dlsym(lib, "api_env_set"));
    auto get = reinterpret_cast<const char *(*)(const char *)>(dlsym(lib, "api_env_get"));
    auto last_error = reinterpret_cast<const char *(*)()>(dlsym(lib, "api_last_error"));
    auto cleanup = reinterpret_cast<void (*)()>(dlsym(lib, "api_cleanup"));
    if (set && get && last_error && cleanup) {
        EXPECT_EQ(set("k", "v"), 1);
        EXPECT_STREQ(get("k"), "v");
        EXPECT_EQ(set("", "v"), 0);
        EXPECT_STREQ(last_error(), "api_env_set: empty or null key");
        cleanup();  // the loaded copy has its own stores to release
    }
    dlclose(lib);
}

namespace {

std::string nm(const char *flags) {
    const std::string command = std::string("nm -D ") + flags + " '" + QV_SHARED_LIBRARY + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string output;
    char chunk[4096];
    for (std::size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    EXPECT_TRUE(pipe && pclose(pipe) == 0) << output;
    return output;
}

}  // namespace

TEST(Abi, DynamicSymbolTableHoldsExactlyTheExports) {
    const std::string output = nm("--defined-only");
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

// libcurl's allocator is process-wide: a library that replaced it would take
// over the allocations of a host that uses libcurl itself.
TEST(Abi, LeavesLibcurlsAllocatorToTheProcess) {
    std::set<std::string> undefined;
    std::istringstream lines(nm("--undefined-only"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string type, name;
        fields >> type >> name;
        undefined.insert(name.substr(0, name.find('@')));
    }
    EXPECT_EQ(undefined.count("curl_global_init"), 1u);
    EXPECT_EQ(undefined.count("curl_global_init_mem"), 0u);
}
