// The full import: one compact collection covering every mapping, the items
// it gives, the report, and the round trip through the full export.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support/json.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"

namespace {

// Request items of a v2.1 collection, compact; `B` is the usual base URL.
const char *const collection = R"json({"info":{"name":"c","description":"about"},
"variable":[{"key":"host","value":"127.0.0.1"},{"key":"envwins","value":"coll"},{"key":"off","value":"x","disabled":true},{"key":"n","value":5}],
"auth":{"type":"bearer","bearer":[{"key":"token","value":"COLL"}]},
"item":[
 {"name":"parts","request":{"method":"get","url":{"raw":"ignored","protocol":"http","host":["{{host}}"],"port":"{{port}}",
   "path":["u",":id",":nov",":dis"],"query":[{"key":"a b","value":"x&y#z"},{"key":"d","value":"1","disabled":true},{"key":"nv","value":null},{"key":"v","value":"{{q r}}"}],
   "variable":[{"key":"id","value":"4 2"},{"key":"nov"},{"key":"dis","value":"D","disabled":true}]},"auth":{"type":"noauth"}},
   "event":[{"listen":"test","script":{"exec":["pm.test()"]}}],"response":[{}]},
 {"name":"string url","request":{"url":"127.0.0.1/p a\\th/{x}/caf\u00e9?q=\"'{}`&e=\u00e9#frag","auth":{"type":"noauth"}}},
 {"name":"raw only","request":{"url":{"raw":"{{base}}/r?x=1"},"auth":{"type":"noauth"}}},
 {"name":"as string","request":"h.test/s"},
 {"name":"headers","request":{"auth":{"type":"noauth"},"url":"http://h/","header":[{"key":"X-Dup","value":"1"},{"key":"X-Mid","value":"m"},{"key":"x-DUP","value":"2"},
   {"key":"X-Off","value":"o","disabled":true},{"key":"","value":"e"},{"key":"X-None"},{"key":"X-Num","value":3}]}},
 {"name":"v2.0 headers","request":{"auth":{"type":"noauth"},"url":"http://h/","header":"X-A: 1\n X-B :  two \r\n// X-C: off\nbad line\n"}},
 {"name":"repeated","request":{"auth":{"type":"noauth"},"url":"http://h/","header":[{"key":"X-Dup","value":"1"},{"key":"X-Mid","value":"m"},{"key":"X-Dup","value":"2"},
   {"key":"x-a","value":"1"},{"key":"X-A","value":"2"},{"key":"X-A","value":"3"},{"key":"Y","value":"1"},{"key":"y","value":"2"},{"key":"Y","value":"3"}]}},
 {"name":"json","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","body":{"mode":"raw","raw":"{\"u\":\"http://x//y\", // c\n /* b\n */\"q\":\"\\\"//\"}\n// end","options":{"raw":{"language":"json"}}}}},
 {"name":"xml","request":{"auth":{"type":"noauth"},"method":"PUT","url":"http://h/","body":{"mode":"raw","raw":"<a/>","options":{"raw":{"language":"xml"}}}}},
 {"name":"raw own type","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","header":[{"key":"content-type","value":"text/x"}],"body":{"mode":"raw","raw":"t"}}},
 {"name":"form","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","header":[{"key":"Content-Type","value":"text/plain"}],
   "body":{"mode":"urlencoded","urlencoded":[{"key":"k y&","value":"a+b !'()*~{{v}}"},{"key":"off","value":"x","disabled":true},{"key":"nv"}]}}},
 {"name":"multipart","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","header":[{"key":"Content-Type","value":"multipart/form-data"}],
   "body":{"mode":"formdata","formdata":[{"key":"t","value":"v","type":"text"},{"key":"j","value":"{}","contentType":"application/json"},
   {"key":"f","src":"/d/a.TXT","type":"file"},{"key":"m","src":["/d/b.bin","c.json"],"type":"file"},{"key":"g","src":"/d/p.png","type":"file","contentType":"x/y"},
   {"key":"none","src":null,"type":"file"},{"key":"off","value":"x","disabled":true}]}}},
 {"name":"file","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","body":{"mode":"file","file":{"src":"/d/p.png"}}}},
 {"name":"graphql","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","body":{"mode":"graphql","graphql":{"query":"{ a(s: \"x\\y\")\n}","variables":"{\"id\": {{id}}} // c"}}}},
 {"name":"graphql bare","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","body":{"mode":"graphql","graphql":{"query":"{ a }","variables":""}}}},
 {"name":"get body","request":{"auth":{"type":"noauth"},"url":"http://h/","body":{"mode":"raw","raw":"x"}}},
 {"name":"get body kept","protocolProfileBehavior":{"disableBodyPruning":true,"followRedirects":false},"request":{"auth":{"type":"noauth"},"url":"http://h/","body":{"mode":"raw","raw":"x"}}},
 {"name":"body off","request":{"auth":{"type":"noauth"},"method":"POST","url":"http://h/","body":{"mode":"raw","raw":"x","disabled":true}}},
 {"name":"no encoding","protocolProfileBehavior":{"disableUrlEncoding":true},"request":{"auth":{"type":"noauth"},"url":"http://h/{x}?q=\"a\""}},
 {"name":"bearer empty","request":{"url":"http://h/","auth":{"type":"bearer","bearer":[{"key":"token","value":""}]}}},
 {"name":"bearer own","request":{"url":"http://h/","header":[{"key":"authorization","value":"Own"}],"auth":{"type":"bearer","bearer":[{"key":"token","value":"{{t}}"}]}}},
 {"name":"apikey query","request":{"url":"http://h/","auth":{"type":"apikey","apikey":[{"key":"key","value":"a k"},{"key":"value","value":"v&{{x}}"},{"key":"in","value":"query"}]}}},
 {"name":"apikey header","request":{"url":"http://h/","header":[{"key":"x-k","value":"own"}],"auth":{"type":"apikey","apikey":[{"key":"key","value":"X-K"},{"key":"value","value":"v"}]}}},
 {"name":"digest","request":{"url":"http://h/","auth":{"type":"digest","digest":[{"key":"username","value":"u"},{"key":"password","value":"p"},{"key":"realm","value":"r"}]}}},
 {"name":"ntlm","request":{"url":"http://h/","auth":{"type":"ntlm","ntlm":[{"key":"username","value":"u"},{"key":"password","value":"p"},{"key":"domain","value":"DOM"},{"key":"workstation","value":"WS"}]}}},
 {"name":"awsv4","request":{"url":"http://h/","auth":{"type":"awsv4","awsv4":[{"key":"accessKey","value":"AK"},{"key":"secretKey","value":"SK"},{"key":"service","value":"s3"}]}}},
 {"name":"oauth2 header","request":{"url":"http://h/","auth":{"type":"oauth2","oauth2":[{"key":"accessToken","value":"at"},{"key":"headerPrefix","value":""}]}}},
 {"name":"oauth2 query","request":{"url":"http://h/?x=1","auth":{"type":"oauth2","oauth2":[{"key":"accessToken","value":"a t&"},{"key":"addTokenTo","value":"queryParams"}]}}},
 {"name":"hawk","request":{"url":"http://h/","auth":{"type":"hawk","hawk":[{"key":"authId","value":"id"},{"key":"includePayloadHash","value":false}]}}},
 {"name":"v2.0 basic","request":{"url":"http://h/","auth":{"type":"basic","basic":{"username":"u","password":"p"}}}},
 {"name":"F","auth":{"type":"basic","basic":[{"key":"username","value":"fu"},{"key":"password","value":"fp"}]},"description":"folder","item":[
   {"name":"inherits","request":{"url":"http://h/","auth":null}},
   {"name":"S","item":[{"name":"two levels","request":{"url":"http://h/"}}]},
   {"name":"N","auth":{"type":"noauth"},"item":[{"name":"under noauth","request":{"url":"http://h/"}}]}]},
 {"name":"top inherits","request":{"url":"http://h/"}}
]})json";

