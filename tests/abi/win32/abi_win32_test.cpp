// The DLL as Windows loads it: names found through GetProcAddress, and the
// export and import tables of the image in memory.
#include <set>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "abi/export_list.h"

namespace {

struct Image {
    const unsigned char *base;

    const IMAGE_DATA_DIRECTORY &directory(int entry) const {
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
        return nt->OptionalHeader.DataDirectory[entry];
    }
    template <class T> const T *at(DWORD rva) const { return reinterpret_cast<const T *>(base + rva); }
};

class Dll : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(lib_, nullptr) << QV_SHARED_LIBRARY << ": error " << GetLastError(); }
    void TearDown() override {
        if (lib_) FreeLibrary(lib_);
    }
    // Through void (*)(): the one cast from FARPROC that GCC accepts silently.
    template <class F> F proc(const char *name) {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(lib_, name)));
    }

    HMODULE lib_ = LoadLibraryA(QV_SHARED_LIBRARY);
};

TEST_F(Dll, EveryNameResolvesUnmangledAndWorksThroughPlainPointers) {
    for (const std::string &name : exported_names()) EXPECT_NE(proc<FARPROC>(name.c_str()), nullptr) << name;
    EXPECT_EQ(proc<FARPROC>("ac_set_error"), nullptr);
    auto set = proc<int (*)(const char *, const char *)>("api_env_set");
    auto get = proc<const char *(*)(const char *)>("api_env_get");
    auto last_error = proc<const char *(*)()>("api_last_error");
    auto cleanup = proc<void (*)()>("api_cleanup");
    ASSERT_TRUE(set && get && last_error && cleanup);
    EXPECT_EQ(set("k", "v"), 1);
    EXPECT_STREQ(get("k"), "v");
    EXPECT_EQ(set("", "v"), 0);
    EXPECT_STREQ(last_error(), "api_env_set: empty or null key");
    cleanup();
}

TEST_F(Dll, ExportTableHoldsExactlyTheExportsByName) {
    Image image{reinterpret_cast<const unsigned char *>(lib_)};
    const IMAGE_DATA_DIRECTORY &dir = image.directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto exports = image.at<IMAGE_EXPORT_DIRECTORY>(dir.VirtualAddress);
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames) << "an export without a name";
    std::set<std::string> names;
    auto name_rvas = image.at<DWORD>(exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(image.at<char>(name_rvas[i]));
    EXPECT_EQ(names, exported_names());
}

// A host ships the one DLL: everything it imports must already be in the
// system directory of every Windows, no compiler runtime DLL among them.
TEST_F(Dll, ImportsOnlyDllsOfTheSystemDirectory) {
    Image image{reinterpret_cast<const unsigned char *>(lib_)};
    char system_dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system_dir, MAX_PATH), 0u);
    EXPECT_EQ(image.directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).VirtualAddress, 0u);
    const IMAGE_DATA_DIRECTORY &dir = image.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(dir.VirtualAddress, 0u);
    int count = 0;
    for (auto d = image.at<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); d->Name != 0; ++d, ++count) {
        const std::string name = image.at<char>(d->Name);
        const std::string path = std::string(system_dir) + "\\" + name;
        EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << name << " is not in " << system_dir;
        for (const char *runtime : {"libstdc++", "libgcc", "libwinpthread"}) EXPECT_EQ(name.find(runtime), std::string::npos) << name;
    }
    EXPECT_GT(count, 0);
}

}  // namespace
