// The json reporter: newman's JSON report shape where it applies, so that
// tools reading newman's report read this one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "json_doc.h"
#include "quorvane_apiclient.h"
#include "report_file.h"
#include "run_report.h"

namespace {

using Doc = yyjson_mut_doc;
using Val = yyjson_mut_val;

Val *str(Doc *d, std::string_view s) { return yyjson_mut_strncpy(d, s.data(), s.size()); }

void add(Doc *d, Val *obj, const char *key, Val *v) { yyjson_mut_obj_add_val(d, obj, key, v); }
void add_str(Doc *d, Val *obj, const char *key, std::string_view s) { add(d, obj, key, str(d, s)); }

// A URL as the format's Url object, split by the library as its exports
// split one: protocol, port, path segments, host labels, query pairs (a key
// without '=' has a null value); path, host and query always present.
Val *url_object(Doc *d, const std::string &url) {
    JsonDoc parts = parse_json(api_url_parts_json(url.c_str()));
    yyjson_val *root = yyjson_doc_get_root(parts.get());
    Val *obj = yyjson_mut_obj(d);
    for (const char *key : {"protocol", "port", "path", "host", "query"}) {
        yyjson_val *v = yyjson_obj_get(root, key);
        bool always = std::strcmp(key, "protocol") != 0 && std::strcmp(key, "port") != 0;
        if (v || always) add(d, obj, key, v ? yyjson_val_mut_copy(d, v) : yyjson_mut_arr(d));
    }
    add(d, obj, "variable", yyjson_mut_arr(d));
    return obj;
}

Val *pair_list(Doc *d, const std::vector<std::pair<std::string, std::string>> &pairs) {
    Val *arr = yyjson_mut_arr(d);
    for (const auto &[key, value] : pairs) {
        Val *h = yyjson_mut_obj(d);
        add_str(d, h, "key", key);
        add_str(d, h, "value", value);
        yyjson_mut_arr_append(arr, h);
    }
    return arr;
}

Val *item_object(Doc *d, const PlannedItem &item) {
    Val *obj = yyjson_mut_obj(d);
    add_str(d, obj, "id", item.id);
    add_str(d, obj, "name", item.name);
    Val *request = yyjson_mut_obj(d);
    add(d, request, "url", url_object(d, item.url));
    add(d, request, "header", pair_list(d, item.headers));
    add_str(d, request, "method", item.method);
    add(d, obj, "request", request);
    add(d, obj, "response", yyjson_mut_arr(d));
    add(d, obj, "event", yyjson_mut_arr(d));
    return obj;
}

Val *cursor(Doc *d, const RunResult &run, const Execution &e) {
    Val *c = yyjson_mut_obj(d);
    std::size_t length = run.plan->items.size();
    yyjson_mut_obj_add_uint(d, c, "position", e.position);
    yyjson_mut_obj_add_int(d, c, "iteration", e.iteration);
    yyjson_mut_obj_add_uint(d, c, "length", length);
    yyjson_mut_obj_add_int(d, c, "cycles", run.iterations);
    yyjson_mut_obj_add_bool(d, c, "empty", length == 0);
    yyjson_mut_obj_add_bool(d, c, "eof", e.position + 1 == length);
    yyjson_mut_obj_add_bool(d, c, "bof", e.position == 0);
    yyjson_mut_obj_add_bool(d, c, "cr", false);
    yyjson_mut_obj_add_str(d, c, "ref", e.item->id.c_str());
    return c;
}

Val *error_object(Doc *d, const RunResult &run, const Execution &e) {
    Val *err = yyjson_mut_obj(d);
    std::string message = failure_message(run, e);
    if (e.completed) {
        yyjson_mut_obj_add_str(d, err, "name", "AssertionError");
        yyjson_mut_obj_add_int(d, err, "index", 0);
        add_str(d, err, "test", status_check_name(run));
    } else {
        yyjson_mut_obj_add_str(d, err, "name", "Error");
    }
    add_str(d, err, "message", message);
    add_str(d, err, "stack", (e.completed ? "AssertionError: " : "Error: ") + message);
    return err;
}

// A test that failed, or a script that threw, as newman's report has them.
Val *script_error_object(Doc *d, const std::string &name, const std::string &message, const ScriptTest *test) {
    Val *err = yyjson_mut_obj(d);
    add_str(d, err, "name", name);
    if (test) {
        yyjson_mut_obj_add_int(d, err, "index", test->index);
        add_str(d, err, "test", test->name);
    }
    add_str(d, err, "message", message);
    add_str(d, err, "stack", name + ": " + message);
    return err;
}

// Request-level failures: the transfer, or the --assert-status check.
bool request_failed(const Execution &e) { return !e.skipped && (!e.completed || !e.status_ok); }

Val *response_object(Doc *d, const Execution &e) {
    Val *r = yyjson_mut_obj(d);
    add_str(d, r, "id", e.item->id + "-" + std::to_string(e.iteration));
    add_str(d, r, "status", reason_phrase(e.status));
    yyjson_mut_obj_add_int(d, r, "code", e.status);
    std::vector<std::pair<std::string, std::string>> headers;
    JsonDoc parsed = parse_json(e.headers_json);
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(parsed.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        headers.emplace_back(yyjson_get_str(k), json_scalar_text(yyjson_obj_iter_get_val(k)));
    }
    add(d, r, "header", pair_list(d, headers));
    add(d, r, "cookie", yyjson_mut_arr(d));
    yyjson_mut_obj_add_int(d, r, "responseTime", std::llround(e.time_ms));
    yyjson_mut_obj_add_uint(d, r, "responseSize", e.size);
    return r;
}

Val *execution_object(Doc *d, const RunResult &run, const Execution &e) {
    Val *x = yyjson_mut_obj(d);
    add(d, x, "cursor", cursor(d, run, e));
    add(d, x, "item", item_object(d, *e.item));
    Val *request = yyjson_mut_obj(d);
    add(d, request, "url", url_object(d, e.url));
    add(d, request, "header", pair_list(d, e.item->headers));
    add_str(d, request, "method", e.item->method);
    add(d, x, "request", request);
    if (e.completed) add(d, x, "response", response_object(d, e));
    add_str(d, x, "id", e.item->id);
    Val *assertions = yyjson_mut_arr(d);
    if (e.asserted) {
        Val *a = yyjson_mut_obj(d);
        add_str(d, a, "assertion", status_check_name(run));
        yyjson_mut_obj_add_bool(d, a, "skipped", false);
        if (!e.status_ok) add(d, a, "error", error_object(d, run, e));
        yyjson_mut_arr_append(assertions, a);
    }
    for (const ScriptOutcome *out : {&e.before, &e.after}) {
        for (const ScriptTest &t : out->tests) {
            Val *a = yyjson_mut_obj(d);
            add_str(d, a, "assertion", t.name);
            yyjson_mut_obj_add_bool(d, a, "skipped", t.skipped);
            if (!t.passed && !t.skipped) add(d, a, "error", script_error_object(d, t.error_name, t.error, &t));
            yyjson_mut_arr_append(assertions, a);
        }
    }
    if (yyjson_mut_arr_size(assertions) > 0) add(d, x, "assertions", assertions);
    if (!e.completed) add(d, x, "requestError", error_object(d, run, e));
    return x;
}

Val *counter(Doc *d, long total, long pending, long failed) {
    Val *c = yyjson_mut_obj(d);
    yyjson_mut_obj_add_int(d, c, "total", total);
    yyjson_mut_obj_add_int(d, c, "pending", pending);
    yyjson_mut_obj_add_int(d, c, "failed", failed);
    return c;
}

Val *stats(Doc *d, const RunResult &run) {
    long n = static_cast<long>(run.executions.size());
    long request_errors = 0, checks = 0, check_failures = 0, failed = 0, failed_iterations = 0;
    int last_failed = -1;
    for (const Execution &e : run.executions) {
        request_errors += e.completed || e.skipped ? 0 : 1;
        checks += e.asserted ? 1 : 0;
        check_failures += e.status_ok ? 0 : 1;
        failed += e.failed() ? 1 : 0;
        if (request_failed(e) && e.iteration != last_failed) {
            ++failed_iterations;
            last_failed = e.iteration;
        }
    }
    ScriptCounts c = script_counts(run);
    checks += c.tests;
    check_failures += c.tests_failed;
    long planned = static_cast<long>(run.plan->items.size()) * run.iterations;
    Val *s = yyjson_mut_obj(d);
    add(d, s, "iterations", counter(d, run.iterations, run.iterations - run.iterations_run(), failed_iterations));
    add(d, s, "items", counter(d, n, planned - n, failed));
    add(d, s, "scripts", counter(d, 0, 0, 0));
    add(d, s, "prerequests", counter(d, n, 0, 0));
    add(d, s, "requests", counter(d, n, planned - n, request_errors));
    add(d, s, "tests", counter(d, n, 0, 0));
    add(d, s, "assertions", counter(d, checks, 0, check_failures));
    add(d, s, "testScripts", counter(d, c.test_scripts, 0, c.test_errors));
    add(d, s, "prerequestScripts", counter(d, c.pre_scripts, 0, c.pre_errors));
    return s;
}

// Average, minimum, maximum and standard deviation, under newman's names.
void add_spread(Doc *d, Val *obj, const char *prefix, const std::vector<double> &v) {
    double sum = 0, sq = 0, low = v.empty() ? 0 : v[0], high = 0;
    for (double x : v) {
        sum += x;
        sq += x * x;
        low = std::min(low, x);
        high = std::max(high, x);
    }
    double n = static_cast<double>(v.size());
    double mean = v.empty() ? 0 : sum / n;
    double sd = v.empty() ? 0 : std::sqrt(std::max(0.0, sq / n - mean * mean));
    const std::pair<const char *, double> members[] = {{"Average", mean}, {"Min", low}, {"Max", high}, {"Sd", sd}};
    for (const auto &[suffix, value] : members) {
        yyjson_mut_obj_add(obj, yyjson_mut_strcpy(d, (std::string(prefix) + suffix).c_str()), yyjson_mut_real(d, value));
    }
}

Val *timings(Doc *d, const RunResult &run) {
    std::vector<double> response, dns, first_byte;
    for (const Execution &e : run.executions) {
        if (!e.completed) continue;
        response.push_back(e.time_ms);
        dns.push_back(static_cast<double>(e.timing.dns) / 1000.0);
        first_byte.push_back(static_cast<double>(e.timing.wait) / 1000.0);
    }
    Val *t = yyjson_mut_obj(d);
    add_spread(d, t, "response", response);
    add_spread(d, t, "dns", dns);
    add_spread(d, t, "firstByte", first_byte);
    yyjson_mut_obj_add_int(d, t, "started", run.started_ms);
    yyjson_mut_obj_add_int(d, t, "completed", run.completed_ms);
    return t;
}

// An environment or globals listing in the format's variable-list shape.
Val *variable_list(Doc *d, const std::string &name, const std::string &flat_json) {
    Val *obj = yyjson_mut_obj(d);
    add_str(d, obj, "name", name);
    Val *values = yyjson_mut_arr(d);
    JsonDoc flat = parse_json(flat_json);
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(flat.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        Val *v = yyjson_mut_obj(d);
        add(d, v, "key", yyjson_val_mut_copy(d, k));
        add(d, v, "value", yyjson_val_mut_copy(d, yyjson_obj_iter_get_val(k)));
        yyjson_mut_obj_add_str(d, v, "type", "any");
        yyjson_mut_obj_add_bool(d, v, "enabled", true);
        yyjson_mut_arr_append(values, v);
    }
    add(d, obj, "values", values);
    return obj;
}

Val *collection(Doc *d, const RunPlan &plan) {
    yyjson_val *root = yyjson_doc_get_root(plan.collection.get());
    if (yyjson_is_obj(root) && yyjson_obj_get(root, "info")) return yyjson_val_mut_copy(d, root);
    Val *obj = yyjson_mut_obj(d);
    Val *info = yyjson_mut_obj(d);
    add_str(d, info, "name", plan.collection_name);
    add(d, obj, "info", info);
    add(d, obj, "item", yyjson_mut_arr(d));
    return obj;
}

class JsonReporter final : public Reporter {
public:
    explicit JsonReporter(std::string path) : path_(std::move(path)), file_(open_report_file(path_, "JSON report")) {}

