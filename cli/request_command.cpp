// quorvane request: one request from the command line, its body on
// standard output.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli_error.h"
#include "commands.h"
#include "engine_adapter.h"
#include "json_doc.h"
#include "paths.h"
#include "quorvane_apiclient.h"
#include "report_file.h"
#include "variables.h"

namespace {

bool is_token(const std::string &s) {
    if (s.empty()) return false;
    for (char c : s) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c);
        if (!ok) return false;
    }
    return true;
}

std::string upper(std::string s) {
    for (char &c : s) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return s;
}

void require_regular_file(const std::string &path, const char *what) {
    std::string problem = regular_file_problem(path, what);
    if (!problem.empty()) usage_error(problem);
}

void add_headers(yyjson_mut_doc *d, yyjson_mut_val *root, const std::vector<std::string> &lines) {
    if (lines.empty()) return;
    yyjson_mut_val *headers = yyjson_mut_obj(d);
    for (const std::string &line : lines) {
        std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (colon == std::string::npos || !is_token(name)) usage_error("-H expects \"Name: value\", got '" + line + "'");
        std::size_t start = line.find_first_not_of(" \t", colon + 1);
        std::string value = start == std::string::npos ? "" : line.substr(start);
        // Equal names are kept apart: the library sends each one.
        yyjson_mut_obj_add(headers, yyjson_mut_strcpy(d, name.c_str()), yyjson_mut_strcpy(d, value.c_str()));
    }
    yyjson_mut_obj_add_val(d, root, "headers", headers);
}

// --form name=value, or name=@path for a file part.
std::string form_parts(const std::vector<std::string> &fields) {
    JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *parts = yyjson_mut_arr(d);
    yyjson_mut_doc_set_root(d, parts);
    for (const std::string &field : fields) {
        auto [name, value] = split_assignment(field, "--form");
        yyjson_mut_val *part = yyjson_mut_arr_add_obj(d, parts);
        yyjson_mut_obj_add_strcpy(d, part, "name", name.c_str());
        if (!value.empty() && value[0] == '@') {
            require_regular_file(value.substr(1), "form file");
            yyjson_mut_obj_add_strcpy(d, part, "file", value.c_str() + 1);
        } else {
            yyjson_mut_obj_add_strcpy(d, part, "value", value.c_str());
        }
    }
    return json_write(d);
}

void add_auth(yyjson_mut_doc *d, yyjson_mut_val *root, const std::string &auth) {
    if (auth.empty()) return;
    yyjson_mut_val *obj = yyjson_mut_obj(d);
    if (auth.rfind("bearer:", 0) == 0) {
        yyjson_mut_obj_add_str(d, obj, "type", "bearer");
        yyjson_mut_obj_add_strcpy(d, obj, "token", auth.c_str() + 7);
    } else if (auth.rfind("basic:", 0) == 0 && auth.find(':', 6) != std::string::npos) {
        std::size_t colon = auth.find(':', 6);
        yyjson_mut_obj_add_str(d, obj, "type", "basic");
        yyjson_mut_obj_add_strcpy(d, obj, "user", auth.substr(6, colon - 6).c_str());
        yyjson_mut_obj_add_strcpy(d, obj, "pass", auth.c_str() + colon + 1);
    } else {
        usage_error("--auth expects bearer:<token> or basic:<user>:<password>");
    }
    yyjson_mut_obj_add_val(d, root, "auth", obj);
}

// A body shows on a terminal only when it is text: no NUL, valid UTF-8.
bool is_text(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == 0) return false;
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > bytes.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

void print_head(const Style &s) {
    std::string version = response_http_version();
    int status = api_response_status();
    std::string line = (version.empty() ? std::string("HTTP") : version) + " " + std::to_string(status);
    if (const char *phrase = reason_phrase(status); *phrase) line += std::string(" ") + phrase;
    std::printf("%s\n", s.bold(line).c_str());
    JsonDoc headers = parse_json(api_response_headers_json());
    yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_doc_get_root(headers.get()));
    for (yyjson_val *k; (k = yyjson_obj_iter_next(&it));) {
        std::printf("%s: %s\n", s.paint("36", yyjson_get_str(k)).c_str(), json_scalar_text(yyjson_obj_iter_get_val(k)).c_str());
    }
    std::printf("\n");
}

void print_timing() {
    Timing t = response_timing();
    const std::pair<const char *, long long> phases[] = {{"dns", t.dns},   {"connect", t.connect},   {"tls", t.tls},
                                                         {"wait", t.wait}, {"download", t.download}, {"total", t.total}};
    for (const auto &[name, us] : phases) std::fprintf(stderr, "%-9s %9.3f ms\n", name, static_cast<double>(us) / 1000.0);
}

