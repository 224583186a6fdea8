#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "apiclient/apiclient.h"
#include "history_fixture.h"

namespace {

TEST_F(HistoryTest, DefaultsComeFromTheLastResponseAndTheClock) {
    const char *inputs[] = {nullptr, "", "not json", "[1]", "\"x\"", R"({"status":"200","ts":1.5,"method":7})",
                            "\xEF\xBB\xBF{\"method\":\"POST\"}"};
    g_response_status = 418;
    for (const char *input : inputs) {
        SCOPED_TRACE(input ? input : "(null)");
        std::uint64_t before = now();
        EXPECT_EQ(api_history_add(input), 1);
        std::uint64_t after = now();
        Record r = listed(1).at(0);
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.url, "");
        EXPECT_EQ(r.status, 418);
        EXPECT_GE(r.ts, before);
        EXPECT_LE(r.ts, after);
    }
    EXPECT_EQ(api_history_count(), 7);
    EXPECT_STREQ(api_last_error(), "");
}

struct ValueCase {
    const char *entry_json;
    const char *expected;
};

TEST_F(HistoryTest, RecordsGivenValues) {
    const ValueCase cases[] = {
        {R"({"method":"POST","url":"http://h/a","status":201,"ts":1700000000})",
         R"({"method":"POST","url":"http://h/a","status":201,"ts":1700000000})"},
        {R"({"ts":5,"status":-1,"url":"u","method":"get","extra":[]})", R"({"method":"get","url":"u","status":-1,"ts":5})"},
        {R"({"method":"A","method":"B","status":4294967496,"ts":-1})",
         R"({"method":"A","url":"","status":200,"ts":18446744073709551615})"},
        {R"({"status":2147483648,"ts":18446744073709551615})",
         R"({"method":"GET","url":"","status":-2147483648,"ts":18446744073709551615})"},
        {R"({"method":"","url":"http://h/\u00e9","status":0,"ts":0})",
         "{\"method\":\"\",\"url\":\"http://h/\xC3\xA9\",\"status\":0,\"ts\":0}"},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.entry_json);
        ASSERT_EQ(api_history_add(c.entry_json), 1);
        EXPECT_EQ(api_history_list_json(1), "[" + std::string(c.expected) + "]");
    }
}

struct CutCase {
    const char *name;
    bool is_url;
    std::string value;
    std::string stored;
};

TEST_F(HistoryTest, CutsLongTextsAtWholeCharacters) {
    const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC";
    const CutCase cases[] = {
        {"method of 31", false, std::string(31, 'M'), std::string(31, 'M')},
        {"method of 32", false, std::string(32, 'M'), std::string(31, 'M')},
        {"method of 40", false, std::string(40, 'M'), std::string(31, 'M')},
        {"method, 2-byte character across the cut", false, std::string(30, 'M') + e_acute, std::string(30, 'M')},
        {"method, 2-byte character ending at the cut", false, std::string(29, 'M') + e_acute + "X",
         std::string(29, 'M') + e_acute},
        {"url of 1023", true, std::string(1023, 'u'), std::string(1023, 'u')},
        {"url of 1024", true, std::string(1024, 'u'), std::string(1023, 'u')},
        {"url of 2000", true, std::string(2000, 'u'), std::string(1023, 'u')},
        {"url, 3-byte character across the cut", true, std::string(1021, 'u') + euro, std::string(1021, 'u')},
        {"url of 2-byte characters", true, [&] {
             std::string s;
             for (int i = 0; i < 600; ++i) s += e_acute;
             return s;
         }(), [&] {
             std::string s;
             for (int i = 0; i < 511; ++i) s += e_acute;
             return s;
         }()},
    };
    init_with_dir();
    for (const CutCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = std::string(c.is_url ? R"({"url":")" : R"({"method":")") + c.value + "\"}";
        ASSERT_EQ(api_history_add(json.c_str()), 1);
        Record r = listed(1).at(0);
        EXPECT_EQ(c.is_url ? r.url : r.method, c.stored);
        // The file still takes every record, the cut one included.
        EXPECT_NE(read_text(history_file()).find(c.stored + "\""), std::string::npos);
    }
}

TEST_F(HistoryTest, KeepsTheNewest500) {
    for (int i = 0; i <= 500; ++i) {
        std::string json = R"({"url":"u)" + std::to_string(i) + R"(","ts":1})";
        ASSERT_EQ(api_history_add(json.c_str()), 1);
    }
    EXPECT_EQ(api_history_count(), 500);
    std::vector<Record> all = listed();
    ASSERT_EQ(all.size(), 500u);
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i].url, "u" + std::to_string(500 - i));
}

