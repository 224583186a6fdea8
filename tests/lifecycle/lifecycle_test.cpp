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
    const struct {
        const char *what;
        std::string path;
        bool exists_after;
    } cases[] = {
        {"new last level", dir.file("store"), true},
        {"existing directory", dir.file("existing"), true},
        {"missing parent", dir.file("missing/store"), false},
        {"parent is a file", dir.file("file/store"), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(api_init(c.path.c_str()), 1);
        EXPECT_STREQ(api_last_error(), "");
        EXPECT_EQ(std::string(g_storage_dir), c.path);
        EXPECT_EQ(fs::is_directory(c.path), c.exists_after);
    }
    EXPECT_FALSE(fs::exists(dir.file("missing")));
    EXPECT_EQ(list_dir(dir.path()), "existing file store");
}

TEST_F(Lifecycle, StorageDirectoryIsCutAt1023Bytes) {
    const std::string base = "/nonexistent-qv-parent/";
    for (std::size_t len : {1022u, 1023u, 1024u, 1500u}) {
        SCOPED_TRACE(len);
        std::string path = base + std::string(len - base.size(), 'd');
        EXPECT_EQ(api_init(path.c_str()), 1);
        EXPECT_EQ(std::string(g_storage_dir), path.substr(0, 1023));
    }
}

TEST_F(Lifecycle, SuccessfulInitClearsAnEarlierError) {
    ASSERT_EQ(api_env_set(nullptr, "x"), 0);
    ASSERT_STRNE(api_last_error(), "");
    EXPECT_EQ(api_init(nullptr), 1);
    EXPECT_STREQ(api_last_error(), "");
}

TEST_F(Lifecycle, SecondInitDiscardsTheEnvironmentAndTheCollection) {
    ASSERT_EQ(api_collection_add("before", "{}"), 1);  // stores work before any init
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(api_collection_count(), 0);
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_EQ(api_collection_add(nullptr, "{}"), 1);
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_STREQ(api_env_get("a"), "");
    EXPECT_STREQ(api_env_json(), "{}");
    EXPECT_EQ(api_collection_count(), 0);
}

TEST_F(Lifecycle, CleanupWithoutInitAndTwiceInARow) {
    api_cleanup();
    expect_load_time_accessors();
    api_cleanup();
    expect_load_time_accessors();
    EXPECT_EQ(g_initialized, 0);
}

TEST_F(Lifecycle, CleanupEmptiesEverythingAndInitWorksAgain) {
    TempDir dir;
    ASSERT_EQ(api_init(dir.path().c_str()), 1);
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_EQ(api_env_set("", "x"), 0);
    api_cleanup();
    EXPECT_EQ(g_initialized, 0);
    EXPECT_STREQ(g_storage_dir, "");
    EXPECT_STREQ(api_env_get("a"), "");
    EXPECT_STREQ(api_env_json(), "{}");
    expect_load_time_accessors();
    api_cleanup();
    EXPECT_EQ(g_initialized, 0);

    EXPECT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(g_initialized, 1);
    EXPECT_EQ(api_env_set("b", "2"), 1);
    EXPECT_STREQ(api_env_get("b"), "2");
}

TEST_F(Lifecycle, LongMessagesKeepExactlyTheirFirst2047Bytes) {
    // Two-byte characters from offset 0 put one across the cut at 2047.
    std::string two_byte;
    while (two_byte.size() < 3000) two_byte += "\xc3\xa9";
    for (const std::string &text : {std::string(2046, 'm'), std::string(2047, 'm'), std::string(2048, 'm'),
                                    std::string(3000, 'm'), two_byte}) {
        SCOPED_TRACE(text.size());
        ac_set_error("%s", text.c_str());
        EXPECT_EQ(std::string(api_last_error()), text.substr(0, 2047));
    }
}

TEST_F(Lifecycle, LongPathInAFailureMessageIsCut) {
    const std::string path = "/nonexistent-qv/" + std::string(3000 - 16, 'p');
    EXPECT_EQ(api_env_load(path.c_str()), 0);
    const std::string full = "api_env_load: could not open or read '" + path + "'";
    EXPECT_EQ(std::string(api_last_error()), full.substr(0, 2047));
}
