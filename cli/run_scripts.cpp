#include "run_scripts.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cli_error.h"
#include "quorvane_apiclient.h"
#include "terminal.h"

namespace {

using Doc = yyjson_mut_doc;
using Val = yyjson_mut_val;

std::string value_text(yyjson_val *v) {
    char *text = yyjson_val_write(v, 0, nullptr);
    std::string out = text ? text : "null";
    std::free(text);
    return out;
}

// What a value is in the library's environment: a string as it is, any
// other value as its JSON text.
std::string plain_text(const std::string &value_json) {
    JsonDoc doc = parse_json(value_json);
    yyjson_val *v = yyjson_doc_get_root(doc.get());
    return yyjson_is_str(v) ? json_scalar_text(v) : value_json;
}

Val *copy_json(Doc *d, const std::string &value_json) {
    JsonDoc doc = parse_json(value_json);
    yyjson_val *v = yyjson_doc_get_root(doc.get());
    return v ? yyjson_val_mut_copy(d, v) : yyjson_mut_null(d);
}

// Scopes as lists of {"key","value"}; the later of two equal keys wins, as
// in the format's runner.
std::vector<std::pair<std::string, std::string>> read_list(yyjson_val *list) {
    std::vector<std::pair<std::string, std::string>> out;
    yyjson_val *var;
    yyjson_arr_iter it = yyjson_arr_iter_with(list);
    while ((var = yyjson_arr_iter_next(&it))) {
        const char *key = json_str(var, "key");
        if (!*key || yyjson_is_true(yyjson_obj_get(var, "disabled")) || yyjson_is_false(yyjson_obj_get(var, "enabled")))
            continue;
        yyjson_val *value = yyjson_obj_get(var, "value");
        out.emplace_back(key, value ? value_text(value) : "\"\"");
    }
    return out;
}

}  // namespace

RunScripts::RunScripts(const RunPlan &plan) : plan_(plan) {
    auto from_object = [](const std::string &json, Scope &scope) {
        JsonDoc doc = parse_json(json);
        yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(doc.get()));
        for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));)
            scope.push_back({yyjson_get_str(k), value_text(yyjson_obj_iter_get_val(k))});
    };
    from_object(plan.environment_json, environment_);
    from_object(plan.globals_json, globals_);
    yyjson_val *root = yyjson_doc_get_root(plan.collection.get());
    yyjson_val *document = yyjson_obj_get(root, "item") ? root : yyjson_obj_get(root, "postman");
    for (auto &[key, value] : read_list(yyjson_obj_get(document, "variable"))) collection_.push_back({key, value});
    for (const PlannedItem &item : plan.items) any_ = any_ || std::strcmp(api_collection_scripts_json(item.index), "[]") != 0;
    // A library built without the script engine: the scripts are skipped, as said.
    if (any_ && !*api_script_run(R"({"script":""})")) any_ = false;
}

void RunScripts::set_iteration(int iteration, int count, const DataRow *row) {
    iteration_ = iteration;
    iterations_ = count;
    row_ = row;
    if (any_) sync_library();
}

ScriptOutcome RunScripts::before(const PlannedItem &item) { return run(item, "prerequest", nullptr); }

ScriptOutcome RunScripts::after(const PlannedItem &item, const ScriptResponse *response) {
    return run(item, "test", response);
}