// The items, read back with api_collection_get_json; "@" stands for
// {"folder":"","name": and every item ends in "verbatim":true.
const char *const expected_items[] = {
    R"(@"parts","method":"GET","url":"http://{{host}}:{{port}}/u/4%202/:nov/D?a%20b=x%26y%23z&nv&v={{q r}}","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"string url","method":"GET","url":"http://127.0.0.1/p%20a/th/%7Bx%7D/caf%C3%A9?q=%22%27{}`&e=%C3%A9","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"raw only","method":"GET","url":"{{base}}/r?x=1","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"as string","method":"GET","url":"http://h.test/s","body":"","body_type":"raw","headers":{},"auth":{"type":"bearer","token":"COLL"}})",
    R"(@"headers","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{"x-DUP":"2","X-Mid":"m","X-None":"","X-Num":"3"},"auth":{}})",
    R"(@"v2.0 headers","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{"X-A":"1","X-B":"two"},"auth":{}})",
    // As the runner sends them: every value of one exact name; of names equal
    // but for case, the exact name written last wins.
    R"(@"repeated","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{"X-Dup":"1","X-Dup":"2","X-Mid":"m","X-A":"2","X-A":"3","y":"2"},"auth":{}})",
    R"(@"json","method":"POST","url":"http://h/","body":"{\"u\":\"http://x//y\", \n \"q\":\"\\\"//\"}\n","body_type":"json","headers":{},"auth":{}})",
    R"(@"xml","method":"PUT","url":"http://h/","body":"<a/>","body_type":"raw","headers":{"Content-Type":"application/xml"},"auth":{}})",
    R"(@"raw own type","method":"POST","url":"http://h/","body":"t","body_type":"raw","headers":{"content-type":"text/x"},"auth":{}})",
    R"(@"form","method":"POST","url":"http://h/","body":"k%20y%26=a%2Bb%20%21%27%28%29%2A~{{v}}&nv=","body_type":"form","headers":{"Content-Type":"application/x-www-form-urlencoded"},"auth":{}})",
    R"(@"multipart","method":"POST","url":"http://h/","body":"[{\"name\":\"t\",\"value\":\"v\"},{\"name\":\"j\",\"value\":\"{}\",\"content_type\":\"application/json\"},)"
    R"({\"name\":\"f\",\"file\":\"/d/a.TXT\",\"content_type\":\"text/plain\",\"filename\":\"a.TXT\"},)"
    R"({\"name\":\"m\",\"file\":\"/d/b.bin\",\"content_type\":\"application/octet-stream\",\"filename\":\"b.bin\"},)"
    R"({\"name\":\"m\",\"file\":\"c.json\",\"content_type\":\"application/json\",\"filename\":\"c.json\"},)"
    R"({\"name\":\"g\",\"file\":\"/d/p.png\",\"content_type\":\"x/y\",\"filename\":\"p.png\"}]","body_type":"multipart","headers":{},"auth":{}})",
    R"(@"file","method":"POST","url":"http://h/","body":"/d/p.png","body_type":"file","headers":{"Content-Type":"image/png"},"auth":{}})",
    R"(@"graphql","method":"POST","url":"http://h/","body":"{\"query\":\"{ a(s: \\\"x\\\\y\\\")\\n}\",\"variables\":{\"id\": {{id}}} // c}","body_type":"json","headers":{},"auth":{}})",
    R"(@"graphql bare","method":"POST","url":"http://h/","body":"{\"query\":\"{ a }\"}","body_type":"json","headers":{},"auth":{}})",
    R"(@"get body","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"get body kept","method":"GET","url":"http://h/","body":"x","body_type":"raw","headers":{"Content-Type":"text/plain"},"auth":{}})",
    R"(@"body off","method":"POST","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"no encoding","method":"GET","url":"http://h/{x}?q=\"a\"","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"bearer empty","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"bearer own","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"bearer","token":"{{t}}"}})",
    R"(@"apikey query","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"apikey","name":"a%20k","value":"v%26{{x}}","in":"query"}})",
    R"(@"apikey header","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"apikey","name":"X-K","value":"v","in":"header"}})",
    R"(@"digest","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"digest","user":"u","pass":"p"}})",
    R"(@"ntlm","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"ntlm","user":"DOM\\u","pass":"p"}})",
    R"(@"awsv4","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"awsv4","access_key":"AK","secret_key":"SK","region":"us-east-1","service":"s3","session_token":""}})",
    R"(@"oauth2 header","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{"Authorization":"at"},"auth":{}})",
    R"(@"oauth2 query","method":"GET","url":"http://h/?x=1&access_token=a%20t%26","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"hawk","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"hawk","authId":"id","includePayloadHash":false}})",
    R"(@"v2.0 basic","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"basic","user":"u","pass":"p"}})",
    R"({"folder":"F","name":"inherits","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"basic","user":"fu","pass":"fp"}})",
    R"({"folder":"F/S","name":"two levels","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"basic","user":"fu","pass":"fp"}})",
    R"({"folder":"F/N","name":"under noauth","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{}})",
    R"(@"top inherits","method":"GET","url":"http://h/","body":"","body_type":"raw","headers":{},"auth":{"type":"bearer","token":"COLL"}})",
};

