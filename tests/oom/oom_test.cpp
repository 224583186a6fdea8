// Fails the library's Nth allocation in turn and checks that every operation
// either succeeds or reports running out of memory, leaking nothing (the
// sanitizer build checks the leaks).
#include <cstddef>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "apiclient/response.h"
#include "quorvane_apiclient.h"
#include "support/temp_dir.h"
#include "support/library_fixture.h"

extern "C" void *__real_malloc(std::size_t size);
extern "C" void *__real_realloc(void *p, std::size_t size);

namespace {
long s_allocations_left = -1;  // negative: never fail

bool fail_now() {
    if (s_allocations_left < 0) return false;
    return s_allocations_left-- == 0;
}

// Blocks the library holds while tracking is on; a fixed table, since the
// wrappers must not allocate.
constexpr std::size_t max_tracked = 8192;
void *s_live[max_tracked];
bool s_tracking = false;

void track(void *p) {
    if (!s_tracking || !p) return;
    for (void *&slot : s_live) {
        if (!slot) {
            slot = p;
            return;
        }
    }
}
void untrack(void *p) {
    if (!p) return;
    for (void *&slot : s_live) {
        if (slot == p) slot = nullptr;
    }
}
std::size_t live_blocks() {
    std::size_t n = 0;
    for (void *slot : s_live) n += slot != nullptr;
    return n;
}
}  // namespace

// Only calls made by objects linked into this program are wrapped: the
// library's own allocations, not libcurl's or yyjson's.
extern "C" void *__wrap_malloc(std::size_t size) {
    void *p = fail_now() ? nullptr : __real_malloc(size);
    track(p);
    return p;
}
extern "C" void *__wrap_realloc(void *p, std::size_t size) {
    void *grown = fail_now() ? nullptr : __real_realloc(p, size);
    if (grown) {
        untrack(p);
        track(grown);
    }
    return grown;
}
extern "C" void __real_free(void *p);
extern "C" void __wrap_free(void *p) {
    untrack(p);
    __real_free(p);
}

