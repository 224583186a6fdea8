// One run's results as the reporters see them, and the reporter interface.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine_adapter.h"
#include "run_plan.h"
#include "run_scripts.h"
#include "terminal.h"

struct Execution {
    const PlannedItem *item = nullptr;
    int iteration = 0;          // from 0
    std::size_t position = 0;   // in the plan
    std::string url;            // as sent
    bool completed = false;     // the transfer completed, whatever the status
    std::string error;          // why it did not
    int status = 0;
    double time_ms = 0;
    std::size_t size = 0;       // body bytes
    std::string headers_json;   // response headers, the library's JSON
    Timing timing;
    bool asserted = false;      // --assert-status was given and the transfer completed
    bool status_ok = true;
    bool skipped = false;       // a pre-request script skipped the request
    ScriptOutcome before;       // its pre-request scripts
    ScriptOutcome after;        // its test scripts

    bool scripts_failed() const {
        bool failed = !before.errors.empty() || !after.errors.empty();
        for (const ScriptTest &t : after.tests) failed = failed || (!t.passed && !t.skipped);
        for (const ScriptTest &t : before.tests) failed = failed || (!t.passed && !t.skipped);
        return failed;
    }
    bool failed() const { return (!skipped && (!completed || !status_ok)) || scripts_failed(); }
};

struct RunResult {
    const RunPlan *plan = nullptr;
    int iterations = 1;           // asked for
    std::string assert_status;    // the --assert-status list, "" when none
    bool scripts_ran = false;     // the collection's scripts were run, not skipped
    std::string environment_json;  // the scopes at the end ({"name": value}), for the reports
    std::string globals_json;
    std::vector<Execution> executions;
    long long started_ms = 0;     // since the epoch
    long long completed_ms = 0;
    // Why the run ended before its last planned request, if it did: --bail
    // after a failed request (the failure itself decides the exit status), or
    // the run's time limit (a failure of the run).
    enum class Stop { none, bail, time_limit } stop = Stop::none;
    std::string stopped_because;  // its text; "" when every planned request ran
    bool run_failed() const { return stop == Stop::time_limit; }

    int iterations_run() const { return executions.empty() ? 0 : executions.back().iteration + 1; }
};

// Text of an execution's failure: the transfer error, the status check, or
// the first failed test or script.
std::string failure_message(const RunResult &run, const Execution &e);
// The run's scripts as the summaries count them: scripts run and those that
// threw, of each event, and the tests they made and failed.
struct ScriptCounts {
    int test_scripts = 0, test_errors = 0, pre_scripts = 0, pre_errors = 0, tests = 0, tests_failed = 0;
};
ScriptCounts script_counts(const RunResult &run);
// Name of the status check, "status in 2xx,3xx".
std::string status_check_name(const RunResult &run);

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void start(const RunResult &) {}
    virtual void iteration(const RunResult &, int) {}
    virtual void executed(const RunResult &, const Execution &) {}
    // Writes the report; false with `why` set when it could not.
    virtual bool finish(const RunResult &run, std::string &why) = 0;
};

struct CliReporterOptions {
    Style style;
    bool verbose = false;
    bool no_summary = false;
    bool no_failures = false;
    bool no_banner = false;
};

std::unique_ptr<Reporter> make_cli_reporter(const CliReporterOptions &options);
// The file reporters open their file at once, so that an unwritable path
// stops the run before it starts (a usage error).
std::unique_ptr<Reporter> make_json_reporter(const std::string &path);
std::unique_ptr<Reporter> make_junit_reporter(const std::string &path);
