// The differential harness: each collection is run by newman and, after the
// full import, by api_request, against the same local recording server; every
// request must go out alike. Then the full export is run by newman again and
// must send the same requests as the original file.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "postman/interop_tools.h"
#include "quorvane_apiclient.h"
#include "support/http_server.h"
#include "support/json.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

const std::string interop_dir = std::string(QV_SOURCE_DIR) + "/tests/interop";

// A request as both runners must send it: header names lower-cased and sorted
// (stably, so repeated names keep their order), and what differs between the
// runners by design replaced by a mark.
struct Wire {
    std::string method, target, body;
    std::vector<std::pair<std::string, std::string>> headers;

    std::string text() const {
        std::string out = method + " " + target + "\n";
        for (const auto &[name, value] : headers) out += "  " + name + ": " + value + "\n";
        return out + "  [" + body + "]\n";
    }
};

// Headers only one runner adds, or whose values only one runner chooses.
bool runner_specific(const std::string &name) {
    return name == "user-agent" || name == "postman-token" || name == "connection" || name == "accept-encoding" ||
           name == "cache-control";
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Digest parameters in a fixed order without the client's nonce and answer;
// the type of an NTLM message; an AWS signature without its time and digest.
std::string normal_authorization(const std::string &value) {
    if (value.rfind("Digest ", 0) == 0) {
        std::vector<std::string> params;
        static const std::regex param(R"(([a-z]+)=("[^"]*"|[^, ]*))");
        for (std::sregex_iterator it(value.begin(), value.end(), param), end; it != end; ++it) {
            std::string key = (*it)[1];
            std::string v = (*it)[2].str();
            // A missing algorithm is MD5; one runner names it, the other not.
            if (key == "algorithm" && (v == "MD5" || v == "\"MD5\"")) continue;
            if (key != "cnonce" && key != "response" && key != "nc") params.push_back(key + "=" + v);
        }
        std::sort(params.begin(), params.end());
        std::string out = "Digest";
        for (const std::string &p : params) out += " " + p;
        return out;
    }
    if (value.rfind("NTLM ", 0) == 0) return value.size() > 20 ? "NTLM " + value.substr(5, 14) : value;
    static const std::regex aws(R"(/[0-9]{8}/|Signature=[0-9a-f]{64})");
    return std::regex_replace(value, aws, "/*/");
}

Wire normal(const HttpRequest &r) {
    Wire w{r.method, r.target, r.body, {}};
    std::string boundary;
    for (const auto &[name, value] : r.headers) {
        std::string key = lower(name);
        if (runner_specific(key)) continue;
        std::string v = value;
        if (key == "content-type" && v.rfind("multipart/form-data; boundary=", 0) == 0) {
            boundary = v.substr(30);
            v = "multipart/form-data; boundary=B";
        }
        if (key == "authorization") v = normal_authorization(v);
        if (key == "x-amz-date") v = "*";
        w.headers.emplace_back(key, v);
    }
    std::stable_sort(w.headers.begin(), w.headers.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    if (boundary.empty()) return w;
    for (std::size_t at; (at = w.body.find(boundary)) != std::string::npos;) w.body.replace(at, boundary.size(), "B");
    // The boundaries differ in length too.
    for (auto &[name, value] : w.headers) {
        if (name == "content-length") value = std::to_string(w.body.size());
    }
    return w;
}

// Answers like the servers the collections' auth types talk to: a digest or
// NTLM challenge first, then success.
void add_challenges(HttpServer &server) {
    server.route("/digest", [](const HttpRequest &r) {
        if (!r.header("Authorization").empty()) return HttpReply(http_response(200, "{}"));
        return HttpReply(http_response(401, "", "WWW-Authenticate: Digest realm=\"r\", nonce=\"abc\", qop=\"auth\"\r\n"));
    });
    server.route("/ntlm", [](const HttpRequest &r) {
        if (!r.header("Authorization").empty()) return HttpReply(http_response(200, "{}"));
        return HttpReply(http_response(401, "", "WWW-Authenticate: NTLM\r\n"));
    });
}

class PostmanDifferential : public LibraryTest {
protected:
    void SetUp() override {
        SKIP_OR_FAIL_WITHOUT_INTEROP_TOOLS();
        LibraryTest::SetUp();
        add_challenges(server_);
        write_text(dir_.file("part.txt"), "part\ncontent\n");
        write_text(dir_.file("blob.bin"), std::string("\x89PNG\r\n\x1a\n\0\x01\xff", 11));
    }

    // The collection file with @DIR@ pointing at this test's files.
    std::string prepare(const std::string &source) {
        std::string text = read_text(interop_dir + "/" + source);
        for (std::size_t at; (at = text.find("@DIR@")) != std::string::npos;) text.replace(at, 5, dir_.path());
        std::string path = dir_.file(source);
        write_text(path, text);
        return path;
    }

    std::vector<Wire> received() {
        std::vector<Wire> out;
        for (const HttpRequest &r : server_.requests()) out.push_back(normal(r));
        server_.clear_requests();
        return out;
    }

    std::string env_json() const {
        return R"({"host":"127.0.0.1","port":")" + std::to_string(server_.port()) + R"("})";
    }

    std::vector<Wire> run_newman(const std::string &path) {
        std::string out = run_interop_script("newman_run.js", shell_quote(path) + " " + shell_quote(env_json()));
        JsonDoc doc = parse_json(out);
        EXPECT_TRUE(doc) << out;
        if (doc) {
            EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "failures")), 0u) << out;
        }
        return received();
    }

    // The full import, then every item sent as it is: an item's JSON is a
    // RequestConfig (its folder and name are not read).
    std::vector<Wire> run_library(const std::string &path) {
        api_cleanup();
        EXPECT_EQ(api_init(nullptr), 1);
        EXPECT_EQ(api_env_set("host", "127.0.0.1"), 1);
        EXPECT_EQ(api_env_set("port", std::to_string(server_.port()).c_str()), 1);
        EXPECT_EQ(api_configure(R"({"expand_auth":true,"dynamic_variables":true,"nested_variables":true})"), 1);
        EXPECT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
        for (int i = 0; i < api_collection_count(); ++i) {
            std::string item = api_collection_get_json(i);
            EXPECT_EQ(api_request(item.c_str()), 1) << item << "\n" << api_last_error();
        }
        return received();
    }

    void expect_same(const std::vector<Wire> &want, const std::vector<Wire> &got, const char *what) {
        std::string a, b;
        for (const Wire &w : want) a += w.text();
        for (const Wire &w : got) b += w.text();
        EXPECT_EQ(a, b) << what;
    }

    void differential(const std::string &path) {
        std::vector<Wire> by_newman = run_newman(path);
        ASSERT_FALSE(by_newman.empty());
        expect_same(by_newman, run_library(path), "newman (left) and the library (right)");

        std::vector<std::string> items;
        for (int i = 0; i < api_collection_count(); ++i) items.emplace_back(api_collection_get_json(i));
        std::string exported = dir_.file("exported.json");
        ASSERT_EQ(api_export_postman_full(exported.c_str()), 1) << api_last_error();
        expect_same(by_newman, run_newman(exported), "newman on the original (left) and on the export (right)");
        ASSERT_EQ(api_import_postman_full(exported.c_str()), 1) << api_last_error();
        for (int i = 0; i < api_collection_count() && i < static_cast<int>(items.size()); ++i)
            EXPECT_EQ(json_without(api_collection_get_json(i), "postman"),
                      json_without(items[static_cast<std::size_t>(i)], "postman"));
        EXPECT_EQ(api_collection_count(), static_cast<int>(items.size()));

        // A host's user: full import, collection file, a fresh session, full
        // export. The export must say everything the original said.
        std::string saved = dir_.file("saved.json"), again = dir_.file("again.json");
        ASSERT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
        ASSERT_EQ(api_collection_save(saved.c_str()), 1) << api_last_error();
        api_cleanup();
        ASSERT_EQ(api_init(nullptr), 1);
        ASSERT_EQ(api_collection_load(saved.c_str()), 1) << api_last_error();
        ASSERT_EQ(api_export_postman_full(again.c_str()), 1) << api_last_error();
        JsonDoc facts = parse_json(run_interop_script("roundtrip_facts.js", shell_quote(path) + " " + shell_quote(again)));
        yyjson_val *root = yyjson_doc_get_root(facts.get());
        EXPECT_EQ(json_text(yyjson_obj_get(root, "missing")), "[]");
        EXPECT_TRUE(yyjson_is_true(yyjson_obj_get(root, "sdkSame"))) << read_text(again);
        expect_same(by_newman, run_newman(again), "newman on the original (left) and on the round trip (right)");
    }

    TempDir dir_;
    HttpServer server_;
};

TEST_F(PostmanDifferential, HandWrittenVersion21) { differential(prepare("differential.json")); }

TEST_F(PostmanDifferential, HandWrittenVersion20) { differential(prepare("differential_v20.json")); }

TEST_F(PostmanDifferential, EveryMemberAtEveryLevel) { differential(prepare("roundtrip.json")); }

// Variables set to "", given by id, or given twice; raw bodies typed JSON by
// their header; AWS signatures of a body.
TEST_F(PostmanDifferential, NewmansRulesForVariablesBodiesAndSignatures) { differential(prepare("differential_rules.json")); }

TEST_F(PostmanDifferential, BuiltWithTheSdk) {
    std::string path = dir_.file("sdk.json");
    run_interop_script("sdk_differential.js", shell_quote(path) + " " + shell_quote(dir_.path()));
    differential(path);
}

}  // namespace
