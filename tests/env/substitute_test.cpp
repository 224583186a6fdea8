#include <string>

#include <gtest/gtest.h>

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
    void TearDown() override { ac_env_cleanup(); }
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
