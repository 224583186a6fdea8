// Fails the library's allocations one by one (and, in a second pass, every
// allocation from the n-th on) during one call of each exported function, and
// checks each time: a failure reports its message and changes nothing, a
// success has all its data, no file is lost. The sanitizer build checks that
// nothing leaks.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apiclient/apiclient.h"
#include "apiclient/response.h"
#include "config/config.h"
#include "quorvane_apiclient.h"
#include "support/http_server.h"
#include "support/json.h"
#include "support/temp_dir.h"
#include "hooks/alloc_hooks.h"

namespace {

using namespace std::string_literals;

struct Scenario {
    std::string name;
    std::function<void()> setup;              // the state before the call; nothing fails here
    std::function<int()> call;                // 1 success, 0 failure
    std::function<std::string()> state;       // what a failure must leave as it was
    std::function<std::string()> result = [] { return ""s; };  // what a success must complete
    std::vector<std::string> messages = {};   // what a failure may say (none: it writes no message)
};

std::string starts(const std::string &text, const std::vector<std::string> &prefixes) {
    for (const std::string &p : prefixes) {
        if (text.rfind(p, 0) == 0) return "";
    }
    return "unexpected message '" + text + "'";
}

void run(const Scenario &s) {
    SCOPED_TRACE(s.name);
    s.setup();
    const std::string before = s.state();
    ASSERT_EQ(s.call(), 1) << api_last_error();
    const std::string after = s.state(), result = s.result();
    for (long n = 0;; ++n) {
        bool failed_one = false;
        for (bool every_after : {false, true}) {
            s.setup();
            ac_clear_error();
            ac_alloc_fail(n, every_after);
            int rc = s.call();
            bool hit = ac_alloc_failed();
            ac_alloc_fail(-1, false);
            if (!every_after) failed_one = hit;
            std::string where = "allocation " + std::to_string(n) + (every_after ? " and after" : "");
            if (rc == 1) {
                EXPECT_EQ(s.state(), after) << where;
                EXPECT_EQ(s.result(), result) << where;
                continue;
            }
            ASSERT_EQ(rc, 0) << where;
            EXPECT_TRUE(hit) << where << ": failed without a failed allocation: " << api_last_error();
            EXPECT_EQ(s.state(), before) << where;
            if (s.messages.empty()) {
                EXPECT_STREQ(api_last_error(), "") << where;
            } else {
                EXPECT_EQ(starts(api_last_error(), s.messages), "") << where;
            }
        }
        if (!failed_one) break;
    }
}

const char *const item_a = R"({"name":"a","method":"POST","url":"http://h/{{p}}","body":"[1]","body_type":"json",)"
                           R"("headers":{"X-A":"1","X-A":"2"},"auth":{"type":"bearer","token":"t"},"verbatim":true})";
const char *const item_b = R"({"name":"b\u00e9","url":"http://h/b","headers":{"H":{"deep":[1,2]}},"auth":{"type":"apikey","in":"query"}})";

const char *const postman_file = R"({"info":{"name":"p"},"variable":[{"key":"v","value":"1"},{"key":"w","value":2}],
 "auth":{"type":"basic","basic":[{"key":"username","value":"u"},{"key":"password","value":"p"}]},
 "item":[{"name":"F","item":[{"name":"r1","request":{"method":"POST","url":{"raw":"http://h/x?q=1","protocol":"http",
   "host":["h"],"path":["x"],"query":[{"key":"q","value":"1"}]},"header":[{"key":"A","value":"1"},{"key":"a","value":"2"}],
   "body":{"mode":"urlencoded","urlencoded":[{"key":"k","value":"v w"}]}},"event":[{"listen":"test","script":{"exec":["x"]}}]}]},
  {"name":"r2","request":{"url":"http://h/{{v}}","body":{"mode":"raw","raw":"{\"a\":1} // c","options":{"raw":{"language":"json"}}}}},
  {"name":"r3","request":{"method":"PUT","url":"h/y","auth":{"type":"hawk","hawk":[{"key":"id","value":"i"}]},
   "body":{"mode":"formdata","formdata":[{"key":"f","value":"x","type":"text"}]}}}]})";

std::string collection_text() {
    std::string out;
    for (int i = 0; i < api_collection_count(); ++i) out += std::string(api_collection_get_json(i)) + "\n";
    return out;
}

class OutOfMemory : public ::testing::Test {
protected:
    void TearDown() override {
        ac_alloc_fail(-1, false);
        api_cleanup();
    }

    // A library with a history of two, an environment, two saved items and a
    // JSON body to query, as every scenario finds it.
    void fresh() {
        api_cleanup();
        write_text(file("history.json"), history_text);
        ASSERT_EQ(api_init(dir_.path().c_str()), 1);
        ASSERT_EQ(api_env_set("p", "x"), 1);
        ASSERT_EQ(api_env_set("w", "env"), 1);
        ASSERT_EQ(api_collection_add("f/g", item_a), 1);
        ASSERT_EQ(api_collection_add("", item_b), 1);
        ASSERT_TRUE(g_response_body.append(R"({"data":[{"id":7,"tags":["a","b"]}]})"));
    }