namespace {

void add_scope(Doc *d, Val *obj, const char *name, const std::vector<std::pair<std::string, std::string>> &vars) {
    Val *list = yyjson_mut_obj_add_arr(d, obj, name);
    for (const auto &[key, value] : vars) {
        Val *v = yyjson_mut_arr_add_obj(d, list);
        yyjson_mut_obj_add_strncpy(d, v, "key", key.data(), key.size());
        yyjson_mut_obj_add_val(d, v, "value", copy_json(d, value));
    }
}

// The request as scripts see it: the item as the collection file gave it.
Val *request_json(Doc *d, const PlannedItem &item) {
    JsonDoc doc = parse_json(item.item_json);
    yyjson_val *kept = yyjson_obj_get(yyjson_obj_get(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "postman"), "item"), "request");
    Val *r = yyjson_mut_obj(d);
    yyjson_mut_obj_add_strcpy(d, r, "id", item.id.c_str());
    yyjson_mut_obj_add_strcpy(d, r, "name", item.name.c_str());
    yyjson_mut_obj_add_strcpy(d, r, "method", item.method.c_str());
    yyjson_mut_obj_add_strcpy(d, r, "url", item.url.c_str());
    yyjson_val *header = yyjson_obj_get(kept, "header");
    if (yyjson_is_arr(header)) {
        yyjson_mut_obj_add_val(d, r, "headers", yyjson_val_mut_copy(d, header));
    } else {
        Val *list = yyjson_mut_obj_add_arr(d, r, "headers");
        for (const auto &[name, value] : item.headers) {
            Val *h = yyjson_mut_arr_add_obj(d, list);
            yyjson_mut_obj_add_strcpy(d, h, "key", name.c_str());
            yyjson_mut_obj_add_strcpy(d, h, "value", value.c_str());
        }
    }
    yyjson_val *body = yyjson_obj_get(kept, "body"), *auth = yyjson_obj_get(kept, "auth");
    yyjson_mut_obj_add_val(d, r, "body", body ? yyjson_val_mut_copy(d, body) : yyjson_mut_null(d));
    yyjson_mut_obj_add_val(d, r, "auth", auth ? yyjson_val_mut_copy(d, auth) : yyjson_mut_null(d));
    return r;
}

Val *response_json(Doc *d, const ScriptResponse &response) {
    Val *r = yyjson_mut_obj(d);
    yyjson_mut_obj_add_int(d, r, "code", response.code);
    yyjson_mut_obj_add_strcpy(d, r, "status", reason_phrase(response.code));
    Val *list = yyjson_mut_obj_add_arr(d, r, "headers");
    JsonDoc headers = parse_json(response.headers_json);
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(headers.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        Val *h = yyjson_mut_arr_add_obj(d, list);
        yyjson_mut_obj_add_val(d, h, "key", yyjson_val_mut_copy(d, k));
        yyjson_mut_obj_add_strcpy(d, h, "value", json_scalar_text(yyjson_obj_iter_get_val(k)).c_str());
    }
    yyjson_mut_obj_add_strncpy(d, r, "body", response.body.data(), response.body.size());
    yyjson_mut_obj_add_real(d, r, "responseTime", response.time_ms);
    yyjson_mut_obj_add_uint(d, r, "responseSize", response.body.size());
    return r;
}

}  // namespace

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Enabled headers of a request JSON, by lower-case name: the last value wins.
std::map<std::string, std::pair<std::string, std::string>> headers_of(yyjson_val *request) {
    std::map<std::string, std::pair<std::string, std::string>> out;
    yyjson_val *h;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(request, "headers"));
    while ((h = yyjson_arr_iter_next(&it))) {
        if (yyjson_is_true(yyjson_obj_get(h, "disabled")) || !*json_str(h, "key")) continue;
        out[lower(json_str(h, "key"))] = {json_str(h, "key"), json_scalar_text(yyjson_obj_get(h, "value"))};
    }
    return out;
}

// What the scripts changed between the request they got and the one they left.
void changes(const std::string &before_json, const std::string &after_json, ScriptOutcome &out) {
    JsonDoc before = parse_json(before_json), after = parse_json(after_json);
    yyjson_val *b = yyjson_doc_get_root(before.get()), *a = yyjson_doc_get_root(after.get());
    auto was = headers_of(b), now = headers_of(a);
    for (const auto &[name, header] : now) {
        auto old = was.find(name);
        if (old == was.end() || old->second.second != header.second) out.set_headers.push_back(header);
    }
    for (const auto &[name, header] : was) {
        if (!now.count(name)) out.removed_headers.push_back(header.first);
    }
    if (std::strcmp(json_str(a, "url"), json_str(b, "url")) != 0) out.url = json_str(a, "url");
    if (std::strcmp(json_str(a, "method"), json_str(b, "method")) != 0) out.method = json_str(a, "method");
}

}  // namespace

