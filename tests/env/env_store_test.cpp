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

std::string json_str(const std::string &s) {
    return "\"" + s + "\"";
}

const char max_message[] = "api_env_set: maximum environment variables (1000) reached";

}  // namespace

TEST_F(EnvStore, SettingAgainKeepsTheFirstSlot) {
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_EQ(api_env_set("b", "2"), 1);
    ASSERT_EQ(api_env_set("a", "3"), 1);
    EXPECT_STREQ(api_env_get("a"), "3");
    EXPECT_STREQ(api_env_json(), R"({"a":"3","b":"2"})");
    EXPECT_STREQ(api_last_error(), "");
}

TEST_F(EnvStore, KeysAreCaseSensitiveAndNullValueIsEmpty) {
    ASSERT_EQ(api_env_set("Host", "upper"), 1);
    ASSERT_EQ(api_env_set("host", "lower"), 1);
    ASSERT_EQ(api_env_set("none", nullptr), 1);
    EXPECT_STREQ(api_env_get("Host"), "upper");
    EXPECT_STREQ(api_env_get("host"), "lower");
    EXPECT_STREQ(api_env_get("HOST"), "");
    EXPECT_STREQ(api_env_get("none"), "");
    EXPECT_STREQ(api_env_get(nullptr), "");
    EXPECT_STREQ(api_env_get(""), "");
    EXPECT_STREQ(api_env_json(), R"({"Host":"upper","host":"lower","none":""})");
}

TEST_F(EnvStore, NullOrEmptyKeyFails) {
    for (const char *key : {static_cast<const char *>(nullptr), ""}) {
        ac_clear_error();
        EXPECT_EQ(api_env_set(key, "v"), 0);
        EXPECT_STREQ(api_last_error(), "api_env_set: empty or null key");
    }
    EXPECT_STREQ(api_env_json(), "{}");
}

TEST_F(EnvStore, ThousandVariablesThenNoNewOnesButUpdatesStillWork) {
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(api_env_set(("k" + std::to_string(i)).c_str(), "v"), 1) << i;
    EXPECT_STREQ(api_last_error(), "");
    EXPECT_EQ(api_env_set("k1000", "v"), 0);
    EXPECT_STREQ(api_last_error(), max_message);
    EXPECT_STREQ(api_env_get("k1000"), "");

    EXPECT_EQ(api_env_set("k0", "first"), 1);
    EXPECT_EQ(api_env_set("k999", "last"), 1);
    EXPECT_STREQ(api_env_get("k0"), "first");
    EXPECT_STREQ(api_env_get("k999"), "last");
    // A success never rewrites the message of an earlier failure.
    EXPECT_STREQ(api_last_error(), max_message);

    std::string json = api_env_json();
    EXPECT_EQ(json.rfind(R"({"k0":"first","k1":"v",)", 0), 0u);
    EXPECT_TRUE(json.ends_with(R"(,"k998":"v","k999":"last"})"));
}

TEST_F(EnvStore, GetCutsLongValuesAt8191BytesButTheStoreKeepsThemWhole) {
    // Two-byte characters put a character across the 8191-byte cut.
    std::string two_byte;
    while (two_byte.size() < 10000) two_byte += "\xc3\xa9";
    const struct {
        const char *what;
        std::string value;
    } cases[] = {
        {"8190 bytes", std::string(8190, 'x')},
        {"8191 bytes", std::string(8191, 'x')},
        {"8192 bytes", std::string(8192, 'x')},
        {"10000 bytes", std::string(10000, 'y')},
        {"split character", two_byte},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(api_env_set("long", c.value.c_str()), 1);
        EXPECT_EQ(std::string(api_env_get("long")), c.value.substr(0, 8191));
    }
    ASSERT_EQ(api_env_set("long", std::string(10000, 'z').c_str()), 1);
    EXPECT_EQ(std::string(api_env_json()), R"({"long":)" + json_str(std::string(10000, 'z')) + "}");
}

