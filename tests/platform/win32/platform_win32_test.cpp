// What the Win32 layer guarantees beyond the common ones: devices and pipes
// refused without blocking, replacement through MoveFileExA (or in two steps
// that can be undone), nothing written through a name planted in advance,
// and temporaries of dead processes removed.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/win32/win32_calls.h"
#include "quorvane_apiclient.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(ReadFile, RefusesDevicesAndPipesWithoutBlocking) {
    const std::string pipe_name = "\\\\.\\pipe\\qv-test-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    for (const std::string &path : {std::string("NUL"), std::string("CON"), std::string("\\\\.\\NUL"), pipe_name}) {
        EXPECT_EQ(ac_read_file(path.c_str(), nullptr), nullptr) << path;
        std::uint64_t size = 0;
        EXPECT_EQ(ac_open_regular_file(path.c_str(), &size), nullptr) << path;
    }
    CloseHandle(pipe);
    EXPECT_EQ(api_env_load("NUL"), 0);
    EXPECT_STREQ(api_last_error(), "api_env_load: could not open or read 'NUL'");
}

// Counts the one-step renames and can make either rename call fail.
struct RenameHook {
    static inline int one_step = 0;
    static inline int fail_one_step = 0;
    static inline int fail_plain_at = -1;  // the plain rename that fails, counted from 0
    static inline int plain = 0;
    static inline std::string last_target;

    static BOOL WINAPI move_file_ex(LPCSTR from, LPCSTR to, DWORD flags) {
        ++one_step;
        last_target = to;
        EXPECT_EQ(flags & MOVEFILE_REPLACE_EXISTING, static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING));
        if (fail_one_step) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        return MoveFileExA(from, to, flags);
    }
    static BOOL WINAPI move_file(LPCSTR from, LPCSTR to) {
        if (plain++ == fail_plain_at) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return MoveFileA(from, to);
    }
};

class Replacement : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ac_win32_rename_calls;
        ac_win32_rename_calls = {RenameHook::move_file_ex, RenameHook::move_file};
        RenameHook::one_step = RenameHook::fail_one_step = RenameHook::plain = 0;
        RenameHook::fail_plain_at = -1;
        write_text(target_, "old");
    }
    void TearDown() override { ac_win32_rename_calls = saved_; }

    TempDir dir_;
    const std::string target_ = dir_.file("out.json");
    Win32RenameCalls saved_{};
};

TEST_F(Replacement, HistoryIsReplacedInOneStepUnderABackslashPath) {
    ASSERT_EQ(api_init(dir_.path().c_str()), 1);
    ASSERT_EQ(api_history_add(R"({"method":"GET","url":"u","status":1,"ts":2})"), 1);
    ASSERT_EQ(api_history_add(R"({"method":"PUT","url":"v","status":1,"ts":3})"), 1);
    api_cleanup();
    EXPECT_EQ(RenameHook::one_step, 2);
    EXPECT_EQ(RenameHook::plain, 0);
    EXPECT_EQ(RenameHook::last_target, dir_.path() + "\\history.json");
    EXPECT_EQ(list_dir(dir_.path()), "history.json out.json");
    EXPECT_NE(read_text(dir_.file("history.json")).find("\"PUT\""), std::string::npos);
}

// Where the one-step rename is refused, the target is moved aside, the new
// file moved in and the old one deleted; a refused second rename puts the
// old file back, and either way no temporary is left.
TEST_F(Replacement, TwoStepFallbackReplacesOrRestoresTheTarget) {
    const struct {
        int fail_plain_at;
        int result;
        const char *content;
    } cases[] = {{-1, 1, "new"}, {1, 0, "old"}, {0, 0, "old"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fail_plain_at);
        RenameHook::fail_one_step = 1;
        RenameHook::fail_plain_at = c.fail_plain_at;
        RenameHook::plain = 0;
        write_text(target_, "old");
        EXPECT_EQ(ac_write_file_atomic(target_.c_str(), "new", 3), c.result);
        EXPECT_EQ(read_text(target_), c.content);
        EXPECT_EQ(list_dir(dir_.path()), "out.json");
    }
}

// Neither step replaces a directory or a file held open without delete
// sharing, and the two-step fallback leaves read-only files alone.
TEST_F(Replacement, RefusedTargetsStayAsTheyWere) {
    const std::string folder = dir_.file("folder"), read_only = dir_.file("ro.json");
    fs::create_directory(folder);
    write_text(read_only, "ro");
    ASSERT_TRUE(SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (int fail_one_step : {0, 1}) {
        RenameHook::fail_one_step = fail_one_step;
        for (const std::string &path : {folder, target_}) EXPECT_EQ(ac_write_file_atomic(path.c_str(), "new", 3), 0) << path;
        EXPECT_EQ(read_text(target_), "old");
        EXPECT_EQ(list_dir(dir_.path()), "folder out.json ro.json");
    }
    EXPECT_EQ(ac_write_file_atomic(read_only.c_str(), "new", 3), 0);
    EXPECT_EQ(read_text(read_only), "ro");
    EXPECT_EQ(list_dir(dir_.path()), "folder out.json ro.json");
    CloseHandle(held);
    SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The temporary name is predictable: files planted at it are never opened.
TEST_F(Replacement, NeverWritesIntoAFilePlantedAtTheTemporaryName) {
    const std::uint64_t now = ac_now_millis();
    std::vector<std::string> planted;
    for (std::uint64_t ms = now - 5; ms < now + 1500; ++ms) {
        planted.push_back(target_ + ".tmp." + std::to_string(GetCurrentProcessId()) + "." +
                          std::to_string(ms & 0xFFFFFFFFu));
        write_text(planted.back(), "planted");
    }
    EXPECT_EQ(ac_write_file_atomic(target_.c_str(), "new", 3), 1);
    EXPECT_EQ(read_text(target_), "new");
    for (const std::string &name : planted) ASSERT_EQ(read_text(name), "planted") << name;
}

// Process ids of a program that has ended and of one that still runs.
DWORD start_self(DWORD flags, PROCESS_INFORMATION &pi) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_filter=-*";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(self, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi)) return 0;
    return pi.dwProcessId;
}

TEST_F(Replacement, RemovesTemporariesLeftByDeadProcesses) {
    PROCESS_INFORMATION ended{}, running{};
    ASSERT_NE(start_self(0, ended), 0u);
    WaitForSingleObject(ended.hProcess, INFINITE);
    CloseHandle(ended.hProcess);
    CloseHandle(ended.hThread);
    ASSERT_NE(start_self(CREATE_SUSPENDED, running), 0u);
    const std::string dead = std::to_string(ended.dwProcessId), live = std::to_string(running.dwProcessId);
    const std::string left[] = {"out.json.tmp." + dead + ".123", "out.json.tmp." + dead + ".123.4",
                                "out.json.tmp." + dead + ".123.old"};
    const std::string kept[] = {"out.json.tmp." + live + ".5", "other.json.tmp." + dead + ".5",
                                "out.json.tmp." + dead + ".x", "out.json.tmp.notapid.1"};
    for (const auto &name : left) write_text(dir_.file(name), "partial");
    for (const auto &name : kept) write_text(dir_.file(name), "partial");
    EXPECT_EQ(ac_write_file_atomic(target_.c_str(), "new", 3), 1);
    for (const auto &name : left) EXPECT_FALSE(file_exists(dir_.file(name))) << name;
    for (const auto &name : kept) EXPECT_TRUE(file_exists(dir_.file(name))) << name;
    TerminateProcess(running.hProcess, 0);
    CloseHandle(running.hProcess);
    CloseHandle(running.hThread);
}

}  // namespace