TEST_F(HistoryTest, LimitSelectsTheNewest) {
    EXPECT_STREQ(api_history_list_json(0), "[]");
    EXPECT_STREQ(api_history_list_json(5), "[]");
    for (int i = 0; i < 5; ++i) {
        std::string json = R"({"url":"u)" + std::to_string(i) + R"(","status":0,"ts":1})";
        api_history_add(json.c_str());
    }
    const struct {
        int limit;
        std::size_t size;
    } cases[] = {{0, 5}, {-1, 5}, {-2147483647 - 1, 5}, {6, 5}, {5, 5}, {4, 4}, {3, 3}, {1, 1}};
    for (const auto &c : cases) {
        std::vector<Record> got = listed(c.limit);
        ASSERT_EQ(got.size(), c.size) << c.limit;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].url, "u" + std::to_string(4 - i));
    }
    EXPECT_EQ(api_history_list_json(2), "[" + record_json("GET", "u4", 0, 1) + "," + record_json("GET", "u3", 0, 1) + "]");
}

TEST_F(HistoryTest, ListingBufferFollowsGrowth) {
    std::string url(3000, 'x');
    std::string json = R"({"url":")" + url + R"(","status":1,"ts":2})";
    api_history_add(R"({"url":"a","status":1,"ts":2})");
    EXPECT_EQ(api_history_list_json(0), "[" + record_json("GET", "a", 1, 2) + "]");
    api_history_add(json.c_str());
    EXPECT_EQ(api_history_list_json(0),
              "[" + record_json("GET", std::string(1023, 'x'), 1, 2) + "," + record_json("GET", "a", 1, 2) + "]");
    EXPECT_EQ(api_history_list_json(-1 + 2), "[" + record_json("GET", std::string(1023, 'x'), 1, 2) + "]");
}

TEST_F(HistoryTest, WritesThePrettyFileNewestFirst) {
    init_with_dir();
    api_history_add(R"({"method":"GET","url":"http://h/a","status":200,"ts":1700000000})");
    api_history_add(R"({"method":"POST","url":"http://h/b","status":201,"ts":1700000001})");
    EXPECT_EQ(read_text(history_file()),
              "[\n"
              "    {\n"
              "        \"method\": \"POST\",\n"
              "        \"url\": \"http://h/b\",\n"
              "        \"status\": 201,\n"
              "        \"ts\": 1700000001\n"
              "    },\n"
              "    {\n"
              "        \"method\": \"GET\",\n"
              "        \"url\": \"http://h/a\",\n"
              "        \"status\": 200,\n"
              "        \"ts\": 1700000000\n"
              "    }\n"
              "]");
    EXPECT_EQ(list_dir(dir_.path()), "history.json");
}

TEST_F(HistoryTest, WithoutStorageDirectoryNothingIsWritten) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    api_history_add(R"({"url":"x"})");
    EXPECT_EQ(api_history_count(), 1);
    std::string entries = list_dir(".");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(entries, "");
}

TEST_F(HistoryTest, FailedWriteKeepsTheEntryAndLeavesNoTemporaryFile) {
    init_with_dir();
    ASSERT_EQ(mkdir(history_file().c_str(), 0755), 0);
    EXPECT_EQ(api_history_add(R"({"url":"x"})"), 1);
    EXPECT_EQ(api_history_count(), 1);
    EXPECT_EQ(list_dir(dir_.path()), "history.json");
    EXPECT_EQ(list_dir(history_file()), "");
}

TEST_F(HistoryTest, FailedWriteKeepsThePreviousFile) {
    init_with_dir();
    api_history_add(R"({"url":"x","status":1,"ts":2})");
    std::string before = read_text(history_file());
    // Moving the directory away makes the next rewrite fail.
    std::string moved = dir_.path() + "-moved";
    ASSERT_EQ(rename(dir_.path().c_str(), moved.c_str()), 0);
    EXPECT_EQ(api_history_add(R"({"url":"y"})"), 1);
    ASSERT_EQ(rename(moved.c_str(), dir_.path().c_str()), 0);
    EXPECT_EQ(api_history_count(), 2);
    EXPECT_EQ(read_text(history_file()), before);
    EXPECT_EQ(list_dir(dir_.path()), "history.json");
}

}  // namespace
