#include <string>

#include <gtest/gtest.h>

#include "apiclient/apiclient.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "support/temp_dir.h"
#include "util/util.h"

namespace {

class EnvStore : public ::testing::Test {
protected:
    void SetUp() override {
        ac_env_cleanup();
        ac_clear_error();
    }
    void TearDown() override { ac_env_cleanup(); }
};

std::string json_str(const std::string &s) { return "\"" + s + "\""; }

const char max_message[] = "api_env_set: maximum environment variables (1000) reached";

}  // namespace

TEST_F(EnvStore, SetGetKeepsFirstSlotAndCase) {
    for (auto [k, v] : {std::pair<const char *, const char *>{"Host", "1"}, {"host", "2"}, {"none", nullptr},
                        {"Host", "3"}}) {
        ASSERT_EQ(api_env_set(k, v), 1);
    }
    EXPECT_STREQ(api_env_get("Host"), "3");
    EXPECT_STREQ(api_env_get("host"), "2");
    for (const char *k : {"HOST", "none", "", static_cast<const char *>(nullptr)}) EXPECT_STREQ(api_env_get(k), "");
    EXPECT_STREQ(api_env_json(), R"({"Host":"3","host":"2","none":""})");
    EXPECT_STREQ(api_last_error(), "");
    for (const char *key : {static_cast<const char *>(nullptr), ""}) {
        ac_clear_error();
        EXPECT_EQ(api_env_set(key, "v"), 0);
        EXPECT_STREQ(api_last_error(), "api_env_set: empty or null key");
    }
}

TEST_F(EnvStore, ThousandVariablesThenOnlyUpdates) {
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(api_env_set(("k" + std::to_string(i)).c_str(), "v"), 1) << i;
    EXPECT_STREQ(api_last_error(), "");
    EXPECT_EQ(api_env_set("k1000", "v"), 0);
    EXPECT_STREQ(api_last_error(), max_message);
    EXPECT_STREQ(api_env_get("k1000"), "");
    EXPECT_EQ(api_env_set("k999", "last"), 1);
    EXPECT_STREQ(api_env_get("k999"), "last");
    EXPECT_STREQ(api_last_error(), max_message);  // success never clears an earlier failure
    EXPECT_TRUE(std::string(api_env_json()).ends_with(R"(,"k998":"v","k999":"last"})"));
}

TEST_F(EnvStore, GetCutsAt8191BytesButTheStoreKeepsValuesWhole) {
    std::string two_byte;  // 8191 is odd, so the cut splits a character
    while (two_byte.size() < 10000) two_byte += "\xc3\xa9";
    for (const std::string &value : {std::string(8190, 'x'), std::string(8191, 'x'), std::string(8192, 'x'), two_byte}) {
        SCOPED_TRACE(value.size());
        ASSERT_EQ(api_env_set("long", value.c_str()), 1);
        EXPECT_EQ(std::string(api_env_get("long")), value.substr(0, 8191));
    }
    EXPECT_EQ(std::string(api_env_json()), R"({"long":)" + json_str(two_byte) + "}");
}

TEST_F(EnvStore, JsonEscapesAndGivesEmptyObjectOnInvalidUtf8) {
    EXPECT_STREQ(api_env_json(), "{}");
    ASSERT_EQ(api_env_set("path/x", "a\"b\\c\n\xc3\xa9/"), 1);
    EXPECT_STREQ(api_env_json(), "{\"path/x\":\"a\\\"b\\\\c\\n\xc3\xa9/\"}");
    for (auto [k, v] : {std::pair<const char *, const char *>{"k", "bad\xff"}, {"bad\xc3", "v"}}) {
        ac_env_cleanup();
        ASSERT_EQ(api_env_set(k, v), 1);
        EXPECT_STREQ(api_env_json(), "{}");
    }
}

TEST_F(EnvStore, JsonBeyond64KiBIsReturnedWhole) {
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        std::string key = "v" + std::to_string(i), value(5000, static_cast<char>('a' + i));
        ASSERT_EQ(api_env_set(key.c_str(), value.c_str()), 1);
        expected += (i ? "," : "{") + json_str(key) + ":" + json_str(value);
    }
    EXPECT_EQ(std::string(api_env_json()), expected + "}");
    ac_env_init();
    ASSERT_EQ(api_env_set("a", "1"), 1);
    EXPECT_STREQ(api_env_json(), R"({"a":"1"})");
}

class EnvLoad : public EnvStore {
protected:
    TempDir dir;
    std::string path = dir.file("env.json");

    int load(const std::string &text) {
        write_text(path, text);
        return api_env_load(path.c_str());
    }
};

