// quorvane import, export and history.
#include <cstdio>
#include <ctime>
#include <string>

#include "cli_error.h"
#include "commands.h"
#include "json_doc.h"
#include "quorvane_apiclient.h"
#include "variables.h"

namespace {

void init_without_history() {
    if (!api_init(nullptr)) fail(exit_failed, api_last_error());
}

// Failures to read the input are usage errors; the library names the file.
void check_readable(const std::string &path, const char *what) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) usage_error(std::string("cannot read ") + what + " '" + path + "'");
    std::fclose(f);
}

// The report's counts and one line per note.
void print_report(const char *verb, const std::string &from, const std::string &to) {
    JsonDoc report = parse_json(api_postman_report_json());
    yyjson_val *r = yyjson_doc_get_root(report.get());
    long long requests = json_int(r, "requests", 0), items = json_int(r, "items", 0);
    long long variables = json_int(r, "variables", 0), scripts = json_int(r, "scripts", 0);
    yyjson_val *notes = yyjson_obj_get(r, "notes");
    std::printf("%s %s -> %s: %lld of %lld requests", verb, from.c_str(), to.c_str(), items, requests);
    if (variables > 0) std::printf(", %lld collection variables", variables);
    if (scripts > 0) std::printf(", %lld requests with scripts (kept, not run)", scripts);
    std::printf(", %zu notes\n", yyjson_arr_size(notes));
    yyjson_val *note;
    yyjson_arr_iter it = yyjson_arr_iter_with(notes);
    while ((note = yyjson_arr_iter_next(&it))) {
        std::string where = json_str(note, "folder");
        const char *name = json_str(note, "name");
        if (*name) where += where.empty() ? name : std::string("/") + name;
        if (where.empty()) where = "(collection)";
        std::printf("  %s: %s: %s\n", where.c_str(), json_str(note, "what"), json_str(note, "detail"));
    }
}

}  // namespace

int import_command(const std::string &postman_file, const std::string &output, const std::string &variables_out) {
    check_readable(postman_file, "Postman file");
    init_without_history();
    if (!api_import_postman_full(postman_file.c_str())) usage_error(api_last_error());
    print_report("imported", postman_file, output);
    int status = exit_ok;
    if (!api_collection_save(output.c_str())) {
        std::fprintf(stderr, "quorvane import: %s\n", api_last_error());
        status = exit_failed;
    }
    // The collection file keeps the collection's variables as written, and
    // quorvane run sets them; --variables-out also writes them as an
    // environment file, for other hosts.
    if (!variables_out.empty()) {
        std::FILE *f = std::fopen(variables_out.c_str(), "w");
        bool ok = f && std::fputs(api_env_json(), f) >= 0;
        ok = f && std::fclose(f) == 0 && ok;
        if (!ok) {
            std::fprintf(stderr, "quorvane import: could not write '%s'\n", variables_out.c_str());
            status = exit_failed;
        }
    }
    api_cleanup();
    return status;
}

int export_command(const std::string &collection_file, const std::string &output) {
    check_readable(collection_file, "collection file");
    init_without_history();
    if (!api_collection_load(collection_file.c_str())) usage_error(api_last_error());
    int status = exit_ok;
    if (api_export_postman_full(output.c_str())) {
        print_report("exported", collection_file, output);
    } else {
        std::fprintf(stderr, "quorvane export: %s\n", api_last_error());
        status = exit_failed;
    }
    api_cleanup();
    return status;
}

int history_command(int limit, bool json) {
    if (limit < 0) usage_error("--limit must be 0 (all) or more");
    std::string why;
    std::string dir = history_directory(why);
    if (dir.empty()) fail(exit_failed, "history: " + why);
    if (!api_init(dir.c_str())) fail(exit_failed, api_last_error());
    const char *list = api_history_list_json(limit);
    if (json) {
        std::printf("%s\n", list);
    } else {
        JsonDoc doc = parse_json(list);
        yyjson_val *entry;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_doc_get_root(doc.get()));
        while ((entry = yyjson_arr_iter_next(&it))) {
            std::time_t ts = static_cast<std::time_t>(json_int(entry, "ts", 0));
            std::tm tm{};
            localtime_r(&ts, &tm);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
            long long status = json_int(entry, "status", 0);
            std::string shown = status > 0 ? std::to_string(status) : "---";
            std::printf("%s  %s  %-7s %s\n", when, shown.c_str(), json_str(entry, "method", "GET"), json_str(entry, "url"));
        }
    }
    api_cleanup();
    return exit_ok;
}