ScriptOutcome RunScripts::run(const PlannedItem &item, const char *listen, const ScriptResponse *response) {
    ScriptOutcome outcome;
    if (!any_ || std::string(api_collection_scripts_json(item.index)).find("\"listen\":\"" + std::string(listen) + "\"") ==
                     std::string::npos)
        return outcome;
    // The request as the scripts leave it, each seeing what the one before made of it.
    std::string original, current;
    {
        JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
        yyjson_mut_val *root = yyjson_mut_obj(doc.get());
        yyjson_mut_doc_set_root(doc.get(), root);
        yyjson_mut_obj_add_str(doc.get(), root, "script", "");
        yyjson_mut_obj_add_val(doc.get(), root, "request", request_json(doc.get(), item));
        original = current = value_text(yyjson_obj_get(yyjson_doc_get_root(parse_json(json_write(doc.get())).get()), "request"));
        // Compared in the form the scripts give it back, so that only what a
        // script changed counts as a change.
        if (std::strcmp(listen, "prerequest") == 0) {
            JsonDoc same = parse_json(api_script_run(json_write(doc.get()).c_str()));
            yyjson_val *request = yyjson_obj_get(yyjson_doc_get_root(same.get()), "request");
            if (yyjson_is_obj(request)) original = current = value_text(request);
        }
    }
    JsonDoc scripts = parse_json(api_collection_scripts_json(item.index));
    yyjson_val *script;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_doc_get_root(scripts.get()));
    while ((script = yyjson_arr_iter_next(&it))) {
        if (std::strcmp(json_str(script, "listen"), listen) != 0) continue;
        ++outcome.scripts;
        JsonMutDoc input(yyjson_mut_doc_new(nullptr));
        Doc *d = input.get();
        Val *root = yyjson_mut_obj(d);
        yyjson_mut_doc_set_root(d, root);
        yyjson_mut_obj_add_str(d, root, "event", listen);
        yyjson_mut_obj_add_strcpy(d, root, "script", json_str(script, "script"));
        Val *location = yyjson_mut_obj_add_arr(d, root, "location");
        yyjson_mut_arr_add_strcpy(d, location, plan_.collection_name.c_str());
        for (std::size_t start = 0; !item.folder.empty();) {
            std::size_t end = item.folder.find('/', start);
            yyjson_mut_arr_add_strcpy(d, location, item.folder.substr(start, end - start).c_str());
            if (end == std::string::npos) break;
            start = end + 1;
        }
        yyjson_mut_arr_add_strcpy(d, location, item.name.c_str());
        Val *info = yyjson_mut_obj_add_obj(d, root, "info");
        yyjson_mut_obj_add_str(d, info, "eventName", listen);
        yyjson_mut_obj_add_int(d, info, "iteration", iteration_);
        yyjson_mut_obj_add_int(d, info, "iterationCount", iterations_);
        yyjson_mut_obj_add_strcpy(d, info, "requestName", item.name.c_str());
        yyjson_mut_obj_add_strcpy(d, info, "requestId", item.id.c_str());
        yyjson_mut_obj_add_val(d, root, "request", copy_json(d, current));
        yyjson_mut_obj_add_val(d, root, "response", response ? response_json(d, *response) : yyjson_mut_null(d));
        Val *vars = yyjson_mut_obj_add_obj(d, root, "variables");
        auto pairs = [](const Scope &s) {
            std::vector<std::pair<std::string, std::string>> out;
            for (const Var &v : s) out.emplace_back(v.key, v.value_json);
            return out;
        };
        add_scope(d, vars, "globals", pairs(globals_));
        add_scope(d, vars, "collection", pairs(collection_));
        add_scope(d, vars, "environment", pairs(environment_));
        Val *data = yyjson_mut_obj_add_obj(d, vars, "data");
        for (const auto &[name, value] : row_ ? *row_ : DataRow{}) yyjson_mut_obj_add_strcpy(d, data, name.c_str(), value.c_str());
        yyjson_mut_obj_add_val(d, root, "cookies", copy_json(d, api_cookies_json()));

        std::string text = api_script_run(json_write(d).c_str());
        if (text.empty()) {
            outcome.errors.push_back({listen, "Error", api_last_error()});
            continue;
        }
        JsonDoc out = parse_json(text);
        yyjson_val *o = yyjson_doc_get_root(out.get());
        yyjson_val *scopes = yyjson_obj_get(o, "variables");
        auto take = [&](const char *name, Scope &scope) {
            yyjson_val *list = yyjson_obj_get(scopes, name);
            if (!yyjson_is_arr(list)) return;
            scope.clear();
            for (auto &[key, value] : read_list(list)) scope.push_back({key, value});
        };
        if (yyjson_is_obj(yyjson_obj_get(o, "request"))) current = value_text(yyjson_obj_get(o, "request"));
        take("globals", globals_);
        take("collection", collection_);
        take("environment", environment_);
        take("local", local_);
        yyjson_val *test;
        yyjson_arr_iter tests = yyjson_arr_iter_with(yyjson_obj_get(o, "tests"));
        for (int index = 0; (test = yyjson_arr_iter_next(&tests)); ++index) {
            ScriptTest t;
            t.name = json_str(test, "name");
            t.passed = yyjson_is_true(yyjson_obj_get(test, "passed"));
            t.skipped = yyjson_is_true(yyjson_obj_get(test, "skipped"));
            t.error = json_str(test, "error");
            t.error_name = json_str(test, "errorName", "AssertionError");
            t.index = index;
            outcome.tests.push_back(std::move(t));
        }
        yyjson_val *line;
        yyjson_arr_iter console = yyjson_arr_iter_with(yyjson_obj_get(o, "console"));
        while ((line = yyjson_arr_iter_next(&console))) outcome.console.push_back(json_str(line, "text"));
        yyjson_val *error = yyjson_obj_get(o, "error");
        if (yyjson_is_obj(error)) {
            const char *name = json_str(error, "name");
            outcome.errors.push_back({listen, *name ? name : "Error", json_str(error, "message")});
        }
        outcome.skip_request = outcome.skip_request || yyjson_is_true(yyjson_obj_get(o, "skipRequest"));
        if (yyjson_val *next = yyjson_obj_get(o, "nextRequest")) {
            outcome.next_set = true;
            outcome.next_null = yyjson_is_null(next);
            outcome.next = json_scalar_text(next);
        }
    }
    if (outcome.scripts > 0) sync_library();
    if (current != original) changes(original, current, outcome);
    return outcome;
}