TEST_F(EnvLoad, MemberValuesBecomeTextsInFileOrder) {
    const struct {
        const char *name;
        std::string json, text;
    } cases[] = {
        {"int", "42", "42"},
        {"pi", "3.14159265", "3.14159"},
        {"exp", "1e20", "1e+20"},
        {"yes", "true", "true"},
        {"no", "false", "false"},
        {"nil", "null", "null"},
        {"arr", "[ 1, 2 ]", "[1,2]"},
        {"obj", R"({ "k" : "v", "k" : 1 })", R"({"k":"v","k":1})"},
        {"esc", R"("a\"\u00e9\n")", "a\"\xc3\xa9\n"},
        {"i64max", "9223372036854775807", "9223372036854775807"},
        {"i64min", "-9223372036854775808", "-9223372036854775808"},
        {"above_i64", "9223372036854775808", "9223372036854775808"},
        {"u64max", "18446744073709551615", "18446744073709551615"},
        {"long_str", json_str(std::string(600, 's')), std::string(600, 's')},
    };
    std::string file;
    for (const auto &c : cases) file += (file.empty() ? "{" : ",") + json_str(c.name) + ":" + c.json;
    ASSERT_EQ(load(file + "}"), 1) << api_last_error();
    for (const auto &c : cases) EXPECT_EQ(std::string(api_env_get(c.name)), c.text) << c.name;
    std::string json = api_env_json();
    for (std::size_t at = 0; const auto &c : cases) {
        at = json.find(json_str(c.name) + ":", at);
        ASSERT_NE(at, std::string::npos) << c.name << " out of file order";
    }
    EXPECT_STREQ(api_last_error(), "");
}

TEST_F(EnvLoad, CompactArrayTextIsCutAt511BytesOnACharacterBoundary) {
    const struct {
        std::size_t a_count;  // ["aaa"] is a_count + 4 bytes
        const char *tail;
        std::size_t kept;
    } cases[] = {{506, "", 510}, {507, "", 511}, {508, "", 511},
                 {507, "\xc3\xa9\xc3\xa9", 511}, {508, "\xc3\xa9\xc3\xa9", 510}};
    for (const auto &c : cases) {
        std::string text = "[" + json_str(std::string(c.a_count, 'a') + c.tail) + "]";
        ASSERT_EQ(load(R"({"arr":)" + text + "}"), 1);
        EXPECT_EQ(std::string(api_env_get("arr")), text.substr(0, c.kept)) << c.a_count << c.tail;
        // A value cut inside a character would make the whole listing "{}".
        EXPECT_STRNE(api_env_json(), "{}");
    }
}

TEST_F(EnvLoad, MergesSkipsEmptyNamesAndStopsAtTheLimit) {
    ASSERT_EQ(api_env_set("b", "old"), 1);
    ASSERT_EQ(load(R"({"a":"1","b":"new","":"skipped","a":"2"})"), 1);
    EXPECT_STREQ(api_env_json(), R"({"b":"new","a":"2"})");
    EXPECT_STREQ(api_last_error(), "api_env_set: empty or null key");

    for (int i = 0; i < 997; ++i) ASSERT_EQ(api_env_set(("k" + std::to_string(i)).c_str(), "v"), 1);
    ASSERT_EQ(load(R"({"new1":"n1","new2":"n2","k0":"upd"})"), 1);
    EXPECT_STREQ(api_env_get("new1"), "n1");
    EXPECT_STREQ(api_env_get("new2"), "");
    EXPECT_STREQ(api_env_get("k0"), "upd");
    EXPECT_STREQ(api_last_error(), max_message);
}

TEST_F(EnvLoad, FailuresHaveExactMessagesAndChangeNothing) {
    const std::string parse = "api_env_load: JSON parse error in '" + path + "': ";
    const std::string root = "api_env_load: root element must be a JSON object";
    const std::string unreadable = "api_env_load: could not open or read '";
    const struct {
        const char *what;
        std::string text, message;  // a message ending in ": " is a prefix
    } cases[] = {
        {"empty file", "", parse + "input length is 0"},
        {"byte order mark", "\xef\xbb\xbf{\"a\":\"1\"}", parse},
        {"trailing comma", R"({"a":"1",})", parse},
        {"comment", "{\"a\":\"1\"} // c", parse},
        {"NaN", R"({"a":NaN})", parse},
        {"invalid UTF-8", "{\"a\":\"\xff\"}", parse},
        {"truncated", R"({"a":"1")", parse},
        {"root array", R"([{"a":"1"}])", root},
        {"root null", "null", root},
    };
    ASSERT_EQ(api_env_set("a", "before"), 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(load(c.text), 0);
        std::string message = api_last_error();
        if (c.message.ends_with(": ")) {
            EXPECT_TRUE(message.starts_with(c.message) && message.size() > c.message.size()) << message;
        } else {
            EXPECT_EQ(message, c.message);
        }
    }
    const std::string missing = dir.file("missing.json");
    for (const char *p : {static_cast<const char *>(nullptr), "", missing.c_str(), dir.path().c_str()}) {
        EXPECT_EQ(api_env_load(p), 0);
        EXPECT_EQ(std::string(api_last_error()),
                  p && *p ? unreadable + p + "'" : "api_env_load: null or empty path");
    }
    EXPECT_STREQ(api_env_json(), R"({"a":"before"})");
}