    std::string file(const char *name) const { return dir_.file(name); }

    TempDir dir_;
    const std::string history_text = R"([{"method":"GET","url":"http://one","status":200,"ts":5},)"
                                     R"({"method":"PUT","url":"http://two","status":201,"ts":4}])";
};

TEST_F(OutOfMemory, EveryCallFailsCleanlyOrSucceedsWhole) {
    const std::string history = history_text;
    write_text(file("env.json"), R"({"s":"v","n":1.5,"o":{"a":[1,2]},"b":true,"p":"new"})");
    write_text(file("postman.json"), postman_file);
    write_text(file("small.json"), R"({"info":{"name":"s"},"variable":[{"key":"sv","value":"1"}],"item":[{"name":"x","request":"http://h/s"}]})");
    write_text(file("coll.json"), R"({"version":"1.0.0","requests":[)"s + item_a + "," + item_b + "]}");

    auto env = [] { return std::string(api_env_json()); };
    auto coll = [] { return collection_text(); };
    auto saved = [this] { return read_text(file("saved.json")); };
    auto nothing = [] { return ""s; };
    auto oom = [](const char *fn) { return std::vector<std::string>{fn + ": out of memory"s}; };
    auto text_call = [](std::function<const char *()> f, const char *empty) {
        return [f, empty] {
            std::string got = f();
            return got == empty ? 0 : 1;
        };
    };

    const Scenario scenarios[] = {
        {"api_init",
         [this, history] {
             api_cleanup();
             write_text(file("history.json"), history);
         },
         [this] { return api_init(dir_.path().c_str()); },
         // A failed load must never let the next recording rewrite the file.
         [this] {
             std::string count = std::to_string(api_history_count());
             ac_alloc_fail(-1, false);
             api_history_add(R"({"url":"http://three","ts":9})");
             return count + read_text(file("history.json"));
         },
         nothing, {"api_init: out of memory", "api_init: curl_global_init failed"}},
        {"api_env_set", [this] { fresh(); }, [] { return api_env_set("new", "value"); }, env, nothing, oom("api_env_set")},
        {"api_env_set again", [this] { fresh(); }, [] { return api_env_set("p", "other"); }, env, nothing,
         oom("api_env_set")},
        {"api_env_json", [this] { fresh(); }, text_call(api_env_json, "{}"), nothing},
        {"api_env_load", [this] { fresh(); }, [this] { return api_env_load(file("env.json").c_str()); }, env, nothing,
         oom("api_env_load")},
        {"api_history_add", [this] { fresh(); }, [] { return api_history_add(R"({"method":"DELETE","url":"http://n","ts":9})"); },
         [] { return std::string(api_history_list_json(0)); },
         // A file that could not be rewritten keeps its earlier text whole.
         [this] {
             JsonDoc doc = parse_json(read_text(file("history.json")));
             return std::to_string(yyjson_arr_size(yyjson_doc_get_root(doc.get())) >= 2);
         },
         oom("api_history_add")},
        {"api_history_list_json", [this] { fresh(); }, text_call([] { return api_history_list_json(0); }, "[]"), nothing},
        {"api_collection_add", [this] { fresh(); }, [] { return api_collection_add("x", item_b); }, coll, nothing,
         oom("api_collection_add")},
        {"api_collection_get_json", [this] { fresh(); }, text_call([] { return api_collection_get_json(0); }, "{}"), nothing},
        {"api_collection_save",
         [this] {
             fresh();
             write_text(file("saved.json"), "old file");
         },
         [this] { return api_collection_save(file("saved.json").c_str()); },
         saved, nothing, oom("api_collection_save")},
        {"api_collection_load", [this] { fresh(); }, [this] { return api_collection_load(file("coll.json").c_str()); },
         coll, nothing, oom("api_collection_load")},
        {"api_import_postman", [this] { fresh(); }, [this] { return api_import_postman(file("postman.json").c_str()); },
         coll, nothing, oom("api_import_postman")},
        {"api_export_postman",
         [this] {
             fresh();
             write_text(file("saved.json"), "old file");
         },
         [this] { return api_export_postman(file("saved.json").c_str()); },
         saved, nothing, oom("api_export_postman")},
        {"api_import_postman_full",
         [this] {
             // A report and a collection document to keep when the import fails.
             fresh();
             ASSERT_EQ(api_import_postman_full(file("small.json").c_str()), 1) << api_last_error();
         },
         [this] { return api_import_postman_full(file("postman.json").c_str()); },
         // All or nothing: the collection, its document, the whole
         // environment and the last report stay as they were.
         [this] {
             std::string state = collection_text() + api_postman_report_json() + api_env_json();
             ac_alloc_fail(-1, false);
             api_collection_save(file("doc.json").c_str());
             return state + read_text(file("doc.json"));
         },
         [] { return std::string(api_env_json()); }, oom("api_import_postman_full")},
        {"api_export_postman_full",
         [this] {
             fresh();
             write_text(file("saved.json"), "old file");
         },
         [this] { return api_export_postman_full(file("saved.json").c_str()); },
         [this] { return read_text(file("saved.json")) + api_postman_report_json(); }, nothing,
         oom("api_export_postman_full")},
        {"api_json_query", [this] { fresh(); },
         [] { return std::string(api_json_query("$.data[0].tags")) == "[\"a\",\"b\"]" ? 1 : 0; }, nothing, nothing,
         oom("api_json_query")},
        {"api_configure", [this] { fresh(); }, [] { return api_configure(R"({"expand_auth":true,"nested_variables":true})"); },
         [] { return std::to_string(ac_options().expand_auth) + std::to_string(ac_options().nested_variables); }, nothing,
         oom("api_configure")},
    };
    for (const Scenario &s : scenarios) run(s);
}

// api_request against the local server: whatever fails, nothing goes out
// with a placeholder left in it, and a success has the whole response.
TEST_F(OutOfMemory, RequestsNeverGoOutHalfExpanded) {
    HttpServer server;
    server.set_default(HttpReply(http_response(200, R"({"ok":1})", "X-One: 1\r\nX-Two: 2\r\n")));
    const std::string config = R"({"url":")" + server.url("/{{p}}") +
                               R"(","method":"POST","body":"b={{p}}","headers":{"X-A":"{{p}}"},)"
                               R"("auth":{"type":"apikey","in":"query","name":"k","value":"v"}})";
    auto wrong = [&server] {
        std::string out;
        for (const HttpRequest &r : server.requests()) {
            if (r.target != "/x?k=v" || r.body != "b=x" || r.header("X-A") != "x") out += r.raw;
        }
        server.clear_requests();
        return out;
    };
    run({"api_request",
         [this, &server] {
             fresh();
             server.clear_requests();
         },
         [&config] { return api_request(config.c_str()); }, wrong,
         [] {
             JsonDoc info = parse_json(api_response_info_json());
             yyjson_val *root = yyjson_doc_get_root(info.get());
             return std::to_string(api_response_status()) + api_response_headers_json() + api_response_body() +
                    std::to_string(api_response_body_len()) + json_str(root, "effective_url") +
                    std::to_string(yyjson_obj_size(root));
         },
         {"api_request: out of memory", "api_request: curl error", "api_request: curl_easy_init failed"}});
}

// The functions that only read what the library holds never allocate, so they
// cannot fail; api_cleanup works with every allocation failing.
TEST_F(OutOfMemory, ReadersNeverAllocate) {
    fresh();
    ASSERT_EQ(api_history_add(R"({"url":"u","ts":1})"), 1);
    long count = ac_alloc_count();
    ac_alloc_fail(0, true);
    const std::string seen = std::string(api_last_error()) + api_response_body() + api_response_headers_json() +
                             std::to_string(api_response_status()) + api_response_time_json() + api_env_get("p") +
                             std::to_string(api_history_count()) + std::to_string(api_collection_count()) +
                             api_postman_report_json() + std::to_string(api_response_body_len()) +
                             api_response_info_json() + std::to_string(api_request_progress(nullptr, nullptr, nullptr, nullptr));
    api_request_cancel();
    EXPECT_EQ(ac_alloc_count(), count);
    EXPECT_EQ(seen, R"({"data":[{"id":7,"tags":["a","b"]}]}{}0{}x32{}36{}0)");
    api_cleanup();
    ac_alloc_fail(-1, false);
}

// api_cleanup releases every block the library allocated, libcurl's too.
TEST_F(OutOfMemory, CleanupReleasesEverything) {
    const std::string env = file("env.json"), saved = file("c.json");
    write_text(env, R"({"a":"1","b":[1,2]})");
    long live = ac_alloc_live();
    fresh();
    api_env_load(env.c_str());
    api_env_json();
    api_request(R"({"url":"http://127.0.0.1:1/{{a}}","headers":{"X":"{{p}}"}})");
    api_history_add(R"({"method":"GET","url":"u"})");
    api_history_list_json(0);
    api_collection_get_json(0);
    api_collection_save(saved.c_str());
    api_collection_load(saved.c_str());
    api_export_postman_full(file("p.json").c_str());
    api_import_postman_full(file("p.json").c_str());
    api_json_query("$.x");
    api_configure(R"({"expand_auth":true})");
    api_cleanup();
    EXPECT_EQ(ac_alloc_live(), live);
}

}  // namespace