// The library's environment as the scopes' merge: globals, then the
// collection's, the environment, the data row and the scripts' locals, each
// over the one before, as the runner resolves a {{name}}.
void RunScripts::sync_library() const {
    std::vector<std::pair<std::string, std::string>> flat;
    std::map<std::string, std::size_t> at;
    auto put = [&](const std::string &key, const std::string &text) {
        auto [pos, added] = at.emplace(key, flat.size());
        if (added) {
            flat.emplace_back(key, text);
        } else {
            flat[pos->second].second = text;
        }
    };
    for (const Scope *scope : {&globals_, &collection_, &environment_}) {
        for (const Var &v : *scope) put(v.key, plain_text(v.value_json));
    }
    if (row_) {
        for (const auto &[name, value] : *row_) put(name, value);
    }
    for (const Var &v : local_) put(v.key, plain_text(v.value_json));
    JsonDoc env = parse_json(api_env_json());
    yyjson_val *now = yyjson_doc_get_root(env.get());
    yyjson_obj_iter it = yyjson_obj_iter_with(now);
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        if (!at.count(yyjson_get_str(k))) api_env_unset(yyjson_get_str(k));
    }
    for (const auto &[key, text] : flat) {
        yyjson_val *old = yyjson_obj_get(now, key.c_str());
        if (old && json_scalar_text(old) == text) continue;
        if (!api_env_set(key.c_str(), text.c_str())) fail(exit_failed, api_last_error());
    }
}

std::string RunScripts::object_of(const Scope &scope) {
    JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
    Val *root = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), root);
    for (const Var &v : scope) yyjson_mut_obj_put(root, yyjson_mut_strcpy(doc.get(), v.key.c_str()), copy_json(doc.get(), v.value_json));
    return json_write(doc.get());
}
