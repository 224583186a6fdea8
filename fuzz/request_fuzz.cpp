// api_request with a fuzzed RequestConfig against a local server. Requests
// only ever go to that server on 127.0.0.1: the config's URL is replaced by
// the server's address followed by the fuzzed URL's path and query, and a
// file or multipart body may only name a file in the temporary directory.
// Two members besides the config's own come from the input: "env" (string
// variables set first) and "options" (given to api_configure).
// Invariants: a success means the server answered and the last response is
// its answer; a refusal sends nothing; a plain body goes out as given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "quorvane_apiclient.h"
#include "support.h"
#include "support/http_server.h"

// The server answers on threads of its own, which may still hold a request
// when libFuzzer checks an input for leaks: only the library's allocations,
// made on the fuzzing thread, are the target's concern.
extern "C" const char *__lsan_default_suppressions() { return "leak:HttpServer::Impl::serve\n"; }

namespace {

constexpr std::string_view reply_body = R"({"ok":true,"items":[1,"two",{"three":3}]})";
// Members the target sets itself, whatever the input says.
constexpr std::string_view replaced[] = {"url", "timeout_s", "body", "body_type", "env", "options"};

HttpServer &server() {
    static std::unique_ptr<HttpServer> s;
    if (!s) {
        // A proxy from the environment would take requests off this machine.
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        setenv("no_proxy", "*", 1);
        s = std::make_unique<HttpServer>();
        s->set_default(http_response(200, reply_body, "X-Fuzz: reply\r\n"));
    }
    return *s;
}

const std::string &body_file() {
    static const std::string path = [] {
        std::string p = fuzz_temp_path("body.bin");
        fuzz_write_file(p, "file body\n", 10);
        return p;
    }();
    return path;
}

// ASCII case-insensitive (b in lower case), as the library compares body
// types and methods.
bool ieq(const std::string &a, const char *b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

bool is_key(yyjson_val *key, std::string_view name) {
    return std::string_view(yyjson_get_str(key), yyjson_get_len(key)) == name;
}

// The fuzzed URL's path and query: whatever follows its authority.
std::string path_of(yyjson_val *url) {
    std::string u = fuzz_cstr(url);
    std::size_t scheme = u.find("://");
    if (scheme != std::string::npos) {
        std::size_t slash = u.find('/', scheme + 3);
        u = slash == std::string::npos ? "" : u.substr(slash);
    }
    return u.empty() || u[0] != '/' ? "/" + u : u;
}

// A multipart body whose every "file" names the body file; other texts stay.
std::string confined_parts(const std::string &parts_json, yyjson_mut_doc *doc) {
    FuzzDoc parts = fuzz_parse(parts_json);
    yyjson_val *arr = parts ? yyjson_doc_get_root(parts.get()) : nullptr;
    if (!yyjson_is_arr(arr)) return "";  // refused before any file is opened
    yyjson_mut_val *out = yyjson_mut_arr(doc);
    std::size_t idx, max;
    yyjson_val *part;
    yyjson_arr_foreach(arr, idx, max, part) {
        yyjson_mut_val *copy = yyjson_val_mut_copy(doc, part);
        if (yyjson_is_obj(part)) {
            yyjson_mut_obj_remove_key(copy, "file");
            if (yyjson_obj_get(part, "file")) yyjson_mut_obj_add_strcpy(doc, copy, "file", body_file().c_str());
        }
        yyjson_mut_arr_append(out, copy);
    }
    char *text = yyjson_mut_val_write(out, 0, nullptr);
    std::string result = text ? text : "";
    std::free(text);
    return result;
}

struct Built {
    std::string config;
    std::string method, body, body_type;
    bool verbatim = false, has_auth = false;
};

Built build(yyjson_val *root, const std::string &base) {
    Built b;
    b.method = fuzz_cstr_member(root, "method", "GET");
    b.body = fuzz_cstr_member(root, "body", "");
    b.body_type = fuzz_cstr_member(root, "body_type", "raw");
    b.verbatim = yyjson_is_true(yyjson_obj_get(root, "verbatim"));
    b.has_auth = yyjson_obj_get(root, "auth") != nullptr;
    if (ieq(b.body_type, "file")) b.body = body_file();

    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *obj = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, obj);
    std::size_t idx, max;
    yyjson_val *key, *value;
    yyjson_obj_foreach(root, idx, max, key, value) {
        bool ours = false;
        for (std::string_view name : replaced) ours = ours || is_key(key, name);
        if (!ours) yyjson_mut_obj_add(obj, yyjson_val_mut_copy(doc, key), yyjson_val_mut_copy(doc, value));
    }
    if (ieq(b.body_type, "multipart")) b.body = confined_parts(b.body, doc);
    std::string url = base + path_of(yyjson_obj_get(root, "url"));
    yyjson_mut_obj_add_strncpy(doc, obj, "url", url.data(), url.size());
    yyjson_mut_obj_add_int(doc, obj, "timeout_s", 1);
    yyjson_mut_obj_add_strncpy(doc, obj, "body_type", b.body_type.data(), b.body_type.size());
    yyjson_mut_obj_add_strncpy(doc, obj, "body", b.body.data(), b.body.size());
    char *text = yyjson_mut_write(doc, 0, nullptr);
    b.config = text ? text : "";
    std::free(text);
    yyjson_mut_doc_free(doc);
    return b;
}

void apply_env_and_options(yyjson_val *root) {
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(root, "env"));  // empty unless an object
    while (yyjson_val *key = yyjson_obj_iter_next(&it)) {
        yyjson_val *value = yyjson_obj_iter_get_val(key);
        if (yyjson_is_str(value)) api_env_set(yyjson_get_str(key), yyjson_get_str(value));
    }
    if (yyjson_val *options = yyjson_obj_get(root, "options")) {
        std::string text = fuzz_json(options);
        if (!api_configure(text.c_str())) {
            FUZZ_CHECK(std::string(api_last_error()).rfind("api_configure: ", 0) == 0, api_last_error());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    HttpServer &srv = server();
    fuzz_reset();
    // The library reads the config up to its first NUL; so does the target.
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(std::strlen(text.c_str()));
    FuzzDoc doc = fuzz_parse(text);
    if (!doc) return 0;  // not JSON: nothing the target could vouch for
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    srv.clear_requests();
    if (!yyjson_is_obj(root)) {
        FUZZ_CHECK(api_request(text.c_str()) == 0, "a config that is not an object was sent");
        return 0;
    }
    apply_env_and_options(root);
    Built b = build(root, srv.base_url());
    // Checked on the text actually handed over, before anything is sent.
    FuzzDoc final_doc = fuzz_parse(b.config);
    yyjson_val *final_root = final_doc ? yyjson_doc_get_root(final_doc.get()) : nullptr;
    FUZZ_CHECK(fuzz_cstr_member(final_root, "url", "").rfind(srv.base_url() + "/", 0) == 0,
               "unconfined URL: " + b.config);
    if (ieq(b.body_type, "file"))
        FUZZ_CHECK(fuzz_cstr_member(final_root, "body", "") == body_file(), "unconfined file: " + b.config);

    int sent = api_request(b.config.c_str());
    std::string error = api_last_error();
    std::vector<HttpRequest> received = srv.requests();
    if (!sent) {
        FUZZ_CHECK(error.rfind("api_request: ", 0) == 0, error);
        // Only the transfer itself can fail after bytes went out.
        if (error.rfind("api_request: curl error", 0) != 0) {
            FUZZ_CHECK(received.empty(), "refused (" + error + ") yet sent: " + b.config);
        }
        return 0;
    }
    FUZZ_CHECK(!received.empty(), "a success without a request: " + b.config);
    FUZZ_CHECK(api_response_status() == 200, "status " + std::to_string(api_response_status()));
    if (!ieq(b.method, "head"))
        FUZZ_CHECK(api_response_body() == reply_body, std::string("body ") + api_response_body());
    std::string headers = api_response_headers_json();
    FuzzDoc headers_doc = fuzz_parse(headers);
    FUZZ_CHECK(headers_doc && fuzz_cstr_member(yyjson_doc_get_root(headers_doc.get()), "x-fuzz", "") == "reply",
               headers);
    FuzzDoc time_doc = fuzz_parse(api_response_time_json());
    FUZZ_CHECK(time_doc && yyjson_is_obj(yyjson_doc_get_root(time_doc.get())), api_response_time_json());

    bool plain_body = ieq(b.method, "post") || ieq(b.method, "put") || ieq(b.method, "patch");
    bool text_kind = !ieq(b.body_type, "file") && !ieq(b.body_type, "multipart");
    if (plain_body && text_kind && !b.verbatim && !b.has_auth && b.body.find("{{") == std::string::npos) {
        FUZZ_CHECK(
            received.size() == 1 && received[0].body == b.body,
            "sent body " + (received.empty() ? std::string("(none)") : received[0].body) + "\nexpected " + b.body);
    }
    return 0;
}
