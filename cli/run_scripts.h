// The pre-request and test scripts of `quorvane run`, run by the library as
// newman runs them, over the variable scopes newman keeps: globals, the
// collection's, the environment, the iteration's data and the scripts' own
// locals. The library's environment is kept as their merge, so that each
// request expands what the scripts left.
#pragma once

#include <string>
#include <vector>

#include "iteration_data.h"
#include "run_plan.h"

struct ScriptTest {
    std::string name;
    bool passed = true;
    bool skipped = false;
    std::string error;       // chai's words
    std::string error_name;  // "AssertionError", "TypeError"
    int index = 0;           // of the test within its script, from 0
};

// A script that threw.
struct ScriptError {
    std::string listen;  // "prerequest" or "test"
    std::string name;    // ReferenceError
    std::string message;
};

struct ScriptOutcome {
    int scripts = 0;  // run, of this event
    std::vector<ScriptTest> tests;
    std::vector<ScriptError> errors;
    std::vector<std::string> console;
    // What pre-request scripts changed of the request (pm.request): header
    // values set (name, value) and names removed, a new URL or method ("" when unchanged).
    std::vector<std::pair<std::string, std::string>> set_headers;
    std::vector<std::string> removed_headers;
    std::string url, method;
    bool skip_request = false;
    bool next_set = false;  // setNextRequest was called
    bool next_null = false;  // ... with null: the run stops after this request
    std::string next;       // ... with this name or id
};

// What the test scripts see of the response.
struct ScriptResponse {
    int code = 0;
    std::string headers_json;  // the library's headers JSON
    std::string body;
    double time_ms = 0;
};

class RunScripts {
public:
    explicit RunScripts(const RunPlan &plan);

    bool any() const { return any_; }
    void set_iteration(int iteration, int count, const DataRow *row);
    // Runs the item's pre-request scripts, then puts the scopes' merge into
    // the library's environment.
    ScriptOutcome before(const PlannedItem &item);
    // Runs its test scripts; `response` is null when none came.
    ScriptOutcome after(const PlannedItem &item, const ScriptResponse *response);

    // The scopes as newman exports them after the run: {"name": value}.
    std::string environment_json() const { return object_of(environment_); }
    std::string globals_json() const { return object_of(globals_); }

private:
    struct Var {
        std::string key;
        std::string value_json;  // a JSON value
    };
    using Scope = std::vector<Var>;

    static std::string object_of(const Scope &scope);
    ScriptOutcome run(const PlannedItem &item, const char *listen, const ScriptResponse *response);
    void sync_library() const;

    const RunPlan &plan_;
    bool any_ = false;
    Scope globals_, collection_, environment_, local_;
    const DataRow *row_ = nullptr;
    int iteration_ = 0, iterations_ = 1;
};
