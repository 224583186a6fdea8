// quorvane run: every selected request of a collection, iteration after
// iteration, reported as it completes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <thread>

#include <strings.h>
#include <unistd.h>

#include "cli_error.h"
#include "commands.h"
#include "cookie_jar.h"
#include "iteration_data.h"
#include "json_doc.h"
#include "paths.h"
#include "report_file.h"
#include "quorvane_apiclient.h"
#include "run_report.h"

namespace {

using Clock = std::chrono::steady_clock;

long long epoch_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Status ranges of --assert-status: "2xx", "404", "200-299", comma-separated.
struct StatusRange {
    int low;
    int high;
};

bool parse_code(const std::string &text, int &out) {
    if (text.size() != 3) return false;
    out = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return out >= 100;
}

std::vector<StatusRange> parse_status_list(const std::string &list) {
    std::vector<StatusRange> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::string part = list.substr(start, comma == std::string::npos ? comma : comma - start);
        while (!part.empty() && part.front() == ' ') part.erase(0, 1);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        StatusRange range{};
        std::size_t dash = part.find('-');
        bool ok;
        if (part.size() == 3 && (part[1] == 'x' || part[1] == 'X') && (part[2] == 'x' || part[2] == 'X') &&
            part[0] >= '1' && part[0] <= '5') {
            range = {(part[0] - '0') * 100, (part[0] - '0') * 100 + 99};
            ok = true;
        } else if (dash != std::string::npos) {
            ok = parse_code(part.substr(0, dash), range.low) && parse_code(part.substr(dash + 1), range.high) &&
                 range.low <= range.high;
        } else {
            ok = parse_code(part, range.low);
            range.high = range.low;
        }
        if (!ok)
            usage_error("--assert-status: '" + part + "' is not a status (404), a class (2xx) or a range (200-299)");
        out.push_back(range);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

bool in_ranges(int status, const std::vector<StatusRange> &ranges) {
    for (const StatusRange &r : ranges) {
        if (status >= r.low && status <= r.high) return true;
    }
    return false;
}

// newman's default report name, in a newman/ folder of the working directory.
std::string default_report_path(const char *extension) {
    auto now = std::chrono::system_clock::now();
    std::time_t secs = std::chrono::system_clock::to_time_t(now);
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&secs, &tm);
    char name[96];
    std::snprintf(name, sizeof name, "newman/newman-run-report-%04d-%02d-%02d-%02d-%02d-%02d-%03lld-0.%s",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms, extension);
    return name;
}

std::vector<std::unique_ptr<Reporter>> make_reporters(const RunOptions &o) {
    std::vector<std::unique_ptr<Reporter>> out;
    bool cli = false, json = false, junit = false;
    for (const std::string &name : o.reporters) {
        if (name == "cli") {
            cli = true;
        } else if (name == "json") {
            json = true;
        } else if (name == "junit") {
            junit = true;
        }
    }
    if (cli && !o.silent) {
        CliReporterOptions c;
        c.style.color = use_color(o.color, stdout);
        c.style.unicode = !o.disable_unicode;
        c.verbose = o.verbose;
        c.no_summary = o.cli_no_summary;
        c.no_failures = o.cli_no_failures;
        c.no_banner = o.cli_no_banner;
        out.push_back(make_cli_reporter(c));
    }
    if (json) out.push_back(make_json_reporter(o.json_export.empty() ? default_report_path("json") : o.json_export));
    if (junit) out.push_back(make_junit_reporter(o.junit_export.empty() ? default_report_path("xml") : o.junit_export));
    return out;
}

// Whole seconds for the library, rounded up: 1500 ms allows 2 s. 0 stays "no limit".
int seconds_for(long ms) { return ms <= 0 ? 0 : static_cast<int>((ms + 999) / 1000); }

// The config with what the pre-request scripts changed of the request.
std::string with_changes(const std::string &config, const ScriptOutcome &before) {
    if (before.set_headers.empty() && before.removed_headers.empty() && before.url.empty() && before.method.empty())
        return config;
    JsonDoc doc = parse_json(config);
    JsonMutDoc out(yyjson_doc_mut_copy(doc.get(), nullptr));
    yyjson_mut_doc *d = out.get();
    yyjson_mut_val *root = yyjson_mut_doc_get_root(d);
    yyjson_mut_val *headers = yyjson_mut_obj_get(root, "headers");
    if (!yyjson_mut_is_obj(headers)) {
        yyjson_mut_obj_remove_key(root, "headers");
        headers = yyjson_mut_obj_add_obj(d, root, "headers");
    }
    auto remove = [&](const std::string &name) {
        for (bool found = true; found;) {
            found = false;
            yyjson_mut_obj_iter it = yyjson_mut_obj_iter_with(headers);
            for (yyjson_mut_val *k; (k = yyjson_mut_obj_iter_next(&it));) {
                if (strcasecmp(yyjson_mut_get_str(k), name.c_str()) == 0) {
                    yyjson_mut_obj_iter_remove(&it);
                    found = true;
                    break;
                }
            }
        }
    };
    for (const std::string &name : before.removed_headers) remove(name);
    for (const auto &[name, value] : before.set_headers) {
        remove(name);
        yyjson_mut_obj_add_strcpy(d, headers, name.c_str(), value.c_str());
    }
    for (const auto &[key, value] : {std::pair{"url", &before.url}, std::pair{"method", &before.method}}) {
        if (value->empty()) continue;
        yyjson_mut_obj_remove_key(root, key);
        yyjson_mut_obj_add_strcpy(d, root, key, value->c_str());
    }
    return json_write(d);
}

Execution send(const PlannedItem &item, const TransferSettings &settings, const std::vector<StatusRange> &ranges,
               const ScriptOutcome &before) {
    Execution e;
    e.item = &item;
    std::string config = with_changes(request_config(item, settings), before);
    e.completed = api_request(config.c_str()) == 1;
    if (!e.completed) e.error = api_last_error();
    // What went out, as the library expanded it; the item's own text when
    // nothing did.
    e.url = sent_url();
    if (e.url.empty()) e.url = item.url;
    e.status = api_response_status();
    e.timing = response_timing();
    e.time_ms = static_cast<double>(e.timing.total) / 1000.0;
    e.size = response_bytes().size();
    e.headers_json = api_response_headers_json();
    e.asserted = e.completed && !ranges.empty();
    e.status_ok = !e.asserted || in_ranges(e.status, ranges);
    return e;
}

// A TLS file named on the command line: unreadable is a bad argument, not a
// failure of every request.
void require_readable(const char *flag, const std::string &path) {
    if (path.empty()) return;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) usage_error(std::string("cannot read ") + flag + " '" + path + "': " + std::strerror(errno));
    std::fclose(f);
}