TEST_F(EnvStore, JsonIsCompactEscapedAndEmptyAfterReset) {
    EXPECT_STREQ(api_env_json(), "{}");
    ASSERT_EQ(api_env_set("path/x", "a\"b\\c\n\xc3\xa9/"), 1);
    EXPECT_STREQ(api_env_json(), "{\"path/x\":\"a\\\"b\\\\c\\n\xc3\xa9/\"}");
    ac_env_init();
    EXPECT_STREQ(api_env_json(), "{}");
}

TEST_F(EnvStore, JsonIsEmptyObjectAfterApiInit) {
    ASSERT_EQ(api_env_set("a", "1"), 1);
    ASSERT_STREQ(api_env_json(), R"({"a":"1"})");
    ASSERT_EQ(api_init(nullptr), 1);
    EXPECT_STREQ(api_env_json(), "{}");
    EXPECT_STREQ(api_env_get("a"), "");
    api_cleanup();
}

TEST_F(EnvStore, InvalidUtf8AnywhereGivesEmptyObject) {
    for (const auto &kv : {std::pair<const char *, const char *>{"k", "bad\xff"}, {"bad\xc3", "v"}}) {
        ac_env_cleanup();
        ASSERT_EQ(api_env_set("ok", "fine"), 1);
        ASSERT_EQ(api_env_set(kv.first, kv.second), 1);
        EXPECT_STREQ(api_env_json(), "{}");
    }
}

TEST_F(EnvStore, JsonBeyond64KiBIsReturnedWhole) {
    std::string expected = "{";
    for (int i = 0; i < 20; ++i) {
        std::string key = "v" + std::to_string(i);
        std::string value(5000, static_cast<char>('a' + i));
        ASSERT_EQ(api_env_set(key.c_str(), value.c_str()), 1);
        expected += (i ? "," : "") + json_str(key) + ":" + json_str(value);
    }
    expected += "}";
    ASSERT_GT(expected.size(), 65535u);
    EXPECT_EQ(std::string(api_env_json()), expected);

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

TEST_F(EnvLoad, MemberValuesBecomeTexts) {
    const struct {
        const char *name;
        std::string json;
        std::string text;
    } cases[] = {
        {"int", "42", "42"},
        {"neg", "-7", "-7"},
        {"zero", "0", "0"},
        {"real", "2.5", "2.5"},
        {"pi", "3.14159265", "3.14159"},
        {"exp", "1e20", "1e+20"},
        {"yes", "true", "true"},
        {"no", "false", "false"},
        {"nil", "null", "null"},
        {"arr", "[ 1, 2 ]", "[1,2]"},
        {"obj", R"({ "k" : "v", "k" : 1 })", R"({"k":"v","k":1})"},
        {"str", R"("x")", "x"},
        {"esc", R"("a\"\u00e9\n")", "a\"\xc3\xa9\n"},
        {"i64max", "9223372036854775807", "9223372036854775807"},
        {"i64min", "-9223372036854775808", "-9223372036854775808"},
        {"above_i64", "9223372036854775808", "9223372036854775808"},
        {"u64max", "18446744073709551615", "18446744073709551615"},
        {"long_str", json_str(std::string(600, 's')), std::string(600, 's')},
    };
    std::string file = "{";
    for (const auto &c : cases) file += std::string(file.size() > 1 ? "," : "") + json_str(c.name) + ":" + c.json;
    file += "}";
    ASSERT_EQ(load(file), 1) << api_last_error();
    std::string json = api_env_json();
    std::size_t at = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::string(api_env_get(c.name)), c.text);
        std::size_t found = json.find(json_str(c.name) + ":", at);
        ASSERT_NE(found, std::string::npos) << "members out of file order";
        at = found + 1;
    }
    EXPECT_STREQ(api_last_error(), "");
}