// The notes as "name|what" lines, in report order: what is rewritten, or
// kept but not acted on (descriptions and saved responses are kept and need
// none).
const char *const expected_notes[] = {
    "|variable", "|variable", "parts|script", "raw only|url",
    "form|header", "multipart|body", "multipart|header", "get body|body", "get body kept|setting", "body off|body",
    "bearer empty|auth", "bearer own|header", "apikey header|header", "digest|auth", "ntlm|auth",
    "oauth2 header|auth", "oauth2 query|auth", "hawk|auth",
};

// The request elements of a collection, depth-first, as compact JSON.
std::vector<std::string> request_elements(yyjson_val *items) {
    std::vector<std::string> out;
    yyjson_val *element;
    yyjson_arr_iter it = yyjson_arr_iter_with(items);
    while ((element = yyjson_arr_iter_next(&it))) {
        yyjson_val *children = yyjson_obj_get(element, "item");
        if (yyjson_is_arr(children)) {
            for (std::string &e : request_elements(children)) out.push_back(std::move(e));
        } else if (yyjson_obj_get(element, "request")) {
            out.push_back(json_text(element));
        }
    }
    return out;
}

class PostmanFull : public LibraryTest {
protected:
    std::vector<std::string> items() {
        std::vector<std::string> out;
        for (int i = 0; i < api_collection_count(); ++i) out.emplace_back(api_collection_get_json(i));
        return out;
    }
    TempDir dir_;
};

