#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "config/config.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "support/scaling.h"
#include "util/util.h"

namespace {

std::string substitute(const char *text) {
    unique_cstr out(ac_env_substitute(text));
    return out ? std::string(out.get()) : "<null>";
}

class Substitute : public ::testing::Test {
protected:
    void SetUp() override {
        ac_env_cleanup();
        const std::pair<std::string, std::string> vars[] = {
            {"host", "localhost"}, {"a", "v"}, {"b", "B"}, {"empty", ""}, {"refers", "{{b}}"},
            {"x", std::string(1000, 'x')}, {"huge", std::string(10000, 'y')}, {std::string(255, 'n'), "N255"},
            {std::string(256, 'm'), "M256"}, {"in ner", "inner"}, {"\xc3\xa9t\xc3\xa9", "summer"},
        };
        for (const auto &[k, v] : vars) ASSERT_EQ(api_env_set(k.c_str(), v.c_str()), 1);
    }
    void TearDown() override {
        ac_env_cleanup();
        ac_options_reset();
    }
};

}  // namespace

TEST_F(Substitute, ExpandsPlaceholders) {
    const std::string n255 = "{{" + std::string(255, 'n') + "}}", m256 = "{{" + std::string(256, 'm') + "}}",
                      padded256 = "{{ " + std::string(255, 'n') + "}}";
    const struct {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"plain text { } }} {a}", "plain text { } }} {a}"},
        {"http://{{host}}:8080/{{a}}?q={{b}}", "http://localhost:8080/v?q=B"},
        {"{{ host }}", "localhost"},
        {"{{\thost}}", "{{\thost}}"},
        {"{{host\n}}", "{{host\n}}"},
        {"{{in ner}}", "inner"},
        {"{{\xc3\xa9t\xc3\xa9}}", "summer"},
        {"{{missing}}", "{{missing}}"},
        {"{{}}", "{{}}"},
        {"{{   }}", "{{   }}"},
        {"{{host", "{{host"},
        {"{{host}", "{{host}"},
        {"x{{empty}}y", "x{{empty}}y"},
        {n255, "N255"},
        {m256, m256},
        {padded256, padded256},
        {"{{refers}}", "{{b}}"},
        {"{{{{a}}", "{{v"},
        {"{{a}}}", "v}"},
        {"{{a {{b}}", "{{a B"},
        {"}}{{a}}{{", "}}v{{"},
        {"<{{x}}{{x}}>", "<" + std::string(2000, 'x') + ">"},
        {"{{huge}}", std::string(8191, 'y')},
    };
    for (const auto &c : cases) EXPECT_EQ(substitute(c.in.c_str()), c.out) << c.in.substr(0, 40);
    EXPECT_EQ(substitute(nullptr), "");
    std::string many;  // 300 placeholders of 5 bytes grow to 300,000 bytes
    for (int i = 0; i < 300; ++i) many += "{{x}}";
    EXPECT_EQ(substitute(many.c_str()), std::string(300000, 'x'));
}

// Every "{{" looks for its "}}"; only a name of at most 255 bytes can match,
// so a text full of braces must not be searched to its end from each one.
TEST_F(Substitute, TextOfOpenBracesExpandsInLinearTime) {
    double growth = growth_for_8n(
        [](std::size_t n) {
            std::string text(n, '{');
            EXPECT_EQ(substitute(text.c_str()), text);
        },
        32768);
    EXPECT_LT(growth, linear_growth_bound);
}

// With nested_variables a value's own placeholders expand too, up to 19
// passes in all, as the format's runner does; no expansion may pass 64 MiB.
TEST_F(Substitute, NestedPassesAndTheSizeLimit) {
    for (int i = 0; i < 21; ++i) {
        std::string next = i == 20 ? "end" : "{{c" + std::to_string(i + 1) + "}}";
        ASSERT_EQ(api_env_set(("c" + std::to_string(i)).c_str(), next.c_str()), 1);
    }
    ASSERT_EQ(api_configure(R"({"nested_variables":true})"), 1);
    EXPECT_EQ(substitute("{{refers}}"), "B");
    EXPECT_EQ(substitute("<{{c2}}>"), "<end>");      // 19 passes
    EXPECT_EQ(substitute("<{{c1}}>"), "<{{c20}}>");  // a 20th would be needed
    EXPECT_EQ(substitute("{{missing}} {{a}}"), "{{missing}} v");

    std::string bomb;  // 8,200 placeholders of 8,191 bytes each
    while (bomb.size() < 8200 * 8) bomb += "{{huge}}";
    ExpandError error = ExpandError::none;
    unique_cstr out(ac_env_substitute(bomb.c_str(), &error));
    EXPECT_FALSE(out);
    EXPECT_EQ(error, ExpandError::too_large);
    ASSERT_EQ(api_env_set("self", "{{self}}{{self}}"), 1);
    out.reset(ac_env_substitute("{{self}}", &error));  // doubles on each pass
    EXPECT_EQ(std::strlen(out.get()), std::size_t{8} << 19);
}

// Values in a URL are encoded for the part they land in; the fragment goes.
TEST_F(Substitute, UrlValuesAreEncodedByTheirPart) {
    ASSERT_EQ(api_env_set("v", "a b\"'<>`{}\\\xc3\xa9&#f"), 1);
    ASSERT_EQ(api_env_set("base", "http://{{host}}:1"), 1);
    const struct {
        const char *in, *out;
    } cases[] = {
        {"http://h/{{v}}", "http://h/a%20b%22'%3C%3E%60%7B%7D/%C3%A9&"},
        {"http://h/p?q={{v}}", "http://h/p?q=a%20b%22%27%3C%3E`{}\\%C3%A9&"},
        // One that does not resolve goes out encoded for its part, as a value.
        {"{{base}}/x{{missing}}?q={{ missing }}", "http://%7B%7Bhost%7D%7D:1/x%7B%7Bmissing%7D%7D?q={{%20missing%20}}"},
        {"http://h/{{empty}}?q={{empty}}", "http://h/%7B%7Bempty%7D%7D?q={{empty}}"},
    };
    ASSERT_EQ(api_env_set("empty", ""), 1);
    for (const auto &c : cases) {
        unique_cstr out(ac_env_substitute_url(c.in));
        EXPECT_STREQ(out.get(), c.out) << c.in;
    }
    // With nested values on: a variable set to "" is nothing, one never set
    // stays, and one removed is never set again.
    ASSERT_EQ(api_configure(R"({"nested_variables":true})"), 1);
    const char *const nested_cases[][2] = {
        {"{{base}}/x", "http://localhost:1/x"},
        {"http://h/a{{empty}}b?q={{empty}}&m={{missing}}", "http://h/ab?q=&m={{missing}}"},
    };
    for (const auto &c : nested_cases) {
        unique_cstr out(ac_env_substitute_url(c[0]));
        EXPECT_STREQ(out.get(), c[1]) << c[0];
    }
    unique_cstr plain(ac_env_substitute("<{{empty}}>"));
    EXPECT_STREQ(plain.get(), "<>");
    ASSERT_EQ(api_env_unset("empty"), 1);
    EXPECT_EQ(api_env_unset("empty"), 1);
    EXPECT_EQ(api_env_unset(""), 0);
    EXPECT_STREQ(api_last_error(), "api_env_unset: empty or null key");
    unique_cstr unset(ac_env_substitute("<{{empty}}>"));
    EXPECT_STREQ(unset.get(), "<{{empty}}>");
    EXPECT_EQ(std::string(api_env_json()).find("\"empty\""), std::string::npos) << api_env_json();
    EXPECT_STREQ(api_env_get("host"), "localhost");
}
