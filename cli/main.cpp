// quorvane: the command-line host of the engine.
#include <cstdio>
#include <exception>
#include <map>

#include <CLI/CLI.hpp>

#include "cli_error.h"
#include "commands.h"
#include "help_text.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "0.0.0"
#endif

namespace {

const std::map<std::string, ColorMode> color_modes = {
    {"on", ColorMode::on}, {"off", ColorMode::off}, {"auto", ColorMode::auto_detect}};

// The help shows an option's type as written: a validator with its own
// description would append CLI11's rendering of its table to it.
CLI::Validator color_choice() { return CLI::CheckedTransformer(color_modes).description(""); }

// Options a user's CI line may pass one after another (--env-var a=1 --env-var b=2).
template <typename T>
CLI::Option *repeatable(CLI::App *cmd, const char *names, std::vector<T> &into, const char *type, const char *text) {
    return cmd->add_option(names, into, text)->type_name(type)->allow_extra_args(false)->take_all();
}

CLI::Option *add_run(CLI::App &app, RunOptions &o, std::string &bail_modifiers) {
    CLI::App *cmd = app.add_subcommand("run", "run every request of a collection");
    cmd->add_option("collection", o.plan.collection, "Postman v2.0/v2.1 collection or collection file")->required();
    cmd->add_option("-e,--environment", o.plan.environment,
                    "Variables: a Postman environment file (every value, even one marked disabled, as newman), or a flat "
                    "JSON object of names and values.")
        ->type_name("<file>");
    cmd->add_option("-g,--globals", o.plan.globals, "Global variables, in the same forms as -e.")->type_name("<file>");
    repeatable(cmd, "--env-var", o.plan.env_vars, "<name=value>",
               "Sets an environment variable over the -e file's; repeatable.");
    repeatable(cmd, "--global-var", o.plan.global_vars, "<name=value>", "Sets a global variable; repeatable.");
    repeatable(cmd, "--folder", o.plan.folders, "<name>",
               "Runs only this folder (by name, or by its path a/b) or request; repeatable. A name that matches "
               "nothing is an error.");
    cmd->add_option("-d,--iteration-data", o.iteration_data,
                    "One iteration per row of this file (a JSON array of objects, or CSV with a header row); its "
                    "values win over every other variable for that iteration.")
        ->type_name("<file>");
    cmd->add_option("-n,--iteration-count", o.iterations,
                    "Runs the selection this many times (default 1, or one per data row; past the last row the "
                    "last row is used).")
        ->type_name("<n>");
    cmd->add_option("--delay-request", o.delay_ms, "Waits this long between requests.")->type_name("<ms>");
    cmd->add_option("--timeout-request", o.timeout_request_ms,
                    "Time limit of each request in milliseconds, rounded up to whole seconds (1500 allows 2 s). "
                    "Default: none, as newman.")
        ->type_name("<ms>");
    cmd->add_option("--timeout-script", o.timeout_script_ms,
                    "Time limit of each pre-request or test script in milliseconds; a script past it fails. "
                    "Default: none, as newman.")
        ->type_name("<ms>");
    cmd->add_option("--timeout", o.timeout_run_ms,
                    "Time limit of the whole run; what has not started by then is not sent, and the run fails.")
        ->type_name("<ms>");
    cmd->add_flag("-k,--insecure", o.insecure, "Does not verify TLS certificates.");
    cmd->add_option("--ssl-client-cert", o.ssl_client_cert,
                    "Client certificate (PEM) shown to every server that asks for one; it may hold the key too.")
        ->type_name("<path>");
    cmd->add_option("--ssl-client-key", o.ssl_client_key, "Private key (PEM) of --ssl-client-cert.")
        ->type_name("<path>")
        ->needs("--ssl-client-cert");
    cmd->add_option("--ssl-extra-ca-certs", o.ssl_extra_ca_certs,
                    "Authorities (PEM) trusted beside the system's, as newman adds them.")
        ->type_name("<path>");
    cmd->add_flag("--ignore-redirects", o.ignore_redirects, "Does not follow redirects.");
    CLI::Option *bail = cmd->add_option("--bail", bail_modifiers,
                    "Stops at the first failed request. newman's modifiers (folder, failure) are accepted; an "
                    "unknown folder always stops the run.")
        ->type_name("[folder|failure]")
        ->expected(0, 1)
        ->check(CLI::IsMember({"folder", "failure", "folder,failure", "failure,folder"}).description(""));
    cmd->add_flag("-x,--suppress-exit-code", o.suppress_exit_code,
                  "Exits with 0 even when requests failed (not when a report could not be written).");
    cmd->add_option("-r,--reporters", o.reporters, "Reporters, comma-separated: cli (default), json, junit.")
        ->type_name("<list>")
        ->delimiter(',')
        ->allow_extra_args(false);
    cmd->add_option("--reporter-json-export", o.json_export,
                    "Where the json reporter writes (default: newman/newman-run-report-<time>.json).")
        ->type_name("<path>");
    cmd->add_option("--reporter-junit-export", o.junit_export,
                    "Where the junit reporter writes (default: newman/newman-run-report-<time>.xml).")
        ->type_name("<path>");
    cmd->add_flag("--reporter-cli-no-summary", o.cli_no_summary, "The cli reporter leaves out the summary table.");
    cmd->add_flag("--reporter-cli-no-failures", o.cli_no_failures, "The cli reporter leaves out the failure list.");
    cmd->add_flag("--reporter-cli-no-banner", o.cli_no_banner, "The cli reporter leaves out its first line.");
    cmd->add_option("--color", o.color, "Colour on, off or auto (a terminal). NO_COLOR, when set, always wins.")
        ->type_name("<on|off|auto>")
        ->transform(color_choice());
    cmd->add_flag("--disable-unicode", o.disable_unicode, "Plain ASCII symbols and table lines.");
    cmd->add_flag("--verbose", o.verbose, "Shows each request's headers, its response headers and its timing phases.");
    cmd->add_flag("--silent", o.silent, "No cli reporter output and no note about skipped scripts.");
    cmd->add_option("--export-environment", o.export_environment,
                    "Writes the environment as a Postman environment file after the run.")
        ->type_name("<path>");
    cmd->add_option("--export-globals", o.export_globals, "Writes the globals the same way.")->type_name("<path>");
    cmd->add_option("--export-collection", o.export_collection,
                    "Writes the collection as a Postman v2.1 file after the run.")
        ->type_name("<path>");
    cmd->add_option("--cookie-jar", o.cookie_jar,
                    "Starts the run's cookie jar from this file (newman's JSON form). Cookies a response sets go "
                    "with later requests of the run either way.")
        ->type_name("<path>");
    cmd->add_option("--export-cookie-jar", o.export_cookie_jar, "Writes the run's cookie jar to this file after the run.")
        ->type_name("<path>");
    cmd->add_option("--working-dir", o.working_dir,
                    "Directory that relative file paths of form-data and file bodies are read from.")
        ->type_name("<path>");
    cmd->add_flag("--no-insecure-file-read", o.no_insecure_file_read,
                  "Refuses a request whose form-data or file body names a file outside the working directory "
                  "(links resolved), as newman's flag does; such a request is not sent.");
    cmd->add_option("--max-response-size", o.max_response_size,
                    "Fails a request whose response body (or header block) passes this many bytes, stopping its "
                    "transfer there, so that a server that never stops cannot fill the memory. Default: no limit.")
        ->type_name("<bytes>");
    cmd->add_option("--assert-status", o.assert_status,
                    "Statuses a request must have, comma-separated: classes (2xx), codes (404), ranges (200-299). "
                    "Any other status counts as a failure.")
        ->type_name("<list>");
    return bail;
}

void add_request(CLI::App &app, RequestOptions &o) {
    CLI::App *cmd = app.add_subcommand("request", "send one request and print its body");
    cmd->add_option("words", o.words, "[METHOD] <url>")->required()->expected(1, 2);
    repeatable(cmd, "-H,--header", o.headers, "<\"Name: value\">", "Adds a header; repeatable, equal names all sent. \"Name:\" with no value removes a header the transfer "
               "would add (Accept), as with curl.");
    CLI::Option *data = cmd->add_option("-d,--data", o.data, "Sends this text as the body, as it is.")->type_name("<body>");
    CLI::Option *json = cmd->add_option("--json", o.json, "Sends this JSON text with Content-Type: application/json.")
                            ->type_name("<body>");
    CLI::Option *form = repeatable(cmd, "--form", o.form, "<name=value>",
                                   "Adds a multipart/form-data field; name=@path sends a file. Repeatable.");
    CLI::Option *file = cmd->add_option("--data-file", o.data_file, "Sends the bytes of this file as the body.")
                            ->type_name("<path>");
    data->excludes(json)->excludes(form)->excludes(file);
    json->excludes(form)->excludes(file);
    form->excludes(file);
    cmd->add_option("--auth", o.auth, "bearer:<token>, or basic:<user>:<password>.")->type_name("<auth>");
    cmd->add_option("-e,--environment", o.environment, "Variables for {{name}}, as for run.")->type_name("<file>");
    repeatable(cmd, "--env-var", o.env_vars, "<name=value>", "Sets a variable; repeatable.");
    cmd->add_option("--timeout", o.timeout_s, "Time limit in seconds, rounded up (default 30).")->type_name("<s>");
    cmd->add_option("--max-filesize", o.max_filesize,
                    "Fails when the response body (or header block) passes this many bytes, stopping the transfer "
                    "there, as with curl. Default: no limit.")
        ->type_name("<bytes>");
    cmd->add_flag("-k,--insecure", o.insecure, "Does not verify TLS certificates.");
    cmd->add_flag("--no-follow", o.no_follow, "Does not follow redirects.");
    cmd->add_flag("-i,--include", o.include, "Prints the status line and the response headers before the body.");
    cmd->add_flag("--timing", o.timing, "Prints the phases of the transfer to standard error.");
    cmd->add_option("--query", o.query,
                    "Prints only this value of a JSON body: JSON Pointer (/a/0), path ($.a[0], .a.0) or key.")
        ->type_name("<path>");
    cmd->add_option("-o,--output", o.output, "Writes the body (or the --query value) to this file.")->type_name("<file>");
    cmd->add_flag("--no-history", o.no_history, "Does not record the request in the history.");
    cmd->add_option("--color", o.color, "Colour of -i output: on, off or auto.")
        ->type_name("<on|off|auto>")
        ->transform(color_choice());
}

int usage(const std::string &command, const std::string &message) {
    std::string where = command.empty() ? "quorvane" : "quorvane " + command;
    std::fprintf(stderr, "%s: %s (see 'quorvane help%s')\n", where.c_str(), message.c_str(),
                 command.empty() ? "" : (" " + command).c_str());
    return exit_usage;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app("send HTTP requests and run API collections", "quorvane");
    app.formatter(std::make_shared<CLI::FormatterLambda>(
        [](const CLI::App *a, const std::string &, CLI::AppFormatMode) { return manual_page(a); }));
    app.set_version_flag("--version", "quorvane " QUORVANE_VERSION);
    app.require_subcommand(1);

    RunOptions run;
    RequestOptions request;
    std::string bail_modifiers;
    CLI::Option *bail = add_run(app, run, bail_modifiers);
    add_request(app, request);

    std::string postman_in, collection_out, variables_out;
    CLI::App *import = app.add_subcommand("import", "convert a Postman collection into a collection file");
    import->add_option("postman-file", postman_in, "Postman v2.0/v2.1 collection")->required();
    import->add_option("-o,--output", collection_out, "The collection file to write.")->type_name("<file>")->required();
    import->add_option("--variables-out", variables_out, "Writes the collection's variables as an environment file.")
        ->type_name("<file>");

    std::string collection_in, postman_out;
    CLI::App *export_cmd = app.add_subcommand("export", "convert a collection file into a Postman collection");
    export_cmd->add_option("collection-file", collection_in, "collection file")->required();
    export_cmd->add_option("-o,--output", postman_out, "The Postman v2.1 file to write.")->type_name("<file>")->required();

    int limit = 0;
    bool history_json = false;
    CLI::App *history = app.add_subcommand("history", "list the requests sent with quorvane request");
    history->add_option("--limit", limit, "Lists only the newest n (default: all).")->type_name("<n>");
    history->add_flag("--json", history_json, "Prints the list as a JSON array.");

    std::string help_topic;
    CLI::App *help = app.add_subcommand("help", "show the manual of a command");
    help->add_option("command", help_topic, "command");

    std::string command;
    try {
        app.parse(argc, argv);
        for (CLI::App *sub : app.get_subcommands()) command = sub->get_name();
        if (help->parsed()) {
            const CLI::App *topic = &app;
            if (!help_topic.empty()) {
                topic = nullptr;
                for (const CLI::App *sub : app.get_subcommands({})) {
                    if (sub->get_name() == help_topic) topic = sub;
                }
                if (!topic) return usage("help", "no command '" + help_topic + "'");
            }
            std::fputs(manual_page(topic).c_str(), stdout);
            return exit_ok;
        }
        run.bail = bail->count() > 0;
        run.iterations_given = app.get_subcommand("run")->count("-n") > 0;
        if (app.got_subcommand("run")) return run_command(run);
        if (app.got_subcommand("request")) return request_command(request);
        if (app.got_subcommand("import")) return import_command(postman_in, collection_out, variables_out);
        if (app.got_subcommand("export")) return export_command(collection_in, postman_out);
        return history_command(limit, history_json);
    } catch (const CLI::CallForHelp &) {
        std::fputs(manual_page(app.get_subcommands().empty() ? &app : app.get_subcommands().back()).c_str(), stdout);
        return exit_ok;
    } catch (const CLI::CallForVersion &) {
        std::printf("quorvane %s\n", QUORVANE_VERSION);
        return exit_ok;
    } catch (const CLI::ParseError &e) {
        for (CLI::App *sub : app.get_subcommands()) command = sub->get_name();
        return usage(command, e.what());
    } catch (const CliError &e) {
        std::fprintf(stderr, "%s: %s\n", command.empty() ? "quorvane" : ("quorvane " + command).c_str(),
                     e.message.c_str());
        return e.status;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "quorvane: %s\n", e.what());
        return exit_failed;
    }
}