TEST_F(PostmanFull, ImportsEveryMappingAndReadsItsOwnExportBack) {
    ASSERT_EQ(api_env_set("envwins", "env"), 1);
    std::string path = dir_.file("c.json");
    write_text(path, collection);
    ASSERT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
    std::vector<std::string> imported = items();
    ASSERT_EQ(imported.size(), std::size(expected_items));
    // Beside the request it sends, each item keeps its element as written.
    JsonDoc source = parse_json(collection);
    std::vector<std::string> elements = request_elements(yyjson_obj_get(yyjson_doc_get_root(source.get()), "item"));
    ASSERT_EQ(elements.size(), imported.size());
    for (std::size_t i = 0; i < imported.size(); ++i) {
        std::string want = expected_items[i];
        if (want[0] == '@') want = R"({"folder":"","name":)" + want.substr(1);
        want.insert(want.size() - 1, R"(,"verbatim":true)");
        EXPECT_EQ(json_without(imported[i], "postman"), want);
        JsonDoc item = parse_json(imported[i]);
        yyjson_val *kept = yyjson_obj_get(yyjson_doc_get_root(item.get()), "postman");
        EXPECT_EQ(json_text(yyjson_obj_get(kept, "item")), elements[i]);
        EXPECT_EQ(yyjson_get_int(yyjson_obj_get(kept, "ref")), static_cast<int>(i));
    }
    EXPECT_STREQ(api_env_get("host"), "127.0.0.1");
    EXPECT_STREQ(api_env_get("envwins"), "env");
    EXPECT_STREQ(api_env_get("n"), "5");
    EXPECT_STREQ(api_env_get("off"), "");

    JsonDoc report = parse_json(api_postman_report_json());
    yyjson_val *root = yyjson_doc_get_root(report.get());
    EXPECT_EQ(json_text(yyjson_obj_get(root, "operation")), "\"import\"");
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "requests")), static_cast<int>(std::size(expected_items)));
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "items")), static_cast<int>(std::size(expected_items)));
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "variables")), 2);
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "scripts")), 1);
    std::vector<std::string> notes;
    yyjson_val *note;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(root, "notes"));
    while ((note = yyjson_arr_iter_next(&it))) notes.push_back(std::string(json_str(note, "name")) + "|" + json_str(note, "what"));
    EXPECT_EQ(notes, std::vector<std::string>(std::begin(expected_notes), std::end(expected_notes))) << api_postman_report_json();

    std::string exported = dir_.file("out.json");
    ASSERT_EQ(api_export_postman_full(exported.c_str()), 1) << api_last_error();
    JsonDoc export_report = parse_json(api_postman_report_json());
    EXPECT_EQ(yyjson_get_int(yyjson_obj_get(yyjson_doc_get_root(export_report.get()), "items")),
              static_cast<int>(std::size(expected_items)));
    ASSERT_EQ(api_import_postman_full(exported.c_str()), 1) << api_last_error();
    std::vector<std::string> again = items();
    ASSERT_EQ(again.size(), imported.size());
    for (std::size_t i = 0; i < again.size(); ++i) EXPECT_EQ(json_without(again[i], "postman"), json_without(imported[i], "postman"));
}

