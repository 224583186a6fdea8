// The commands of the program; each returns its exit status or throws CliError.
#pragma once

#include <string>
#include <vector>

#include "run_plan.h"
#include "terminal.h"

struct RunOptions {
    PlanOptions plan;
    std::string iteration_data;
    int iterations = 1;
    bool iterations_given = false;  // else one iteration per data row
    long delay_ms = 0;
    long timeout_request_ms = 0;  // 0: no limit, as newman
    long timeout_script_ms = 0;   // each script; 0: no limit, as newman
    long timeout_run_ms = 0;
    bool insecure = false;
    std::string ssl_client_cert;
    std::string ssl_extra_ca_certs;
    std::string ssl_client_key;
    bool ignore_redirects = false;
    bool bail = false;
    bool suppress_exit_code = false;
    std::vector<std::string> reporters{"cli"};
    std::string json_export;
    std::string junit_export;
    ColorMode color = ColorMode::auto_detect;
    bool verbose = false;
    bool silent = false;
    bool disable_unicode = false;
    bool cli_no_summary = false;
    bool cli_no_failures = false;
    bool cli_no_banner = false;
    std::string assert_status;
    std::string export_environment;
    std::string export_globals;
    std::string export_collection;
    std::string working_dir;
    bool no_insecure_file_read = false;  // body files only from the working directory
    long long max_response_size = 0;  // bytes; 0: no limit
    std::string cookie_jar;           // newman's jar file to start from
    std::string export_cookie_jar;
};
int run_command(const RunOptions &options);

struct RequestOptions {
    std::vector<std::string> words;  // [METHOD] URL
    std::vector<std::string> headers;
    std::string data;
    std::string json;
    std::vector<std::string> form;
    std::string data_file;
    std::string auth;
    std::string environment;
    std::vector<std::string> env_vars;
    double timeout_s = 0;  // 0: the library's default
    long long max_filesize = 0;  // bytes; 0: no limit
    bool insecure = false;
    bool no_follow = false;
    bool include = false;
    bool timing = false;
    std::string query;
    std::string output;
    bool no_history = false;
    ColorMode color = ColorMode::auto_detect;
};
int request_command(const RequestOptions &options);

// Sets the library's response limit from a command's option (0: none); a
// negative count is a usage error.
void check_response_limit(long long bytes, const char *flag);
void apply_response_limit(long long bytes);

int import_command(const std::string &postman_file, const std::string &output, const std::string &variables_out);
int export_command(const std::string &collection_file, const std::string &output);
int history_command(int limit, bool json);