namespace {

class OutOfMemory : public LibraryTest {
protected:
    void TearDown() override {
        s_allocations_left = -1;
        LibraryTest::TearDown();
    }
};

TEST_F(OutOfMemory, RequestFailsCleanlyAtEveryAllocation) {
    // Port 1 on the loopback refuses at once, so each run ends quickly.
    const char *config =
        R"({"url":"http://127.0.0.1:{{port}}/x","method":"POST","body":"{{port}}",)"
        R"("headers":{"X-A":"{{port}}"},"auth":{"type":"apikey","in":"query","value":"k"}})";
    int out_of_memory = 0;
    bool failure_hit = true;
    for (long n = 0; failure_hit; ++n) {
        // A fresh start each time, so that the first body buffer is allocated anew.
        api_cleanup();
        ASSERT_EQ(api_init(nullptr), 1);
        ASSERT_EQ(api_env_set("port", "1"), 1);
        s_allocations_left = n;
        int rc = api_request(config);
        failure_hit = s_allocations_left < 0;
        s_allocations_left = -1;
        std::string err = api_last_error();
        ASSERT_EQ(rc, 0);
        // A failed expansion falls back to the unexpanded text, which the
        // transfer then refuses; every other failure is reported as such.
        if (err.rfind("api_request: curl error", 0) == 0) continue;
        EXPECT_EQ(err, "api_request: out of memory") << "allocation " << n;
        EXPECT_EQ(api_response_status(), 0);
        EXPECT_STREQ(api_response_headers_json(), "{}");
        ++out_of_memory;
    }
    EXPECT_GE(out_of_memory, 2);  // the final URL copy and the first body buffer
}

TEST_F(OutOfMemory, EnvironmentKeepsItsValuesWhenCopiesFail) {
    ASSERT_EQ(api_env_set("k", "old"), 1);
    s_allocations_left = 0;
    EXPECT_EQ(api_env_set("k", "new"), 0);
    s_allocations_left = 0;
    EXPECT_EQ(api_env_set("other", "v"), 0);
    s_allocations_left = 1;
    EXPECT_EQ(api_env_set("other", "v"), 0);
    s_allocations_left = -1;
    EXPECT_STREQ(api_last_error(), "api_env_set: out of memory");
    EXPECT_STREQ(api_env_get("k"), "old");
    EXPECT_STREQ(api_env_json(), R"({"k":"old"})");
}

TEST_F(OutOfMemory, CollectionAddIsAllOrNothing) {
    const char *item = R"({"name":"n","method":"POST","url":"u","body":"b","body_type":"json",)"
                       R"("headers":{"A":"1"},"auth":{"type":"bearer"}})";
    bool failure_hit = true;
    for (long n = 0; failure_hit; ++n) {
        s_allocations_left = n;
        int rc = api_collection_add("folder", item);
        failure_hit = s_allocations_left < 0;
        s_allocations_left = -1;
        if (failure_hit) {
            EXPECT_EQ(rc, 0) << "allocation " << n;
            EXPECT_STREQ(api_last_error(), "api_collection_add: out of memory");
            EXPECT_EQ(api_collection_count(), 0);
        } else {
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(api_collection_count(), 1);
        }
    }
}

// A load that runs out of memory half-way fails and keeps the old items.
TEST_F(OutOfMemory, CollectionLoadReplacesAllOrNothing) {
    TempDir dir;
    const std::string path = dir.file("c.json");
    write_text(path, R"({"requests":[{"name":"a","folder":"f"},{"name":"b","headers":{"X":"1"}},{"name":"c"}]})");
    bool failure_hit = true;
    for (long n = 0; failure_hit; ++n) {
        api_cleanup();
        ASSERT_EQ(api_init(nullptr), 1);
        ASSERT_EQ(api_collection_add("old", R"({"name":"kept"})"), 1);
        s_allocations_left = n;
        int rc = api_collection_load(path.c_str());
        failure_hit = s_allocations_left < 0;
        s_allocations_left = -1;
        if (rc == 1) {
            EXPECT_EQ(api_collection_count(), 3) << "allocation " << n;
            continue;
        }
        EXPECT_EQ(std::string(api_last_error()).rfind("api_collection_load: ", 0), 0u) << api_last_error();
        ASSERT_EQ(api_collection_count(), 1) << "allocation " << n;
        EXPECT_NE(std::string(api_collection_get_json(0)).find("\"kept\""), std::string::npos);
    }
}

// api_cleanup releases every buffer the library holds: after it, nothing
// the library allocated during a session of every kind of call is left.
TEST(Cleanup, ReleasesEveryBufferTheLibraryHolds) {
    TempDir dir;
    const std::string env = dir.file("env.json"), saved = dir.file("c.json");
    write_text(env, R"({"a":"1","b":[1,2]})");
    s_tracking = true;
    ASSERT_EQ(api_init(dir.path().c_str()), 1);
    api_env_set("k", "v");
    api_env_load(env.c_str());
    api_env_json();
    api_request(R"({"url":"http://127.0.0.1:1/{{a}}","headers":{"X":"{{k}}"}})");
    api_history_add(R"({"method":"GET","url":"u"})");
    api_history_list_json(0);
    api_collection_add("f", R"({"name":"n","headers":{"A":"1"}})");
    api_collection_get_json(0);
    api_collection_save(saved.c_str());
    api_collection_load(saved.c_str());
    api_export_postman(dir.file("p.json").c_str());
    api_import_postman(dir.file("p.json").c_str());
    ASSERT_TRUE(g_response_body.append(R"({"x":[1,2,3]})"));
    EXPECT_STREQ(api_json_query("$.x"), "[1,2,3]");
    api_cleanup();
    s_tracking = false;
    EXPECT_EQ(live_blocks(), 0u);
}

}  // namespace