// --export-environment and --export-globals: the variables as a Postman
// environment file: the values the scripts left, or those given.
void export_variables(const std::string &path, const std::string &flat_json, const char *scope, std::string &why) {
    JsonDoc flat = parse_json(flat_json);
    JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    yyjson_mut_obj_add_str(d, root, "name", scope);
    yyjson_mut_val *values = yyjson_mut_obj_add_arr(d, root, "values");
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(flat.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        yyjson_mut_val *v = yyjson_mut_arr_add_obj(d, values);
        yyjson_mut_obj_add_val(d, v, "key", yyjson_val_mut_copy(d, k));
        yyjson_mut_obj_add_val(d, v, "value", yyjson_val_mut_copy(d, yyjson_obj_iter_get_val(k)));
        yyjson_mut_obj_add_str(d, v, "type", "default");
        yyjson_mut_obj_add_bool(d, v, "enabled", true);
    }
    yyjson_mut_obj_add_str(d, root, "_postman_variable_scope", scope);
    std::FILE *f = std::fopen(path.c_str(), "w");
    bool ok = f && std::fputs(json_write(d, true).c_str(), f) >= 0;
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) why = "could not write '" + path + "'";
}

}  // namespace

std::string status_check_name(const RunResult &run) { return "status in " + run.assert_status; }

std::string failure_message(const RunResult &run, const Execution &e) {
    if (!e.completed) return e.error;
    if (!e.status_ok) return "expected status in " + run.assert_status + ", got " + std::to_string(e.status);
    // Else the first script that failed: a test, or a script that threw.
    for (const ScriptOutcome *out : {&e.before, &e.after}) {
        for (const ScriptTest &t : out->tests) {
            if (!t.passed && !t.skipped) return t.name + ": " + t.error;
        }
        for (const ScriptError &err : out->errors) return err.name + " in " + err.listen + "-script: " + err.message;
    }
    return "";
}

