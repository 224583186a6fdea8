#include "history_fixture.h"

#include <cstring>
#include <ctime>

#include <yyjson.h>

std::vector<Record> HistoryTest::listed(int limit) {
    const char *text = api_history_list_json(limit);
    std::vector<Record> out;
    yyjson_doc *doc = yyjson_read(text, std::strlen(text), 0);
    yyjson_val *root = yyjson_doc_get_root(doc);
    EXPECT_TRUE(yyjson_is_arr(root)) << text;
    std::size_t idx, max;
    yyjson_val *v;
    yyjson_arr_foreach(root, idx, max, v) {
        out.push_back({yyjson_get_str(yyjson_obj_get(v, "method")), yyjson_get_str(yyjson_obj_get(v, "url")),
                       yyjson_get_sint(yyjson_obj_get(v, "status")), yyjson_get_uint(yyjson_obj_get(v, "ts"))});
    }
    yyjson_doc_free(doc);
    return out;
}

std::uint64_t HistoryTest::now() { return static_cast<std::uint64_t>(std::time(nullptr)); }

std::string record_json(const std::string &method, const std::string &url, long long status, unsigned long long ts) {
    return R"({"method":")" + method + R"(","url":")" + url + R"(","status":)" + std::to_string(status) +
           R"(,"ts":)" + std::to_string(ts) + "}";
}