std::string build_config(const RequestOptions &o, const std::string &method, const std::string &url) {
    JsonMutDoc doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    yyjson_mut_obj_add_strcpy(d, root, "url", url.c_str());
    yyjson_mut_obj_add_strcpy(d, root, "method", method.c_str());
    add_headers(d, root, o.headers);
    const char *body_type = "raw";
    std::string body;
    if (!o.json.empty()) {
        body_type = "json";
        body = o.json;
    } else if (!o.form.empty()) {
        body_type = "multipart";
        body = form_parts(o.form);
    } else if (!o.data_file.empty()) {
        require_regular_file(o.data_file, "data file");
        body_type = "file";
        body = o.data_file;
    } else {
        body = o.data;
    }
    yyjson_mut_obj_add_strcpy(d, root, "body", body.c_str());
    yyjson_mut_obj_add_str(d, root, "body_type", body_type);
    add_auth(d, root, o.auth);
    if (o.timeout_s > 0) yyjson_mut_obj_add_int(d, root, "timeout_s", static_cast<int>(std::ceil(o.timeout_s)));
    if (o.insecure) yyjson_mut_obj_add_int(d, root, "insecure", 1);
    if (o.no_follow) yyjson_mut_obj_add_int(d, root, "follow_redirects", 0);
    return json_write(d);
}

void init_library(bool record) {
    if (record) {
        std::string why;
        std::string dir = history_directory(why);
        if (!dir.empty() && api_init(dir.c_str())) return;
        if (why.empty()) why = api_last_error();
        std::fprintf(stderr, "quorvane request: history not recorded: %s\n", why.c_str());
    }
    if (!api_init(nullptr)) fail(exit_failed, api_last_error());
}

}  // namespace

void check_response_limit(long long bytes, const char *flag) {
    if (bytes < 0) usage_error(std::string(flag) + " takes a number of bytes, 0 (no limit) or more");
}

void apply_response_limit(long long bytes) {
    if (bytes <= 0) return;
    const std::string options = "{\"max_response_bytes\":" + std::to_string(bytes) + "}";
    if (!api_configure(options.c_str())) fail(exit_failed, api_last_error());
}

int request_command(const RequestOptions &o) {
    if (o.words.empty() || o.words.size() > 2) usage_error("expects [METHOD] <url>");
    std::string url = o.words.back();
    bool has_body = !o.data.empty() || !o.json.empty() || !o.form.empty() || !o.data_file.empty();
    std::string method = o.words.size() == 2 ? upper(o.words[0]) : has_body ? "POST" : "GET";
    if (!is_token(method)) usage_error("'" + o.words[0] + "' is not an HTTP method");
    if (o.timeout_s < 0 || !std::isfinite(o.timeout_s)) usage_error("--timeout takes seconds, more than 0");
    check_response_limit(o.max_filesize, "--max-filesize");
    build_config(o, method, url);  // checks every argument before anything is touched


    init_library(!o.no_history);
    // --auth takes placeholders like the rest of the line; {{$guid}} and the like work too.
    if (!api_configure(R"({"expand_auth":true,"dynamic_variables":true,"nested_variables":true})")) fail(exit_failed, api_last_error());
    apply_response_limit(o.max_filesize);
    if (!o.environment.empty()) load_variables_file(o.environment, "environment file", false);
    for (const std::string &text : o.env_vars) {
        auto [name, value] = split_assignment(text, "--env-var");
        if (!api_env_set(name.c_str(), value.c_str())) fail(exit_failed, api_last_error());
    }
    Style style;
    style.color = use_color(o.color, stdout);
    std::string config = build_config(o, method, url);

    bool completed = api_request(config.c_str()) == 1;
    std::string error = completed ? "" : api_last_error();
    if (!o.no_history) {
        JsonMutDoc entry(yyjson_mut_doc_new(nullptr));
        yyjson_mut_val *root = yyjson_mut_obj(entry.get());
        yyjson_mut_doc_set_root(entry.get(), root);
        yyjson_mut_obj_add_strcpy(entry.get(), root, "method", method.c_str());
        yyjson_mut_obj_add_strcpy(entry.get(), root, "url", url.c_str());
        api_history_add(json_write(entry.get()).c_str());
    }
    int status = exit_ok;
    if (!completed) {
        std::fprintf(stderr, "quorvane request: %s\n", error.c_str());
        status = exit_failed;
    } else {
        if (o.include) print_head(style);
        std::string_view body = response_bytes();
        // Opened only now: a failed request leaves an existing file as it was.
        FileHandle out;
        if (!o.output.empty()) out = open_report_file(o.output, "output file");
        if (!o.query.empty()) {
            const char *value = api_json_query(o.query.c_str());
            if (*value) {
                std::fprintf(out ? out.get() : stdout, "%s\n", value);
            } else {
                std::fprintf(stderr, "quorvane request: --query '%s' selected nothing (no such value, or the body is not JSON)\n",
                             o.query.c_str());
                status = exit_failed;
            }
        } else if (out) {
            std::fwrite(body.data(), 1, body.size(), out.get());
        } else if (is_terminal(stdout) && !is_text(body)) {
            std::fprintf(stderr, "quorvane request: binary body of %zu bytes not shown on a terminal; use -o <file> or a pipe\n",
                         body.size());
        } else {
            std::fwrite(body.data(), 1, body.size(), stdout);
            // Keeps the shell prompt on its own line; pipes get the bytes as they are.
            if (is_terminal(stdout) && !body.empty() && body.back() != '\n') std::printf("\n");
        }
        if (o.timing) print_timing();
        std::string why;
        if (out && !close_report_file(out, o.output, why)) {
            std::fprintf(stderr, "quorvane request: %s\n", why.c_str());
            status = exit_failed;
        }
    }
    std::fflush(stdout);
    api_cleanup();
    return status;
}