ScriptCounts script_counts(const RunResult &run) {
    ScriptCounts c;
    for (const Execution &e : run.executions) {
        c.pre_scripts += e.before.scripts;
        c.pre_errors += static_cast<int>(e.before.errors.size());
        c.test_scripts += e.after.scripts;
        c.test_errors += static_cast<int>(e.after.errors.size());
        for (const ScriptOutcome *out : {&e.before, &e.after}) {
            for (const ScriptTest &t : out->tests) {
                c.tests += 1;
                c.tests_failed += !t.passed && !t.skipped ? 1 : 0;
            }
        }
    }
    return c;
}

int run_command(const RunOptions &o) {
    if (o.iterations < 1) usage_error("--iteration-count must be at least 1");
    if (o.delay_ms < 0 || o.timeout_request_ms < 0 || o.timeout_run_ms < 0 || o.timeout_script_ms < 0 ||
        o.timeout_script_ms > 86400000)
        usage_error("--delay-request, --timeout-request, --timeout-script and --timeout take milliseconds, 0 or more "
                    "(--timeout-script at most a day)");
    check_response_limit(o.max_response_size, "--max-response-size");
    std::vector<StatusRange> ranges;
    if (!o.assert_status.empty()) ranges = parse_status_list(o.assert_status);
    std::vector<DataRow> rows;
    if (!o.iteration_data.empty()) rows = load_iteration_data(o.iteration_data);
    int iterations = o.iterations_given || rows.empty() ? o.iterations : static_cast<int>(rows.size());
    for (const std::string &name : o.reporters) {
        if (name != "cli" && name != "json" && name != "junit" && !name.empty())
            usage_error("unknown reporter '" + name + "' (quorvane has cli, json and junit)");
    }
    require_readable("--ssl-client-cert", o.ssl_client_cert);
    require_readable("--ssl-extra-ca-certs", o.ssl_extra_ca_certs);
    require_readable("--ssl-client-key", o.ssl_client_key);
    RunPlan plan = load_plan(o.plan);
    apply_response_limit(o.max_response_size);
    // One cookie jar for the run, as newman keeps.
    if (!api_configure(R"({"cookies":true})")) fail(exit_failed, api_last_error());
    if (!o.cookie_jar.empty()) load_cookie_jar(o.cookie_jar);
    // Opened only once the inputs are known good: a bad collection leaves the
    // last run's reports as they were.
    std::vector<std::unique_ptr<Reporter>> reporters = make_reporters(o);
    // Every input is read and every report file open: relative paths in
    // file bodies now resolve against the working directory, as newman's.
    // The exports, written later, keep the meaning they had on the command line.
    std::string export_environment = absolute_path(o.export_environment);
    std::string export_globals = absolute_path(o.export_globals);
    std::string export_collection = absolute_path(o.export_collection);
    std::string export_jar = absolute_path(o.export_cookie_jar);
    TransferSettings transfer{0, o.insecure, !o.ignore_redirects, absolute_path(o.ssl_client_cert),
                              absolute_path(o.ssl_client_key), absolute_path(o.ssl_extra_ca_certs)};
    if (!o.working_dir.empty() && chdir(o.working_dir.c_str()) != 0)
        usage_error("cannot use --working-dir '" + o.working_dir + "': " + std::strerror(errno));
    if (o.no_insecure_file_read && !api_configure(R"({"body_files_dir":"."})")) fail(exit_failed, api_last_error());
    std::string script_limit = "{\"timeout_script_ms\":" + std::to_string(o.timeout_script_ms) + "}";
    if (!api_configure(script_limit.c_str())) fail(exit_failed, api_last_error());
    RunScripts scripts(plan);
    if (scripts.any()) plan.scripts_skipped = 0;
    if (plan.scripts_skipped > 0 && !o.silent) {
        std::fprintf(stderr, "quorvane: %d script%s skipped: pre-request and test scripts are not run\n",
                     plan.scripts_skipped, plan.scripts_skipped == 1 ? "" : "s");
    }
    RunResult run;
    run.plan = &plan;
    run.iterations = iterations;
    run.assert_status = o.assert_status;
    run.scripts_ran = scripts.any();
    run.executions.reserve(plan.items.size() * static_cast<std::size_t>(iterations));
    run.started_ms = epoch_ms();
    for (auto &r : reporters) r->start(run);

    Clock::time_point started = Clock::now();
    bool first = true;
    for (int iteration = 0; iteration < iterations && run.stop == RunResult::Stop::none; ++iteration) {
        // Iterations past the data's last row take the last row, as newman's do.
        std::size_t row = std::min(static_cast<std::size_t>(iteration), rows.empty() ? 0 : rows.size() - 1);
        DataScope data(rows.empty() ? nullptr : &rows[row]);
        scripts.set_iteration(iteration, iterations, rows.empty() ? nullptr : &rows[row]);
        for (auto &r : reporters) r->iteration(run, iteration);
        for (std::size_t i = 0, next = 1; i < plan.items.size(); i = next) {
            next = i + 1;
            if (!first && o.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(o.delay_ms));
            first = false;
            int timeout_s = seconds_for(o.timeout_request_ms);
            if (o.timeout_run_ms > 0) {
                long left = o.timeout_run_ms -
                            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
                if (left <= 0) {
                    run.stop = RunResult::Stop::time_limit;
                    run.stopped_because = "the run's time limit (--timeout " + std::to_string(o.timeout_run_ms) + " ms) ran out";
                    break;
                }
                if (timeout_s == 0 || seconds_for(left) < timeout_s) timeout_s = seconds_for(left);
            }
            transfer.timeout_s = timeout_s;
            const PlannedItem &item = plan.items[i];
            ScriptOutcome before = scripts.any() ? scripts.before(item) : ScriptOutcome{};
            Execution e;
            if (before.skip_request) {
                e.item = &item;
                e.skipped = true;
            } else {
                e = send(item, transfer, ranges, before);
                if (scripts.any()) {
                    ScriptResponse response{e.status, e.headers_json, std::string(response_bytes()), e.time_ms};
                    e.after = scripts.after(item, e.completed ? &response : nullptr);
                }
            }
            e.before = std::move(before);
            e.iteration = iteration;
            e.position = i;
            // postman.setNextRequest: the request of that name (or id) is next;
            // null, or a name no request has, ends the iteration.
            for (const ScriptOutcome *o2 : {&e.before, &e.after}) {
                if (!o2->next_set) continue;
                next = plan.items.size();
                for (std::size_t k = 0; !o2->next_null && k < plan.items.size(); ++k) {
                    if (plan.items[k].name == o2->next || plan.items[k].id == o2->next) {
                        next = k;
                        break;
                    }
                }
            }
            run.executions.push_back(std::move(e));
            for (auto &r : reporters) r->executed(run, run.executions.back());
            if (o.bail && run.executions.back().failed()) {
                run.stop = RunResult::Stop::bail;
                run.stopped_because = "--bail: stopped at the first failure";
                break;
            }
        }
    }
    run.completed_ms = epoch_ms();
    // What the scripts left, or the values given when none ran.
    run.environment_json = scripts.any() ? scripts.environment_json() : plan.environment_json;
    run.globals_json = scripts.any() ? scripts.globals_json() : plan.globals_json;

    // -x hides failed requests from the exit status, never a report that
    // could not be written.
    bool failed = run.run_failed();
    for (const Execution &e : run.executions) failed = failed || e.failed();
    int status = failed && !o.suppress_exit_code ? exit_failed : exit_ok;
    for (auto &r : reporters) {
        std::string why;
        if (!r->finish(run, why)) {
            std::fprintf(stderr, "quorvane run: %s\n", why.c_str());
            status = exit_failed;
        }
    }
    std::string why;
    if (!export_environment.empty()) export_variables(export_environment, run.environment_json, "environment", why);
    if (!export_globals.empty()) export_variables(export_globals, run.globals_json, "globals", why);
    if (!export_collection.empty() && !api_export_postman_full(export_collection.c_str())) why = api_last_error();
    if (!export_jar.empty()) export_cookie_jar(export_jar, why);
    if (!why.empty()) {
        std::fprintf(stderr, "quorvane run: %s\n", why.c_str());
        status = exit_failed;
    }
    api_cleanup();
    return status;
}