TEST_F(EnvLoad, CompactArrayTextIsCutAt511Bytes) {
    // ["aaa...a"] is n + 4 bytes long.
    for (std::size_t n : {506u, 507u, 508u, 700u}) {
        SCOPED_TRACE(n);
        std::string text = "[" + json_str(std::string(n, 'a')) + "]";
        ASSERT_EQ(load(R"({"arr":)" + text + "}"), 1);
        EXPECT_EQ(std::string(api_env_get("arr")), text.substr(0, 511));
    }
}

TEST_F(EnvLoad, MergesIntoTheStore) {
    ASSERT_EQ(api_env_set("b", "old"), 1);
    ASSERT_EQ(api_env_set("x", "keep"), 1);
    ASSERT_EQ(load(R"({"a":"1","b":"new","c":"3","a":"2"})"), 1);
    EXPECT_STREQ(api_env_json(), R"({"b":"new","x":"keep","a":"2","c":"3"})");
}

TEST_F(EnvLoad, EmptyNameIsSkippedAndTheRestLoads) {
    ASSERT_EQ(load(R"({"a":"1","":"skipped","b":"2"})"), 1);
    EXPECT_STREQ(api_env_json(), R"({"a":"1","b":"2"})");
    EXPECT_STREQ(api_last_error(), "api_env_set: empty or null key");
}

TEST_F(EnvLoad, FullTableTakesUpdatesButNoNewNames) {
    for (int i = 0; i < 999; ++i) ASSERT_EQ(api_env_set(("k" + std::to_string(i)).c_str(), "v"), 1);
    ASSERT_EQ(load(R"({"new1":"n1","k0":"upd","new2":"n2","k998":"upd2"})"), 1);
    EXPECT_STREQ(api_env_get("new1"), "n1");
    EXPECT_STREQ(api_env_get("new2"), "");
    EXPECT_STREQ(api_env_get("k0"), "upd");
    EXPECT_STREQ(api_env_get("k998"), "upd2");
    EXPECT_STREQ(api_last_error(), max_message);
}

TEST_F(EnvLoad, RejectedFilesChangeNothing) {
    const std::string parse_prefix = "api_env_load: JSON parse error in '" + path + "': ";
    const std::string root_message = "api_env_load: root element must be a JSON object";
    const struct {
        const char *what;
        std::string text;
        std::string message;  // exact, or a prefix when it ends with ": "
    } cases[] = {
        {"empty file", "", parse_prefix + "input length is 0"},
        {"byte order mark", "\xef\xbb\xbf{\"a\":\"1\"}", parse_prefix},
        {"trailing comma", R"({"a":"1",})", parse_prefix},
        {"comment", "{\"a\":\"1\"} // c", parse_prefix},
        {"NaN", R"({"a":NaN})", parse_prefix},
        {"invalid UTF-8", "{\"a\":\"\xff\"}", parse_prefix},
        {"truncated", R"({"a":"1")", parse_prefix},
        {"root array", R"([{"a":"1"}])", root_message},
        {"root string", R"("a")", root_message},
        {"root number", "1", root_message},
        {"root null", "null", root_message},
    };
    ASSERT_EQ(api_env_set("a", "before"), 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ac_clear_error();
        EXPECT_EQ(load(c.text), 0);
        std::string message = api_last_error();
        if (c.message.ends_with(": ")) {
            EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
            EXPECT_GT(message.size(), c.message.size());
        } else {
            EXPECT_EQ(message, c.message);
        }
        EXPECT_STREQ(api_env_json(), R"({"a":"before"})");
    }
}

TEST_F(EnvLoad, UnreadablePathsFailWithTheirMessage) {
    const std::string missing = dir.file("missing.json");
    const struct {
        const char *path;
        std::string message;
    } cases[] = {
        {nullptr, "api_env_load: null or empty path"},
        {"", "api_env_load: null or empty path"},
        {missing.c_str(), "api_env_load: could not open or read '" + missing + "'"},
        {dir.path().c_str(), "api_env_load: could not open or read '" + dir.path() + "'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        ac_clear_error();
        EXPECT_EQ(api_env_load(c.path), 0);
        EXPECT_EQ(std::string(api_last_error()), c.message);
    }
}