    bool finish(const RunResult &run, std::string &why) override {
        JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
        Doc *d = doc.get();
        Val *root = yyjson_mut_obj(d);
        yyjson_mut_doc_set_root(d, root);
        add(d, root, "collection", collection(d, *run.plan));
        add(d, root, "environment", variable_list(d, "environment", run.environment_json));
        add(d, root, "globals", variable_list(d, "globals", run.globals_json));
        Val *r = yyjson_mut_obj(d);
        add(d, r, "stats", stats(d, run));
        add(d, r, "timings", timings(d, run));
        Val *executions = yyjson_mut_arr(d);
        Val *failures = yyjson_mut_arr(d);
        std::size_t received = 0;
        for (const Execution &e : run.executions) {
            yyjson_mut_arr_append(executions, execution_object(d, run, e));
            received += e.size;
            auto failure = [&](Val *error, const std::string &at) {
                Val *f = yyjson_mut_obj(d);
                add(d, f, "error", error);
                add_str(d, f, "at", at);
                add(d, f, "source", item_object(d, *e.item));
                add(d, f, "cursor", cursor(d, run, e));
                yyjson_mut_arr_append(failures, f);
            };
            for (const ScriptError &err : e.before.errors)
                failure(script_error_object(d, err.name, err.message, nullptr), "prerequest-script");
            if (request_failed(e))
                failure(error_object(d, run, e), e.completed ? "assertion:0 in status check" : "request");
            for (const ScriptTest &t : e.after.tests) {
                if (!t.passed && !t.skipped)
                    failure(script_error_object(d, t.error_name, t.error, &t), "assertion:" + std::to_string(t.index) + " in test-script");
            }
            for (const ScriptError &err : e.after.errors)
                failure(script_error_object(d, err.name, err.message, nullptr), "test-script");
        }
        add(d, r, "executions", executions);
        Val *transfers = yyjson_mut_obj(d);
        yyjson_mut_obj_add_uint(d, transfers, "responseTotal", received);
        add(d, r, "transfers", transfers);
        add(d, r, "failures", failures);
        add(d, r, "error", run.run_failed() ? str(d, run.stopped_because) : yyjson_mut_null(d));
        yyjson_mut_obj_add_int(d, r, "skippedScripts", run.plan->scripts_skipped);
        add(d, root, "run", r);

        // Text that is not UTF-8 (an odd error message) is written as it is
        // rather than losing the whole report.
        yyjson_write_err err{};
        bool written = yyjson_mut_write_fp(file_.get(), d, YYJSON_WRITE_PRETTY_TWO_SPACES | YYJSON_WRITE_ALLOW_INVALID_UNICODE,
                                           nullptr, &err);
        if (!written) why = "could not write the JSON report '" + path_ + "': " + (err.msg ? err.msg : "unknown error");
        return close_report_file(file_, path_, why) && written;
    }

private:
    std::string path_;
    FileHandle file_;
};

}  // namespace

std::unique_ptr<Reporter> make_json_reporter(const std::string &path) { return std::make_unique<JsonReporter>(path); }