// What a host adds: items made from an imported one's JSON go after the
// layout, in their folder. One with another URL has its request built anew
// and keeps the rest of what was kept; one only renamed keeps its request
// as written. Elements that are no requests, and empty folders, come back.
TEST_F(PostmanFull, HostAddedItemsAndTheLayout) {
    const std::string original = R"({"info":{"name":"layout"},"item":[{"name":"only a name"},{},{"name":"E","item":[]},)"
                                 R"({"name":"F","id":"f","item":[{"name":"r","description":"about r","request":{"url":)"
                                 R"({"raw":"http://h/:id","host":["h"],"path":[":id"],"variable":[{"key":"id","value":"7"}]}}}]}]})";
    std::string path = dir_.file("c.json"), out = dir_.file("out.json");
    write_text(path, original);
    ASSERT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
    std::string item = api_collection_get_json(0), changed = item, renamed = item;
    changed.replace(changed.find("http://h/7"), 10, "http://h/8");
    renamed.replace(renamed.find(R"("name":"r")"), 10, R"("name":"s")");
    ASSERT_EQ(api_collection_add("F", changed.c_str()), 1);
    ASSERT_EQ(api_collection_add("F", renamed.c_str()), 1);
    ASSERT_EQ(api_export_postman_full(out.c_str()), 1) << api_last_error();

    JsonDoc source = parse_json(original), exported = parse_json(read_text(out));
    yyjson_val *was = yyjson_obj_get(yyjson_doc_get_root(source.get()), "item");
    yyjson_val *now = yyjson_obj_get(yyjson_doc_get_root(exported.get()), "item");
    ASSERT_EQ(yyjson_arr_size(now), 5u) << read_text(out);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(json_text(yyjson_arr_get(now, i)), json_text(yyjson_arr_get(was, i)));
    yyjson_val *added = yyjson_obj_get(yyjson_arr_get(now, 4), "item");
    EXPECT_STREQ(json_str(yyjson_arr_get(now, 4), "name"), "F");
    yyjson_val *rebuilt = yyjson_arr_get(added, 0), *kept = yyjson_arr_get(added, 1);
    EXPECT_STREQ(json_str(rebuilt, "description"), "about r");
    EXPECT_STREQ(json_str(yyjson_obj_get(yyjson_obj_get(rebuilt, "request"), "url"), "raw"), "http://h/8");
    EXPECT_STREQ(json_str(kept, "name"), "s");
    yyjson_val *r = yyjson_arr_get(yyjson_obj_get(yyjson_arr_get(was, 3), "item"), 0);
    EXPECT_EQ(json_text(yyjson_obj_get(kept, "request")), json_text(yyjson_obj_get(r, "request")));
}

// The layout names items by the index the import gave them: a collection
// file that lost an item still puts the others in their place.
TEST_F(PostmanFull, LayoutSurvivesAFileThatLostAnItem) {
    std::string path = dir_.file("c.json"), saved = dir_.file("saved.json"), out = dir_.file("out.json");
    write_text(path, R"({"info":{"name":"l"},"item":[{"name":"F","item":[{"name":"a","request":"http://h/a"},)"
                     R"({"name":"b","request":"http://h/b"}]},{"name":"c","request":"http://h/c"}]})");
    ASSERT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
    ASSERT_EQ(api_collection_save(saved.c_str()), 1);
    JsonDoc file = parse_json(read_text(saved));
    yyjson_mut_doc *edit = yyjson_doc_mut_copy(file.get(), nullptr);
    yyjson_mut_arr_remove_first(yyjson_mut_obj_get(yyjson_mut_doc_get_root(edit), "requests"));
    char *text = yyjson_mut_write(edit, 0, nullptr);
    write_text(saved, text);
    std::free(text);
    yyjson_mut_doc_free(edit);
    ASSERT_EQ(api_collection_load(saved.c_str()), 1) << api_last_error();
    ASSERT_EQ(api_export_postman_full(out.c_str()), 1) << api_last_error();
    JsonDoc exported = parse_json(read_text(out));
    yyjson_val *items = yyjson_obj_get(yyjson_doc_get_root(exported.get()), "item");
    ASSERT_EQ(yyjson_arr_size(items), 2u) << read_text(out);
    yyjson_val *folder = yyjson_arr_get(items, 0);
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(folder, "item")), 1u);
    EXPECT_STREQ(json_str(yyjson_arr_get(yyjson_obj_get(folder, "item"), 0), "name"), "b");
    EXPECT_STREQ(json_str(yyjson_arr_get(items, 1), "name"), "c");
}

