#include <string>

#include "apiclient/apiclient.h"
#include "history/history.h"
#include "history_fixture.h"

namespace {

struct LoadCase {
    const char *name;
    std::string content;
    std::string listing;  // "now" stands for the time of loading
};

std::string replace_now(std::string text, std::uint64_t now) {
    for (std::size_t at; (at = text.find("now")) != std::string::npos;) text.replace(at, 3, std::to_string(now));
    return text;
}

TEST_F(HistoryTest, LoadsFilesByTheirRules) {
    const std::string defaults = R"({"method":"GET","url":"","status":0,"ts":now})";
    const LoadCase cases[] = {
        {"empty file", "", "[]"},
        {"not JSON", "[{]", "[]"},
        {"object root", "{}", "[]"},
        {"string root", "\"x\"", "[]"},
        {"byte order mark", "\xEF\xBB\xBF[{\"url\":\"u\"}]", "[]"},
        {"empty array", "[]", "[]"},
        {"elements of any shape", "[1,\"x\",{},null,[]]",
         "[" + defaults + "," + defaults + "," + defaults + "," + defaults + "," + defaults + "]"},
        {"mistyped members", R"([{"method":5,"url":null,"status":200.0,"ts":3.0}])", "[" + defaults + "]"},
        {"first of equal members", R"([{"method":"A","method":"B","url":"u","url":"v","ts":1,"ts":2}])",
         "[" + record_json("A", "u", 0, 1) + "]"},
        {"wide integers", R"([{"status":4294967496,"ts":18446744073709551615},{"status":-1,"ts":-1}])",
         "[" + record_json("GET", "", 200, 18446744073709551615ull) + "," +
             record_json("GET", "", -1, 18446744073709551615ull) + "]"},
        {"texts taken whole", R"([{"method":")" + std::string(100, 'M') + R"(","url":")" + std::string(5000, 'u') +
                                  R"(","status":201,"ts":7,"other":{}}])",
         "[" + record_json(std::string(100, 'M'), std::string(5000, 'u'), 201, 7) + "]"},
    };
    init_with_dir();
    for (const LoadCase &c : cases) {
        SCOPED_TRACE(c.name);
        write_text(history_file(), c.content);
        ac_set_error("untouched");
        std::uint64_t before = now();
        ac_history_init();
        std::string got = api_history_list_json(0);
        EXPECT_TRUE(got == replace_now(c.listing, before) || got == replace_now(c.listing, now())) << got;
        EXPECT_STREQ(api_last_error(), "untouched");
    }
}

TEST_F(HistoryTest, MissingFileOrDirectoryGivesAnEmptyHistory) {
    init_with_dir();
    EXPECT_EQ(api_history_count(), 0);
    ASSERT_EQ(api_init(dir_.file("plain/sub").c_str()), 1);
    EXPECT_EQ(api_history_count(), 0);
    EXPECT_STREQ(api_history_list_json(0), "[]");
}

TEST_F(HistoryTest, LoadsTheFirst500Records) {
    std::string content = "[";
    for (int i = 0; i < 600; ++i) content += (i ? "," : "") + record_json("GET", "u" + std::to_string(i), i, 1);
    write_text(history_file(), content + "]");
    init_with_dir();
    EXPECT_EQ(api_history_count(), 500);
    std::vector<Record> all = listed();
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(all.front().url, "u0");
    EXPECT_EQ(all.back().url, "u499");
    // The next recording drops the oldest loaded record and rewrites 500.
    api_history_add(R"({"url":"new"})");
    EXPECT_EQ(api_history_count(), 500);
    EXPECT_EQ(listed().back().url, "u498");
    std::string file = read_text(history_file());
    EXPECT_LT(file.find("\"new\""), file.find("\"u0\""));
    EXPECT_NE(file.find("\"u498\""), std::string::npos);
    EXPECT_EQ(file.find("\"u499\""), std::string::npos);
}

TEST_F(HistoryTest, SurvivesCleanupAndInitialisationWithTheSameDirectory) {
    init_with_dir();
    const char *entries[] = {R"({"method":"GET","url":"http://h/1","status":200,"ts":10})",
                             R"({"method":"PUT","url":"http://h/\u00e9","status":204,"ts":11})",
                             R"({"method":"DELETE","url":"http://h/3","status":-5,"ts":18446744073709551615})"};
    for (const char *e : entries) api_history_add(e);
    std::string before = api_history_list_json(0);
    std::string file = read_text(history_file());
    api_cleanup();
    init_with_dir();
    EXPECT_EQ(api_history_count(), 3);
    EXPECT_EQ(api_history_list_json(0), before);
    EXPECT_EQ(listed().front().method, "DELETE");
    // Reloading does not rewrite the file.
    EXPECT_EQ(read_text(history_file()), file);
}

TEST_F(HistoryTest, InitialisationWithoutDirectoryEmptiesTheHistory) {
    init_with_dir();
    api_history_add("{}");
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(api_history_count(), 0);
    // The file stays for the next initialisation that names the directory.
    EXPECT_TRUE(file_exists(history_file()));
}

}  // namespace
