// A fuzzed history.json in the storage directory, read by api_init.
// Invariants: the listing holds exactly the records worked out independently
// from the file (at most 500, newest first); recording one more entry
// rewrites the file so that the next api_init reads back that entry followed
// by everything listed before.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support.h"

namespace {

constexpr std::size_t max_entries = 500;
constexpr const char *added = R"({"method":"PUT","url":"http://127.0.0.1/added","status":201,"ts":7})";

struct Record {
    std::string method, url;
    std::int32_t status;
    bool has_ts;
    std::uint64_t ts;
};

Record record_of(yyjson_val *v) {
    Record r{fuzz_cstr_member(v, "method", "GET"), fuzz_cstr_member(v, "url", ""), 0, false, 0};
    yyjson_val *status = yyjson_obj_get(v, "status");
    // Only the low 32 bits count, whatever the sign.
    if (yyjson_is_int(status))
        r.status = static_cast<std::int32_t>(static_cast<std::uint32_t>(yyjson_get_uint(status)));
    yyjson_val *ts = yyjson_obj_get(v, "ts");
    r.has_ts = yyjson_is_int(ts);
    if (r.has_ts) r.ts = yyjson_get_uint(ts);
    return r;
}

// The listing as records; a listing that is not an array of complete
// records breaks the invariant at once.
std::vector<Record> listed(const std::string &text) {
    FuzzDoc doc = fuzz_parse(text);
    yyjson_val *arr = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    FUZZ_CHECK(yyjson_is_arr(arr), "api_history_list_json gave " + text);
    std::vector<Record> records;
    std::size_t idx, max;
    yyjson_val *v;
    yyjson_arr_foreach(arr, idx, max, v) {
        FUZZ_CHECK(yyjson_is_str(yyjson_obj_get(v, "method")) && yyjson_is_str(yyjson_obj_get(v, "url")) &&
                       yyjson_is_int(yyjson_obj_get(v, "status")) && yyjson_is_uint(yyjson_obj_get(v, "ts")),
                   "incomplete record " + fuzz_json(v));
        records.push_back(record_of(v));
    }
    return records;
}

bool same(const Record &got, const Record &want) {
    return got.method == want.method && got.url == want.url && got.status == want.status &&
           (!want.has_ts || got.ts == want.ts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string dir = fuzz_temp_path("storage");
    const std::string file = dir + "/history.json";
    mkdir(dir.c_str(), 0700);
    fuzz_write_file(file, data, size);
    fuzz_reset(dir.c_str());

    FuzzDoc doc = fuzz_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    std::vector<Record> expected;
    yyjson_arr_iter it = yyjson_arr_iter_with(root);  // empty unless an array
    while (yyjson_val *v = yyjson_arr_iter_next(&it)) {
        if (expected.size() < max_entries) expected.push_back(record_of(v));
    }

    std::string first_text = api_history_list_json(0);
    std::vector<Record> first = listed(first_text);
    FUZZ_CHECK(api_history_count() == static_cast<int>(first.size()), "count differs from the listing");
    FUZZ_CHECK(first.size() == expected.size(),
               "listed " + std::to_string(first.size()) + " records, expected " + std::to_string(expected.size()));
    for (std::size_t i = 0; i < first.size(); ++i)
        FUZZ_CHECK(same(first[i], expected[i]), "record " + std::to_string(i) + " of " + first_text);
    if (!first.empty()) FUZZ_CHECK(listed(api_history_list_json(1)).size() == 1, "a limit of 1 listed more");

    FUZZ_CHECK(api_history_add(added) == 1, api_last_error());
    fuzz_reset(dir.c_str());
    std::string again_text = api_history_list_json(0);
    std::vector<Record> again = listed(again_text);
    std::vector<Record> want{record_of(yyjson_doc_get_root(fuzz_parse(added).get()))};
    for (std::size_t i = 0; i < first.size() && want.size() < max_entries; ++i) want.push_back(first[i]);
    FUZZ_CHECK(again.size() == want.size(),
               "after one more entry the file holds " + std::to_string(again.size()) + " records");
    for (std::size_t i = 0; i < again.size(); ++i)
        FUZZ_CHECK(same(again[i], want[i]), "reloaded record " + std::to_string(i) + " of " + again_text);
    return 0;
}