// The scripts around each request, in the runner's order, also after the
// collection went through its own file.
TEST_F(PostmanFull, ScriptsAroundEachRequest) {
    auto ev = [](const char *listen, const char *exec) {
        return std::string(R"({"listen":")") + listen + R"(","script":{"exec":)" + exec + "}}";
    };
    std::string path = dir_.file("c.json"), saved = dir_.file("saved.json");
    write_text(path, R"({"info":{"name":"C"},"event":[)" + ev("test", R"("ct")") + "," + ev("prerequest", R"(["cp1","cp2"])") +
                         R"(],"item":[{"name":"F","event":[)" + ev("prerequest", R"(["fp"])") + "," + ev("test", "[]") +
                         R"(],"item":[{"name":"G","item":[{"name":"a","request":"http://h/a","event":[)" + ev("test", R"(["at"])") +
                         R"(,{"listen":"test","disabled":true,"script":{"exec":["off"]}}]}]}]},{"name":"b","request":"http://h/b"}]})");
    const std::string a = R"([{"listen":"prerequest","from":"collection","name":"C","script":"cp1\ncp2"},)"
                          R"({"listen":"prerequest","from":"folder","name":"F","script":"fp"},)"
                          R"({"listen":"test","from":"collection","name":"C","script":"ct"},)"
                          R"({"listen":"test","from":"item","name":"a","script":"at"}])";
    const std::string b = R"([{"listen":"prerequest","from":"collection","name":"C","script":"cp1\ncp2"},)"
                          R"({"listen":"test","from":"collection","name":"C","script":"ct"}])";
    ASSERT_EQ(api_import_postman_full(path.c_str()), 1) << api_last_error();
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(api_collection_scripts_json(0), a) << pass;
        EXPECT_EQ(api_collection_scripts_json(1), b) << pass;
        ASSERT_EQ(api_collection_save(saved.c_str()), 1);
        ASSERT_EQ(api_collection_load(saved.c_str()), 1) << api_last_error();
    }
    EXPECT_STREQ(api_collection_scripts_json(2), "");
    EXPECT_STREQ(api_last_error(), "api_collection_scripts_json: index out of range");
    ASSERT_EQ(api_collection_add("", R"({"name":"own","url":"http://h/"})"), 1);
    EXPECT_STREQ(api_collection_scripts_json(2), "[]");
}

// A failed import changes nothing: the collection, and the last report.
TEST_F(PostmanFull, RefusesBadFilesLikeThePlainImport) {
    const std::string path = dir_.file("bad.json"), name = "api_import_postman_full: ";
    write_text(path, R"({"item":[{"name":"kept","request":"http://h/"}]})");
    ASSERT_EQ(api_import_postman_full(path.c_str()), 1);
    const std::string report = api_postman_report_json();
    std::remove(path.c_str());
    EXPECT_EQ(api_import_postman_full(nullptr), 0);
    EXPECT_EQ(std::string(api_last_error()), name + "null or empty path");
    EXPECT_EQ(api_import_postman_full(path.c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()), name + "could not read '" + path + "'");
    const std::pair<const char *, std::string> cases[] = {
        {"{\"item\":[]} x", name + "invalid JSON in '" + path + "'"},
        {"[]", name + "root must be JSON object"},
        {"{\"item\":{}}", name + "missing 'item' array in Postman collection"},
    };
    for (const auto &[text, message] : cases) {
        write_text(path, text);
        EXPECT_EQ(api_import_postman_full(path.c_str()), 0);
        EXPECT_EQ(std::string(api_last_error()), message);
        EXPECT_EQ(api_postman_report_json(), report);
    }
    EXPECT_EQ(api_collection_count(), 1);
    EXPECT_EQ(api_export_postman_full(""), 0);
    EXPECT_EQ(std::string(api_last_error()), "api_export_postman_full: null or empty path");
    EXPECT_EQ(api_export_postman_full(dir_.file("no/such/dir/x.json").c_str()), 0);
    EXPECT_EQ(std::string(api_last_error()), "api_export_postman_full: failed to write to '" + dir_.file("no/such/dir/x.json") + "'");
}

}  // namespace
