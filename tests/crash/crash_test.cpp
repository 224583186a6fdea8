// Crash consistency: a child process saves the collection, records history
// and exports on the same paths in a loop; it is killed with SIGKILL at
// random moments. Every file must then parse and hold one whole version.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "quorvane_apiclient.h"
#include "support/json.h"
#include "support/temp_dir.h"

namespace {

const char *const versions[2][2] = {
    {R"({"name":"a","url":"http://h/a","headers":{"X":"1"}})", R"({"name":"b","method":"POST","body":"[1]"})"},
    {R"({"name":"c","url":"http://h/c","auth":{"type":"bearer","token":"t"}})", R"({"name":"d","method":"PUT"})"},
};

void load_version(int v) {
    api_cleanup();
    api_init(nullptr);
    for (const char *item : versions[v]) api_collection_add("f", item);
}

// The files each version gives, written by this process.
struct Expected {
    std::string collection[2], postman[2];
};

// Runs in the child until killed: every round saves and exports one version
// and records the next history entry, whose url carries its number.
[[noreturn]] void child_loop(const std::string &dir, int first_entry) {
    for (int i = first_entry;; ++i) {
        load_version(i % 2);
        api_collection_save((dir + "/c.json").c_str());
        api_export_postman_full((dir + "/p.json").c_str());
        api_cleanup();
        api_init(dir.c_str());
        api_history_add(("{\"url\":\"http://h/" + std::to_string(i) + "\",\"ts\":1}").c_str());
    }
}

// History entries are newest first and numbered without a gap; returns the
// newest number, or -1 when the file holds none.
int check_history(const std::string &text) {
    JsonDoc doc = parse_json(text);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    EXPECT_TRUE(yyjson_is_arr(root)) << text.substr(0, 200);
    int newest = -1, expect = -1;
    std::size_t idx, max;
    yyjson_val *entry;
    yyjson_arr_foreach(root, idx, max, entry) {
        int n = std::stoi(std::string(json_str(entry, "url")).substr(9));
        if (idx == 0) newest = expect = n;
        EXPECT_EQ(n, expect--);
    }
    return newest;
}

TEST(CrashConsistency, KilledSavesLeaveWholeFiles) {
    TempDir dir;
    Expected expected;
    for (int v = 0; v < 2; ++v) {
        load_version(v);
        ASSERT_EQ(api_collection_save(dir.file("c.json").c_str()), 1);
        expected.collection[v] = read_text(dir.file("c.json"));
        ASSERT_EQ(api_export_postman_full(dir.file("p.json").c_str()), 1);
        expected.postman[v] = read_text(dir.file("p.json"));
    }
    api_cleanup();

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay_us(0, 15000);
    int next_entry = 0, kills = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; kills < 300 && std::chrono::steady_clock::now() < deadline; ++kills) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) child_loop(dir.path(), next_entry);
        usleep(static_cast<useconds_t>(delay_us(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        for (const char *name : {"c.json", "p.json"}) {
            std::string text = read_text(dir.file(name));
            const std::string *versions_of = name[0] == 'c' ? expected.collection : expected.postman;
            ASSERT_TRUE(text == versions_of[0] || text == versions_of[1]) << name << " after kill " << kills << ":\n"
                                                                          << text.substr(0, 300);
        }
        if (file_exists(dir.file("history.json"))) next_entry = check_history(read_text(dir.file("history.json"))) + 1;
        if (HasFailure()) return;
    }
    EXPECT_GE(kills, 100);
    // A save that completes removes what killed ones left behind.
    load_version(0);
    ASSERT_EQ(api_collection_save(dir.file("c.json").c_str()), 1);
    ASSERT_EQ(api_export_postman_full(dir.file("p.json").c_str()), 1);
    api_cleanup();
    ASSERT_EQ(api_init(dir.path().c_str()), 1);
    ASSERT_EQ(api_history_add(R"({"url":"http://h/last","ts":1})"), 1);
    api_cleanup();
    EXPECT_EQ(list_dir(dir.path()), "c.json history.json p.json") << "after " << kills << " kills";
}

}  // namespace
