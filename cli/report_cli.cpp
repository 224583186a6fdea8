// The cli reporter: each request as it completes, then a summary table and
// the failures, in the layout newman's users read.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "json_doc.h"
#include "run_report.h"

namespace {

struct Box {
    const char *h, *v, *tl, *tm, *tr, *ml, *mm, *mr, *bl, *bm, *br;
};
constexpr Box unicode_box{"─", "│", "┌", "┬", "┐", "├", "┼", "┤", "└", "┴", "┘"};
constexpr Box ascii_box{"-", "|", "+", "+", "+", "+", "+", "+", "+", "+", "+"};

std::string repeat(const char *s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

std::string pad_left(const std::string &s, std::size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string pad_right(const std::string &s, std::size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

class CliReporter final : public Reporter {
public:
    explicit CliReporter(const CliReporterOptions &o) : o_(o), box_(o.style.unicode ? unicode_box : ascii_box) {}

    void start(const RunResult &run) override {
        if (!o_.no_banner) std::printf("quorvane\n\n");
        std::printf("%s\n\n", run.plan->collection_name.c_str());
        std::fflush(stdout);
    }

    void iteration(const RunResult &run, int index) override {
        if (run.iterations > 1) std::printf("%s\n\n", o_.style.gray("Iteration " + std::to_string(index + 1) + "/" +
                                                                    std::to_string(run.iterations)).c_str());
        folder_.clear();
    }

    void executed(const RunResult &run, const Execution &e) override {
        const Style &s = o_.style;
        const PlannedItem &item = *e.item;
        if (item.folder != folder_) {
            if (!item.folder.empty()) std::printf("%s %s\n", s.pick("❏", "[+]"), s.bold(item.folder).c_str());
            folder_ = item.folder;
        }
        std::printf("%s %s\n", s.pick("→", "->"), item.name.c_str());
        scripts(e.before);
        if (e.skipped) {
            std::printf("\n");
            std::fflush(stdout);
            return;
        }
        std::string line = "  " + item.method + " " + e.url + " ";
        if (!e.completed || !e.status_ok) ++numbered_;  // listed among the failures
        if (!e.completed) {
            std::printf("%s%s\n     %s\n", s.gray(line).c_str(), s.red("[errored]").c_str(), s.red(e.error).c_str());
        } else {
            std::string status = std::to_string(e.status);
            if (const char *phrase = reason_phrase(e.status); *phrase) status += std::string(" ") + phrase;
            std::string detail = "[" + status + ", " + format_size(e.size) + ", " + format_ms(e.time_ms) + "]";
            std::printf("%s%s\n", s.gray(line).c_str(), e.status_ok ? detail.c_str() : s.red(detail).c_str());
        }
        if (e.asserted) {
            std::string check = status_check_name(run);
            if (e.status_ok) {
                std::printf("  %s  %s\n", s.green(s.pick("✓", "ok")).c_str(), s.gray(check).c_str());
            } else {
                std::printf("  %s  %s\n", s.red(s.pick("✗", "x ")).c_str(), s.red(failure_message(run, e)).c_str());
            }
        }
        scripts(e.after);
        if (o_.verbose) verbose(e);
        std::printf("\n");
        std::fflush(stdout);
    }

    bool finish(const RunResult &run, std::string &) override {
        if (!o_.no_summary) summary(run);
        if (!o_.no_failures) failures(run);
        if (!run.stopped_because.empty()) std::printf("quorvane: run stopped: %s\n", run.stopped_because.c_str());
        std::fflush(stdout);
        return true;
    }

private:
    // Tests, console lines and script errors, numbered with the run's failures.
    void scripts(const ScriptOutcome &out) {
        const Style &s = o_.style;
        for (const ScriptTest &t : out.tests) {
            if (t.skipped) {
                std::printf("  %s  %s\n", s.gray("-").c_str(), s.gray(t.name).c_str());
            } else if (t.passed) {
                std::printf("  %s  %s\n", s.green(s.pick("✓", "ok")).c_str(), s.gray(t.name).c_str());
            } else {
                std::printf("  %s %s\n", s.red(std::to_string(++numbered_) + ".").c_str(), s.red(t.name).c_str());
            }
        }
        for (const std::string &text : out.console) {
            std::printf("  %s\n", s.gray(box_.tl).c_str());
            for (std::size_t start = 0;;) {
                std::size_t end = text.find('\n', start);
                std::printf("  %s %s\n", s.gray(box_.v).c_str(), text.substr(start, end - start).c_str());
                if (end == std::string::npos) break;
                start = end + 1;
            }
            std::printf("  %s\n", s.gray(box_.bl).c_str());
        }
        for (const ScriptError &err : out.errors) {
            std::string mark = std::to_string(++numbered_) + s.pick("⠄", ".");
            std::printf("  %s %s\n", s.red(mark).c_str(), s.red(err.name + " in " + err.listen + "-script").c_str());
        }
    }

    void verbose(const Execution &e) {
        const Style &s = o_.style;
        for (const auto &[name, value] : e.item->headers) std::printf("  %s\n", s.gray("> " + name + ": " + value).c_str());
        JsonDoc headers = parse_json(e.headers_json);
        yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(headers.get()));
        for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
            std::string text = std::string("< ") + yyjson_get_str(k) + ": " + json_scalar_text(yyjson_obj_iter_get_val(k));
            std::printf("  %s\n", s.gray(text).c_str());
        }
        if (!e.completed) return;
        const Timing &t = e.timing;
        auto ms = [](long long us) { return format_ms(static_cast<double>(us) / 1000.0); };
        std::printf("  %s\n", s.gray("dns " + ms(t.dns) + ", connect " + ms(t.connect) + ", tls " + ms(t.tls) + ", wait " +
                                     ms(t.wait) + ", download " + ms(t.download) + ", total " + ms(t.total))
                                  .c_str());
    }

    void row_line(const char *left, const char *mid, const char *right, const std::size_t (&w)[3]) {
        std::printf("%s%s%s%s%s%s%s\n", left, repeat(box_.h, w[0]).c_str(), mid, repeat(box_.h, w[1]).c_str(), mid,
                    repeat(box_.h, w[2]).c_str(), right);
    }

    void summary(const RunResult &run) {
        int requests = 0, request_failures = 0, checks = 0, check_failures = 0, failed_iterations = 0;
        int last_failed_iteration = -1;
        double sum = 0, sum_sq = 0, low = 0, high = 0;
        int timed = 0;
        std::size_t received = 0;
        for (const Execution &e : run.executions) {
            if (e.skipped) continue;
            ++requests;
            request_failures += e.completed ? 0 : 1;
            checks += e.asserted ? 1 : 0;
            check_failures += e.status_ok ? 0 : 1;
            // As newman counts: a failed request fails its iteration, a failed test does not.
            if ((!e.completed || !e.status_ok) && e.iteration != last_failed_iteration) {
                ++failed_iterations;
                last_failed_iteration = e.iteration;
            }
            if (!e.completed) continue;
            received += e.size;
            low = timed++ == 0 ? e.time_ms : std::min(low, e.time_ms);
            high = std::max(high, e.time_ms);
            sum += e.time_ms;
            sum_sq += e.time_ms * e.time_ms;
        }
        std::vector<std::vector<std::string>> rows = {
            {"iterations", std::to_string(run.iterations_run()), std::to_string(failed_iterations)},
            {"requests", std::to_string(requests), std::to_string(request_failures)},
        };
        if (!run.assert_status.empty())
            rows.push_back({"status checks", std::to_string(checks), std::to_string(check_failures)});
        if (run.scripts_ran) {
            ScriptCounts c = script_counts(run);
            rows.push_back({"test-scripts", std::to_string(c.test_scripts), std::to_string(c.test_errors)});
            rows.push_back({"prerequest-scripts", std::to_string(c.pre_scripts), std::to_string(c.pre_errors)});
            rows.push_back({"assertions", std::to_string(c.tests), std::to_string(c.tests_failed)});
        } else {
            rows.push_back({"scripts skipped", std::to_string(run.plan->scripts_skipped), ""});
        }

        int completed = requests - request_failures;
        double mean = completed > 0 ? sum / completed : 0;
        double sd = completed > 0 ? std::sqrt(std::max(0.0, sum_sq / completed - mean * mean)) : 0;
        std::vector<std::string> notes = {
            "total run duration: " + format_ms(static_cast<double>(run.completed_ms - run.started_ms)),
            "total data received: " + format_size(received) + " (approx)",
            "average response time: " + format_ms(mean) + " [min: " + format_ms(low) + ", max: " + format_ms(high) +
                ", s.d.: " + format_ms(sd) + "]",
        };

        std::size_t w[3] = {17, 10, 10};
        for (const auto &r : rows) {
            for (int c = 0; c < 3; ++c) w[c] = std::max(w[c], r[static_cast<std::size_t>(c)].size() + 2);
        }
        std::size_t inner = w[0] + w[1] + w[2] + 2;
        for (const std::string &n : notes) inner = std::max(inner, n.size() + 2);
        // Extra width goes to all three columns alike, as in newman's table.
        std::size_t extra = inner - (w[0] + w[1] + w[2] + 2);
        w[1] += extra / 3;
        w[2] += extra / 3;
        w[0] = inner - w[1] - w[2] - 2;

        row_line(box_.tl, box_.tm, box_.tr, w);
        std::printf("%s%s%s%s%s%s%s\n", box_.v, std::string(w[0], ' ').c_str(), box_.v,
                    pad_left("executed ", w[1]).c_str(), box_.v, pad_left("failed ", w[2]).c_str(), box_.v);
        for (const auto &r : rows) {
            row_line(box_.ml, box_.mm, box_.mr, w);
            std::string failed = r[2].empty() || r[2] == "0" ? r[2] : o_.style.red(r[2]);
            std::size_t failed_pad = w[2] - 1 - r[2].size();
            std::printf("%s%s%s%s%s%s%s %s\n", box_.v, pad_left(r[0] + " ", w[0]).c_str(), box_.v,
                        pad_left(r[1] + " ", w[1]).c_str(), box_.v, std::string(failed_pad, ' ').c_str(), failed.c_str(),
                        box_.v);
        }
        row_line(box_.ml, box_.bm, box_.mr, w);
        for (std::size_t i = 0; i < notes.size(); ++i) {
            if (i > 0) std::printf("%s%s%s\n", box_.ml, repeat(box_.h, inner).c_str(), box_.mr);
            std::printf("%s%s%s\n", box_.v, pad_right(" " + notes[i], inner).c_str(), box_.v);
        }
        std::printf("%s%s%s\n", box_.bl, repeat(box_.h, inner).c_str(), box_.br);
    }

    void failures(const RunResult &run) {
        int n = 0;
        auto entry = [&](const std::string &kind, const std::string &first, const std::vector<std::string> &lines) {
            if (n == 0) std::printf("\n%s\n", o_.style.red("  #  failure         detail").c_str());
            ++n;
            std::printf("\n%s  %-14s  %s\n", pad_left(std::to_string(n) + ".", 3).c_str(), kind.c_str(), first.c_str());
            for (const std::string &line : lines) std::printf("%s%s\n", std::string(21, ' ').c_str(), line.c_str());
        };
        for (const Execution &e : run.executions) {
            std::string inside = "inside \"" + (e.item->folder.empty() ? "" : slashed(e.item->folder) + " / ") + e.item->name + "\"";
            std::string iteration = run.iterations > 1 ? ", iteration " + std::to_string(e.iteration + 1) : "";
            for (const ScriptError &err : e.before.errors) entry(err.name, "", {err.message, "at prerequest-script", inside + iteration});
            if (!e.skipped && (!e.completed || !e.status_ok)) {
                std::string where = "at request \"" + e.item->name + "\"";
                if (!e.item->folder.empty()) where += " inside \"" + e.item->folder + "\"";
                entry(e.completed ? "StatusCheck" : "RequestError", failure_message(run, e), {where + iteration});
            }
            for (const ScriptTest &t : e.after.tests) {
                if (t.passed || t.skipped) continue;
                entry(t.error_name, t.name, {t.error, "at assertion:" + std::to_string(t.index) + " in test-script", inside + iteration});
            }
            for (const ScriptError &err : e.after.errors) entry(err.name, "", {err.message, "at test-script", inside + iteration});
        }
        if (n > 0) std::printf("\n");
    }

    // "a/b" as newman names a folder path: "a / b".
    static std::string slashed(const std::string &folder) {
        std::string out;
        for (char c : folder) out += c == '/' ? std::string(" / ") : std::string(1, c);
        return out;
    }

    int numbered_ = 0;  // failures numbered so far, as the summary will list them
    CliReporterOptions o_;
    Box box_;
    std::string folder_;
};

}  // namespace

std::unique_ptr<Reporter> make_cli_reporter(const CliReporterOptions &options) {
    return std::make_unique<CliReporter>(options);
}
