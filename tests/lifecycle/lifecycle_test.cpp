#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "apiclient/apiclient.h"
#include "quorvane_apiclient.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void expect_load_time_accessors() {
    EXPECT_STREQ(api_response_body(), "");
    EXPECT_STREQ(api_response_headers_json(), "{}");
    EXPECT_EQ(api_response_status(), 0);
    EXPECT_STREQ(api_response_time_json(), "{}");
    EXPECT_STREQ(api_last_error(), "");
}

class Lifecycle : public ::testing::Test {
protected:
    void TearDown() override { api_cleanup(); }
};

}  // namespace

// Defined first so that it also holds when the whole program runs in one process.
TEST(LifecycleStart, NothingIsSetBeforeTheFirstCall) {
    EXPECT_EQ(g_initialized, 0);
    EXPECT_STREQ(g_storage_dir, "");
    expect_load_time_accessors();
}

TEST_F(Lifecycle, InitWithoutDirectoryCreatesNothing) {
    TempDir dir;
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    for (const char *arg : {static_cast<const char *>(nullptr), ""}) {
        std::strcpy(g_storage_dir, "stale");
        EXPECT_EQ(api_init(arg), 1);
        EXPECT_EQ(g_initialized, 1);
        EXPECT_STREQ(g_storage_dir, "");
    }
    fs::current_path(cwd);
    EXPECT_EQ(list_dir(dir.path()), "");
}

TEST_F(Lifecycle, InitCreatesOnlyTheLastLevelAndNeverFailsOnIt) {
    TempDir dir;
    write_text(dir.file("file"), "x");
    fs::create_directory(dir.file("existing"));
    // A missing parent or a parent that is a file is not an error: nothing is made.
    for (const char *name : {"store", "existing", "missing/store", "file/store"}) {
        EXPECT_EQ(api_init(dir.file(name).c_str()), 1);
        EXPECT_STREQ(api_last_error(), "");
        EXPECT_EQ(std::string(g_storage_dir), dir.file(name));
    }
    EXPECT_EQ(list_dir(dir.path()), "existing file store");
    EXPECT_TRUE(fs::is_directory(dir.file("store")));
}

TEST_F(Lifecycle, StorageDirectoryIsCutAt1023Bytes) {
    const std::string base = "/nonexistent-qv-parent/";
    for (std::size_t len : {1022u, 1023u, 1024u}) {
        std::string path = base + std::string(len - base.size(), 'd');
        EXPECT_EQ(api_init(path.c_str()), 1);
        EXPECT_EQ(std::string(g_storage_dir), path.substr(0, 1023)) << len;
    }
}

TEST_F(Lifecycle, SecondInitClearsTheErrorAndDiscardsEnvironmentAndCollection) {
    ASSERT_EQ(api_collection_add("before", "{}"), 1);  // stores work before any init
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(api_collection_count(), 0);
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_env_set(nullptr, "x"), 0);
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_STREQ(api_last_error(), "");
    EXPECT_STREQ(api_env_json(), "{}");
    EXPECT_EQ(api_collection_count(), 0);
}

TEST_F(Lifecycle, CleanupEmptiesEverythingAnyNumberOfTimesAndInitWorksAgain) {
    api_cleanup();  // without init
    expect_load_time_accessors();
    TempDir dir;
    ASSERT_EQ(api_init(dir.path().c_str()), 1);
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_EQ(api_env_set("", "x"), 0);
    for (int i = 0; i < 2; ++i) {
        api_cleanup();
        EXPECT_EQ(g_initialized, 0);
        EXPECT_STREQ(g_storage_dir, "");
        EXPECT_STREQ(api_env_json(), "{}");
        expect_load_time_accessors();
    }
    EXPECT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(g_initialized, 1);
    EXPECT_EQ(api_env_set("b", "2"), 1);
    EXPECT_STREQ(api_env_get("b"), "2");
}

TEST_F(Lifecycle, LongMessagesKeepExactlyTheirFirst2047Bytes) {
    std::string two_byte;  // 2047 is odd, so the cut splits a character
    while (two_byte.size() < 3000) two_byte += "\xc3\xa9";
    for (const std::string &text : {std::string(2046, 'm'), std::string(2047, 'm'), std::string(2048, 'm'), two_byte}) {
        ac_set_error("%s", text.c_str());
        EXPECT_EQ(std::string(api_last_error()), text.substr(0, 2047)) << text.size();
    }
}
