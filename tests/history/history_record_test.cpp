#include <filesystem>
#include <string>

#include "apiclient/response.h"
#include "history_fixture.h"

namespace {

TEST_F(HistoryTest, WithoutDirectoryRecordsDefaultsAndWritesNothing) {
    const char *inputs[] = {nullptr, "", "not json", "[1]", R"({"status":"200","ts":1.5,"method":7})",
                            "\xEF\xBB\xBF{\"method\":\"POST\"}"};
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    g_response_status = 418;  // defaults come from the last response and the clock
    for (const char *input : inputs) {
        expect_listing_after([&] { EXPECT_EQ(api_history_add(input), 1); }, "[" + record_json("GET", "", 418, "now") + "]", 1);
    }
    std::string entries = list_dir(".");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(entries, "");
    EXPECT_STREQ(api_last_error(), "");
}

TEST_F(HistoryTest, RecordsGivenValuesAndCutsLongTextsAtWholeCharacters) {
    const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC", m29(29, 'M'), u1021(1021, 'u');
    auto entry = [](const std::string &method, const std::string &url) {
        return R"({"method":")" + method + R"(","url":")" + url + R"(","status":0,"ts":1})";
    };
    const struct {
        std::string entry_json, expected;
    } cases[] = {
        {R"({"ts":5,"status":-1,"url":"u","method":"get","extra":[]})", record_json("get", "u", -1, "5")},
        {R"({"method":"A","method":"B","status":4294967496,"ts":-1})", record_json("A", "", 200, "18446744073709551615")},
        {R"({"status":2147483648,"ts":18446744073709551615})", record_json("GET", "", -2147483648LL, "18446744073709551615")},
        {R"({"url":"http://h/\u00e9","status":0,"ts":0})", record_json("GET", "http://h/" + e_acute, 0, "0")},
        {entry(m29 + "MM", ""), record_json(m29 + "MM", "", 0, "1")},
        {entry(m29 + "MMM", ""), record_json(m29 + "MM", "", 0, "1")},
        {entry(m29 + "M" + e_acute, ""), record_json(m29 + "M", "", 0, "1")},
        {entry(m29 + e_acute + "X", ""), record_json(m29 + e_acute, "", 0, "1")},
        {entry("", u1021 + "uu"), record_json("", u1021 + "uu", 0, "1")},
        {entry("", u1021 + "uuu"), record_json("", u1021 + "uu", 0, "1")},
        {entry("", u1021 + euro), record_json("", u1021, 0, "1")},
    };
    init_with_dir();
    for (const auto &c : cases) {
        ASSERT_EQ(api_history_add(c.entry_json.c_str()), 1);
        EXPECT_EQ(api_history_list_json(1), "[" + c.expected + "]") << c.entry_json.size();
    }
    // Every record reached the file: a cut inside a character would have made it unwritable.
    std::string all = api_history_list_json(0);
    api_cleanup();
    init_with_dir();
    EXPECT_EQ(api_history_list_json(0), all);
}

TEST_F(HistoryTest, KeepsTheNewest500AndListsNewestFirst) {
    for (int i = 0; i <= 500; ++i) {
        ASSERT_EQ(api_history_add((R"({"status":0,"ts":1,"url":"u)" + std::to_string(i) + "\"}").c_str()), 1);
    }
    EXPECT_EQ(api_history_count(), 500);
    // Short listings first, so the listing buffer has to grow.
    const std::pair<int, int> cases[] = {{1, 1}, {499, 499}, {500, 500}, {501, 500}, {0, 500}, {-1, 500}, {-2147483647 - 1, 500}};
    for (auto [limit, size] : cases) {
        std::string expected = "[";
        for (int i = 0; i < size; ++i) expected += (i ? "," : "") + record_json("GET", "u" + std::to_string(500 - i), 0, "1");
        EXPECT_EQ(api_history_list_json(limit), expected + "]") << limit;
    }
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

TEST_F(HistoryTest, FailedWritesLoseNeitherEntriesNorTheFile) {
    init_with_dir();
    api_history_add(R"({"url":"x","status":1,"ts":2})");
    std::string before = read_text(history_file());
    // With the directory moved away not even the temporary file can be made.
    std::string moved = dir_.path() + "-moved";
    ASSERT_EQ(rename(dir_.path().c_str(), moved.c_str()), 0);
    EXPECT_EQ(api_history_add(R"({"url":"y"})"), 1);
    ASSERT_EQ(rename(moved.c_str(), dir_.path().c_str()), 0);
    EXPECT_EQ(read_text(history_file()), before);
    // A directory in the file's place fails the final rename, after the temporary is written.
    ASSERT_TRUE(std::filesystem::remove(history_file()));
    ASSERT_TRUE(std::filesystem::create_directory(history_file()));
    EXPECT_EQ(api_history_add(R"({"url":"z"})"), 1);
    EXPECT_EQ(api_history_count(), 3);
    EXPECT_EQ(list_dir(dir_.path()), "history.json");
    EXPECT_EQ(list_dir(history_file()), "");
}

}  // namespace
