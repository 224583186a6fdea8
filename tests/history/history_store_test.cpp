#include <string>

#include "apiclient/apiclient.h"
#include "history/history.h"
#include "history_fixture.h"

namespace {

TEST_F(HistoryTest, LoadsFilesByTheirRules) {
    const std::string any = record_json("GET", "", 0, "now");
    const struct {
        std::string content, listing;
    } cases[] = {
        {"", "[]"},
        {"{}", "[]"},
        {"\xEF\xBB\xBF[{\"url\":\"u\"}]", "[]"},
        {"[1,{},null]", "[" + any + "," + any + "," + any + "]"},
        {R"([{"method":5,"url":null,"status":200.0,"ts":3.0}])", "[" + any + "]"},
        {R"([{"method":"A","method":"B","url":"u","url":"v","ts":1,"ts":2}])", "[" + record_json("A", "u", 0, "1") + "]"},
        {R"([{"status":4294967496,"ts":18446744073709551615},{"status":-1,"ts":-1}])",
         "[" + record_json("GET", "", 200, "18446744073709551615") + "," + record_json("GET", "", -1, "18446744073709551615") + "]"},
        // Loading takes texts whole; only recording cuts them.
        {R"([{"method":")" + std::string(100, 'M') + R"(","url":")" + std::string(5000, 'u') + R"(","status":201,"ts":7}])",
         "[" + record_json(std::string(100, 'M'), std::string(5000, 'u'), 201, "7") + "]"},
    };
    init_with_dir();
    for (const auto &c : cases) {
        write_text(history_file(), c.content);
        ac_set_error("untouched");
        expect_listing_after([] { ac_history_init(); }, c.listing);
        EXPECT_STREQ(api_last_error(), "untouched");
    }
}

TEST_F(HistoryTest, LoadsTheFirst500AndTheNextRecordingDropsTheOldest) {
    std::string content, first500;
    for (int i = 0; i < 600; ++i) {
        std::string record = (i ? "," : "") + record_json("GET", "u" + std::to_string(i), i, "1");
        content += record;
        if (i < 500) first500 += record;
    }
    write_text(history_file(), "[" + content + "]");
    init_with_dir();
    EXPECT_EQ(api_history_list_json(0), "[" + first500 + "]");
    api_history_add(R"({"url":"new"})");
    EXPECT_EQ(api_history_count(), 500);
    std::string file = read_text(history_file());
    EXPECT_LT(file.find("\"new\""), file.find("\"u0\""));
    EXPECT_NE(file.find("\"u498\""), std::string::npos);
    EXPECT_EQ(file.find("\"u499\""), std::string::npos);
}

TEST_F(HistoryTest, SurvivesCleanupAndInitialisationWithTheSameDirectory) {
    ASSERT_EQ(api_init(dir_.file("missing/sub").c_str()), 1);
    EXPECT_STREQ(api_history_list_json(0), "[]");
    init_with_dir();
    EXPECT_EQ(api_history_count(), 0);
    api_history_add(R"({"method":"GET","url":"http://h/1","status":200,"ts":10})");
    api_history_add(R"({"method":"PUT","url":"http://h/\u00e9","status":-5,"ts":18446744073709551615})");
    std::string before = api_history_list_json(0), file = read_text(history_file());
    api_cleanup();
    init_with_dir();
    EXPECT_EQ(api_history_list_json(0), before);
    EXPECT_EQ(read_text(history_file()), file);  // loading does not rewrite
    // Without a directory the history starts empty; the file stays for the next initialisation naming it.
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_EQ(api_history_count(), 0);
    EXPECT_EQ(read_text(history_file()), file);
}

}  // namespace
