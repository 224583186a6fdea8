#include "iteration_data.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <csv.h>

#include "cli_error.h"
#include "json_doc.h"
#include "quorvane_apiclient.h"

namespace {

std::vector<DataRow> json_rows(const std::string &text, const std::string &path) {
    JsonDoc doc = parse_json(text);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(root)) usage_error("iteration data '" + path + "' must be a JSON array of objects, or CSV");
    std::vector<DataRow> rows;
    yyjson_val *obj;
    yyjson_arr_iter it = yyjson_arr_iter_with(root);
    while ((obj = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(obj)) usage_error("iteration data '" + path + "': every element must be an object");
        DataRow row;
        yyjson_obj_iter members = yyjson_obj_iter_with(obj);
        for (yyjson_val *k; (k = yyjson_obj_iter_next(&members));) {
            yyjson_val *v = yyjson_obj_iter_get_val(k);
            std::string text_value = json_scalar_text(v);
            if (yyjson_is_arr(v) || yyjson_is_obj(v)) {
                char *written = yyjson_val_write(v, 0, nullptr);
                text_value = written ? written : "";
                std::free(written);
            }
            row.emplace_back(yyjson_get_str(k), text_value);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Fields as they are: no trimming of blanks outside quotes.
int no_space(unsigned char) { return 0; }

struct CsvTable {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> current;
};

void csv_field(void *data, std::size_t len, void *table) {
    static_cast<CsvTable *>(table)->current.emplace_back(static_cast<const char *>(data), len);
}

void csv_record(int, void *table) {
    auto *t = static_cast<CsvTable *>(table);
    t->records.push_back(std::move(t->current));
    t->current.clear();
}

std::vector<DataRow> csv_rows(std::string text, const std::string &path) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a byte order mark from spreadsheet exports
    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) fail(exit_failed, "out of memory");
    csv_set_space_func(&parser, no_space);
    CsvTable table;
    bool ok = csv_parse(&parser, text.data(), text.size(), csv_field, csv_record, &table) == text.size() &&
              csv_fini(&parser, csv_field, csv_record, &table) == 0;
    std::string why = ok ? "" : csv_strerror(csv_error(&parser));
    csv_free(&parser);
    if (!ok) usage_error("iteration data '" + path + "' is not valid CSV: " + why);
    std::vector<DataRow> rows;
    if (table.records.empty()) return rows;
    const std::vector<std::string> &names = table.records[0];
    for (std::size_t r = 1; r < table.records.size(); ++r) {
        DataRow row;
        for (std::size_t c = 0; c < names.size() && c < table.records[r].size(); ++c) {
            if (!names[c].empty()) row.emplace_back(names[c], table.records[r][c]);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::vector<DataRow> load_iteration_data(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) usage_error("cannot read iteration data '" + path + "': " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && s[first] == '[') return json_rows(s, path);
    return csv_rows(std::move(s), path);
}

DataScope::DataScope(const DataRow *row) {
    if (!row) return;
    JsonDoc env = parse_json(api_env_json());
    yyjson_val *before = yyjson_doc_get_root(env.get());
    for (const auto &[name, value] : *row) {
        // A name the row brings in is unset again after it: one set to ""
        // would expand to nothing, where an unset one stays as written.
        yyjson_val *old = yyjson_obj_get(before, name.c_str());
        saved_.push_back({name, yyjson_is_str(old) ? yyjson_get_str(old) : "", old != nullptr});
        if (!api_env_set(name.c_str(), value.c_str())) fail(exit_failed, api_last_error());
    }
}

DataScope::~DataScope() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->was_set) {
            api_env_set(it->name.c_str(), it->value.c_str());
        } else {
            api_env_unset(it->name.c_str());
        }
    }
}
